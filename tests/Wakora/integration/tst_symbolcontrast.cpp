#include "AppDelegate.h"
#include "Contrast.h"
#include "MainWindowController.h"
#include "StartOrSkip.h"
#include "SymbolLabel.h"
#include "ToggleSwitch.h"
#include "XvfbDisplay.h"

#include <QApplication>
#include <QFileInfo>
#include <QHash>
#include <QLibraryInfo>
#include <QProcess>
#include <QScreen>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <memory>

// The window on a real X server in light and dark desktop themes, at one and
// two device pixels per pixel: its symbols and its switches' off tracks must
// stand out from what they are drawn on. Each combination runs in a child
// process of its own (the scale and the theme are fixed when an application
// starts), which draws the fixture window, grabs what the X server shows and
// measures it.
namespace {

// The child: the fixture window on the display of its environment; prints a
// line per measurement and exits.
int probe(int argc, char *argv[])
{
    QApplication application(argc, argv);
    AppDelegate delegate({ QStringLiteral("Wakora"), QStringLiteral("--ui-testing") });
    delegate.applicationDidFinishLaunching();
    MainWindowController *window = delegate.mainWindowController();
    if (!QTest::qWaitForWindowExposed(window))
        return 2;
    QTest::qWait(800); // the panel's first answers and a settled paint
    const QImage shot = window->screen()->grabWindow(window->winId()).toImage();
    const qreal ratio = qreal(shot.width()) / window->width();
    const auto pixels = [&](const QWidget *widget) {
        const QRect logical(widget->mapTo(window, QPoint(0, 0)), widget->size());
        return QRect(QPoint(qRound(logical.left() * ratio), qRound(logical.top() * ratio)),
            QSize(qRound(logical.width() * ratio), qRound(logical.height() * ratio)))
            .intersected(shot.rect());
    };
    std::printf("ratio %.2f\n", ratio);
    std::printf("window-lightness %.3f\n", window->palette().color(QPalette::Window).lightnessF());
    for (const SymbolLabel *symbol : window->findChildren<SymbolLabel *>()) {
        if (symbol->isVisible())
            std::printf("symbol %s %.2f\n", qPrintable(symbol->symbol()), Contrast::ofInk(shot, pixels(symbol)));
    }
    for (const ToggleSwitch *toggle : window->findChildren<ToggleSwitch *>()) {
        if (!toggle->isVisible() || toggle->isChecked())
            continue;
        // Off: the knob sits left, the bare track shows right of it; beside
        // the switch is the box it sits in.
        const QRect area = pixels(toggle);
        const QRgb track = shot.pixel(area.left() + area.width() * 3 / 4, area.center().y());
        const QRgb beside = shot.pixel(area.left() - qRound(4 * ratio), area.center().y());
        std::printf("track %s %.2f\n", qPrintable(toggle->objectName()), Contrast::ratio(track, beside));
    }
    std::fflush(stdout);
    return 0;
}

} // namespace

class TestSymbolContrast : public QObject
{
    Q_OBJECT

    std::unique_ptr<XvfbDisplay> display;

private Q_SLOTS:
    void initTestCase()
    {
        display = std::make_unique<XvfbDisplay>();
        WAKORA_START_OR_SKIP(display->start());
    }

    void symbolsAndSwitchesStandOut_data()
    {
        QTest::addColumn<QString>("theme");
        QTest::addColumn<QString>("scale");
        QTest::newRow("light, scale 1") << QStringLiteral("Adwaita") << QStringLiteral("1");
        QTest::newRow("light, scale 2") << QStringLiteral("Adwaita") << QStringLiteral("2");
        QTest::newRow("dark, scale 1") << QStringLiteral("Adwaita:dark") << QStringLiteral("1");
        QTest::newRow("dark, scale 2") << QStringLiteral("Adwaita:dark") << QStringLiteral("2");
    }

    void symbolsAndSwitchesStandOut()
    {
        QFETCH(QString, theme);
        QFETCH(QString, scale);
        // Qt takes a GNOME desktop's palette, dark or light, through its GTK platform theme.
        const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platformthemes");
        if (!QFileInfo::exists(plugins + QStringLiteral("/libqgtk3.so")))
            QSKIP("not installed: Qt's GTK platform theme (Debian: qt6-gtk-platformtheme)");

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), display->name());
        environment.insert(QStringLiteral("QT_QPA_PLATFORMTHEME"), QStringLiteral("gtk3"));
        environment.insert(QStringLiteral("GTK_THEME"), theme);
        environment.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.remove(QStringLiteral("QT_STYLE_OVERRIDE"));
        // The child draws no bus-backed parts; keep it off any session bus.
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--probe") });
        QVERIFY(child.waitForFinished(60000));
        const QString printed = QString::fromUtf8(child.readAllStandardOutput());
        const QString log = QString::fromUtf8(child.readAllStandardError());
        QVERIFY2(child.exitCode() == 0, qPrintable(printed + log));
        qInfo().noquote() << printed.trimmed();

        QHash<QString, double> values;
        int symbols = 0;
        int tracks = 0;
        for (const QString &line : printed.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QStringList words = line.split(QLatin1Char(' '));
            if (words.size() == 2) {
                values.insert(words.at(0), words.at(1).toDouble());
            } else if (words.size() == 3 && words.at(0) == u"symbol") {
                ++symbols;
                // The least contrast asked of graphics (WCAG 2.1, 1.4.11).
                QVERIFY2(words.at(2).toDouble() >= 3.0, qPrintable(line));
            } else if (words.size() == 3 && words.at(0) == u"track") {
                ++tracks;
                QVERIFY2(words.at(2).toDouble() >= 1.8, qPrintable(line));
            }
        }
        QCOMPARE(values.value(QStringLiteral("ratio")), scale.toDouble());
        const bool dark = theme.endsWith(QLatin1String(":dark"));
        QCOMPARE(values.value(QStringLiteral("window-lightness")) < 0.5, dark);
        QVERIFY(symbols >= 5); // the header's and four rows'; the gear of an app row
        QVERIFY(tracks >= 2);
    }
};

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--probe") == 0)
        return probe(argc, argv);
    QCoreApplication application(argc, argv);
    TestSymbolContrast test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_symbolcontrast.moc"
