#include "DesktopEntry.h"
#include "FuzzCheck.h"

#include <QLocale>

// A desktop entry file as the running-application reader finds it under
// XDG_DATA_DIRS: parsed, named for a few locales, and its program picked out
// of Exec.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QList<QLocale> locales{ QLocale(QStringLiteral("ko_KR")), QLocale::c(),
        QLocale(QStringLiteral("en_US")), QLocale(QStringLiteral("sr_RS@latin")) };

    const auto entry = DesktopEntry::parse(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!entry)
        return 0;
    for (const QLocale &locale : locales) {
        const QString name = entry->localizedName(locale);
        fuzzCheck(name == entry->name || entry->localizedNames.values().contains(name),
            "a localized name is Name or one of the Name[…] values");
    }
    entry->isVisibleApplication();

    const QStringList arguments = DesktopEntry::execArguments(entry->exec);
    const QString program = entry->program();
    if (!program.isEmpty())
        fuzzCheck(arguments.contains(program), "the program is one of Exec's arguments");
    return 0;
}
