#include "AppDelegate.h"
#include "MainViewController.h"
#include "MainWindowController.h"
#include "StatusPanelModel.h"
#include "StatusPanelView.h"
#include "UsageChartsView.h"

#include <QMenuBar>
#include <QProgressBar>
#include <QScrollBar>
#include <QTest>

#include <memory>

// The window as each fixture mode opens it: its content whole below the menu
// bar, the panel's first sections in view, and one inset for every group.
class TestWindowLayout : public QObject
{
    Q_OBJECT

    static QRect inWindow(const QWidget *widget)
    {
        return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
    }

private Q_SLOTS:
    void contentFitsBelowTheMenuBar_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("sample") << QStringList();
        QTest::newRow("menubar-off") << QStringList{ QStringLiteral("--menubar-off") };
        QTest::newRow("clamshell-approval") << QStringList{ QStringLiteral("--clamshell-approval") };
        QTest::newRow("clamshell-system") << QStringList{ QStringLiteral("--clamshell-system") };
        QTest::newRow("history-empty") << QStringList{ QStringLiteral("--history-empty") };
        QTest::newRow("status-empty") << QStringList{ QStringLiteral("--status-empty") };
        QTest::newRow("status-flaky") << QStringList{ QStringLiteral("--status-flaky") };
        QTest::newRow("screenshots") << QStringList{ QStringLiteral("--screenshots") };
    }

    void contentFitsBelowTheMenuBar()
    {
        QFETCH(QStringList, arguments);
        arguments.prepend(QStringLiteral("--ui-testing"));
        arguments.prepend(QStringLiteral("Wakora"));
        auto delegate = std::make_unique<AppDelegate>(arguments);
        delegate->applicationDidFinishLaunching();
        MainWindowController *window = delegate->mainWindowController();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        auto *panel = window->findChild<StatusPanelView *>();
        QVERIFY(panel);
        // Wait until the overview and the usage have been answered.
        QTRY_VERIFY(!window->findChild<QProgressBar *>(QStringLiteral("assertions.loading")));
        QTest::qWait(50);

        // The whole content below the menu bar, at least the window's
        // design size, and nothing of it outside the window.
        const QMenuBar *bar = window->menuBar();
        QVERIFY(bar && bar->isVisible());
        const QRect content = inWindow(window->centralWidget());
        QCOMPARE(content.top(), bar->geometry().bottom() + 1);
        QCOMPARE(content.width(), 720);
        QVERIFY2(content.height() >= 440, qPrintable(QString::number(content.height())));
        QVERIFY(QRect(QPoint(0, 0), window->size()).contains(content));
        for (const char *name : { "leftColumn", "rightColumn", "switchBox", "chartsHost", "statusPanel" }) {
            const auto *widget = window->findChild<QWidget *>(QString::fromLatin1(name));
            QVERIFY2(widget, name);
            QVERIFY2(content.contains(inWindow(widget)), name);
        }

        // The first two sections are whole in the panel's view.
        const QRect view = inWindow(panel->viewport());
        int sections = 0;
        for (const char *name : { "section.assertions", "section.frequentApps" }) {
            const auto *section = panel->findChild<QWidget *>(QString::fromLatin1(name));
            QVERIFY2(section, name);
            if (section->isHidden())
                continue;
            ++sections;
            QVERIFY2(view.contains(inWindow(section)), name);
        }
        QVERIFY(sections >= 1);

        // One inset: the switch box's from the left edge, the panel's groups'
        // and the usage card's from the right, scroll bar or not; the right
        // column's groups share their edges.
        const int inset = inWindow(window->findChild<QWidget *>(QStringLiteral("switchBox"))).left() - content.left();
        QVERIFY(inset > 0);
        const QRect card = inWindow(window->findChild<QWidget *>(QStringLiteral("chartsHost")));
        QCOMPARE(content.right() - card.right(), inset);
        QVERIFY(card.bottom() <= content.bottom() - inset + 1);
        // The card gets what its chart (or its note) needs.
        const QWidget *cardWidget = window->viewController()->chartsHost();
        const int cardNeeds = cardWidget->hasHeightForWidth() ? cardWidget->heightForWidth(card.width())
                                                              : cardWidget->sizeHint().height();
        QCOMPARE(card.height(), cardNeeds);
        const auto *group = panel->findChild<QWidget *>(QStringLiteral("assertions.group"));
        QVERIFY(group);
        QCOMPARE(inWindow(group).left(), card.left());
        QCOMPARE(inWindow(group).right(), card.right());
    }
};

QTEST_MAIN(TestWindowLayout)
#include "tst_windowlayout.moc"
