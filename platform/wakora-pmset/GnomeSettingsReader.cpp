#include "GnomeSettingsReader.h"

#include <gio/gio.h>

#include <memory>

namespace {

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SchemaUnref {
    void operator()(GSettingsSchema *schema) const { g_settings_schema_unref(schema); }
};
struct VariantUnref {
    void operator()(GVariant *variant) const { g_variant_unref(variant); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

// One schema's settings, or none when the schema is not installed: GIO
// aborts the process for a schema or key it does not know, so both are
// looked up before anything is read.
class SchemaSettings
{
public:
    explicit SchemaSettings(const char *id)
    {
        GSettingsSchemaSource *source = g_settings_schema_source_get_default(); // not ours to free
        if (!source)
            return;
        m_schema.reset(g_settings_schema_source_lookup(source, id, TRUE));
        // A relocatable schema (no fixed path) would need a path we do not have.
        if (m_schema && g_settings_schema_get_path(m_schema.get()))
            m_settings.reset(g_settings_new_full(m_schema.get(), nullptr, nullptr));
    }

    std::optional<qint64> integer(const char *key) const
    {
        const Variant value = read(key);
        if (value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT32))
            return g_variant_get_int32(value.get());
        if (value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_UINT32))
            return g_variant_get_uint32(value.get());
        return std::nullopt;
    }

    // Enumerated keys read as their nick ("suspend").
    std::optional<QString> string(const char *key) const
    {
        const Variant value = read(key);
        if (value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING))
            return QString::fromUtf8(g_variant_get_string(value.get(), nullptr));
        return std::nullopt;
    }

private:
    Variant read(const char *key) const
    {
        if (!m_settings || !g_settings_schema_has_key(m_schema.get(), key))
            return nullptr;
        return Variant(g_settings_get_value(m_settings.get(), key));
    }

    std::unique_ptr<GSettingsSchema, SchemaUnref> m_schema;
    std::unique_ptr<GSettings, ObjectUnref> m_settings;
};

} // namespace

namespace GnomeSettingsReader {

GnomeIdleValues read(bool onBattery)
{
    GnomeIdleValues values;
    const SchemaSettings power("org.gnome.settings-daemon.plugins.power");
    values.sleepTimeoutSeconds
        = power.integer(onBattery ? "sleep-inactive-battery-timeout" : "sleep-inactive-ac-timeout");
    values.sleepType = power.string(onBattery ? "sleep-inactive-battery-type" : "sleep-inactive-ac-type");
    values.idleDelaySeconds = SchemaSettings("org.gnome.desktop.session").integer("idle-delay");
    return values;
}

} // namespace GnomeSettingsReader
