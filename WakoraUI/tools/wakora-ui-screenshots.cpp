// Renders the status panel and the usage card, filled with sample data, to
// status-panel.png and usage-charts.png in the folder given as argument:
//   QT_QPA_PLATFORM=offscreen build/tools/wakora-ui-screenshots docs/screenshots
// Hangul needs a font with its glyphs (Debian: fonts-nanum).

#include "FakeRunningApplications.h"
#include "FriendlyStatus.h"
#include "PowerSettingRow.h"
#include "StatusPanelModel.h"
#include "StatusPanelView.h"
#include "UsageChartsView.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QTextStream>
#include <QTimeZone>

namespace {

UsageSummary sampleSummary()
{
    // A fixed week, so that the pictures do not change from run to run.
    const QDate first(2026, 11, 30);
    const double hours[] = { 1.5, 3.25, 0, 5.2, 2.75, 0.5, 4 };
    UsageSummary summary;
    for (int day = 0; day < 7; ++day)
        summary.days.append({ first.addDays(day).startOfDay(), hours[day] * 3600 });
    summary.apps = { { QStringLiteral("Firefox"), 312 }, { QStringLiteral("비디오"), 95 },
        { QStringLiteral("Steam"), 20 }, { QStringLiteral("터미널"), 1 } };
    return summary;
}

// A width, and a height that fits everything the widget shows.
bool save(QWidget &widget, QWidget &content, int width, const QString &path)
{
    widget.resize(width, 200);
    widget.show();
    QCoreApplication::processEvents();
    widget.resize(
        width, content.heightForWidth(width) > 0 ? content.heightForWidth(width) : content.sizeHint().height());
    QCoreApplication::processEvents();
    const bool saved = widget.grab().save(path);
    QTextStream(stderr) << (saved ? "wrote " : "could not write ") << path << '\n';
    return saved;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: wakora-ui-screenshots OUTDIR\n";
        return 64;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (QFontDatabase::families().contains(QStringLiteral("NanumGothic")))
        QApplication::setFont(QFont(QStringLiteral("NanumGothic"), 10));

    FakeRunningApplications applications;
    applications.insert({ 2140, true, QStringLiteral("Firefox"), QStringLiteral(":/symbols/display") });
    applications.insert({ 3312, true, QStringLiteral("비디오"), QString() });
    const QList<ProcessAssertion> assertions = {
        { 812, QStringLiteral("sleep"), QStringLiteral("Wakora: prevent system sleep"), QStringLiteral("Wakora") },
        { 2140, QStringLiteral("idle"), QStringLiteral("Playing video"), QStringLiteral("firefox-esr") },
        { 3312, QStringLiteral("sleep"), QStringLiteral("Playing"), QStringLiteral("totem") },
        { 901, QStringLiteral("handle-lid-switch"), QStringLiteral("GNOME handling"), QStringLiteral("gsd-power") },
        { 455, QStringLiteral("sleep"), QStringLiteral("Unattended upgrades"), QStringLiteral("unattended-upgr") },
    };

    StatusPanelModel model;
    model.setOverview(QueryState<FriendlyStatus>::available(
        FriendlyStatus::build(assertions, 812, FriendlyStatus::applicationNames(applications))));
    model.setUsage(sampleSummary());
    const QList<PowerSetting> settings
        = { { QStringLiteral("Currently in use"), QStringLiteral("sleep"), QStringLiteral("20") },
              { QStringLiteral("Currently in use"), QStringLiteral("displaysleep"), QStringLiteral("10") },
              { QStringLiteral("Currently in use"), QStringLiteral("womp"), QStringLiteral("0") } };
    model.setSettings(QueryState<QList<PowerSettingRow>>::available(PowerSettingRow::rows(settings)));

    StatusPanelView panel(&model, &applications);
    UsageChartsView charts(sampleSummary());
    charts.setMinimumHeight(240);
    const bool saved = save(panel, *panel.widget(), 360, out.filePath(QStringLiteral("status-panel.png")))
        && save(charts, charts, 360, out.filePath(QStringLiteral("usage-charts.png")));
    return saved ? 0 : 1;
}
