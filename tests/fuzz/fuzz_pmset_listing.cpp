#include "FuzzCheck.h"
#include "PmsetCommand.h"
#include "PmsetParser.h"

#include <QString>

// The power-management command's listing, decoded from UTF-8 as the status
// reader and the helper decode it: split into lines, read into settings, and
// asked whether sleep is disabled.

namespace {

bool hasLineBreak(const QString &text)
{
    for (const QChar c : text) {
        switch (c.unicode()) {
        case 0x000A:
        case 0x000B:
        case 0x000C:
        case 0x000D:
        case 0x0085:
        case 0x2028:
        case 0x2029:
            return true;
        default:
            break;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString listing = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    const QList<QStringView> lines = PmsetCommand::lines(listing);
    for (const QStringView line : lines)
        fuzzCheck(!line.isEmpty() && !hasLineBreak(line.toString()), "lines are non-empty and hold no break");

    const QList<PowerSetting> settings = PmsetParser::parse(listing);
    fuzzCheck(settings.size() <= lines.size(), "at most one setting per line");
    for (const PowerSetting &setting : settings) {
        fuzzCheck(!setting.name.isEmpty(), "every setting has a name");
        fuzzCheck(!hasLineBreak(setting.name) && !hasLineBreak(setting.value)
                && !hasLineBreak(setting.section.value_or(QString())),
            "no setting spans lines");
    }

    PmsetCommand::sleepDisabled(listing);
    return 0;
}
