#include "AppLinks.h"
#include "MainMenu.h"

#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <memory>

// The menu bar's items and the home page address.
class TestMainMenu : public QObject
{
    Q_OBJECT

    static QStringList titles(const QMenu *menu)
    {
        QStringList names;
        for (const QAction *action : menu->actions())
            names << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return names;
    }

    static QAction *item(const QMenu *menu, const QString &title)
    {
        for (QAction *action : menu->actions()) {
            if (action->text() == title)
                return action;
        }
        return nullptr;
    }

private Q_SLOTS:
    void applicationAndWindowMenus()
    {
        std::unique_ptr<QMenuBar> bar(MainMenu::make());
        const QList<QAction *> top = bar->actions();
        QCOMPARE(top.size(), 2);
        QCOMPARE(top.at(0)->text(), QStringLiteral("Wakora"));
        QCOMPARE(top.at(1)->text(), QStringLiteral("윈도우"));

        const QMenu *application = top.at(0)->menu();
        QVERIFY(application);
        QCOMPARE(titles(application),
            (QStringList{ QStringLiteral("Wakora에 관하여"), QStringLiteral("Wakora 홈페이지"), QStringLiteral("-"),
                QStringLiteral("Wakora 가리기"), QStringLiteral("-"), QStringLiteral("Wakora 종료") }));
        QVERIFY(item(application, QStringLiteral("Wakora에 관하여"))->shortcut().isEmpty());
        QVERIFY(item(application, QStringLiteral("Wakora 홈페이지"))->shortcut().isEmpty());
        QCOMPARE(item(application, QStringLiteral("Wakora 가리기"))->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_H));
        QCOMPARE(item(application, QStringLiteral("Wakora 종료"))->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

        QMenu *window = top.at(1)->menu();
        QVERIFY(window);
        QCOMPARE(window->title(), QStringLiteral("윈도우"));
        QCOMPARE(titles(window), (QStringList{ QStringLiteral("닫기"), QStringLiteral("최소화") }));
        QCOMPARE(item(window, QStringLiteral("닫기"))->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_W));
        QCOMPARE(item(window, QStringLiteral("최소화"))->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));
        QCOMPARE(MainMenu::windowsMenu(bar.get()), window);
    }

    void windowMenuListsTheWindowsAndClosesTheFrontOne()
    {
        std::unique_ptr<QMenuBar> bar(MainMenu::make());
        QMenu *window = MainMenu::windowsMenu(bar.get());
        QWidget main;
        main.setWindowTitle(QStringLiteral("Wakora"));
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));

        Q_EMIT window->aboutToShow();
        QAction *entry = item(window, QStringLiteral("Wakora"));
        QVERIFY(entry);
        QVERIFY(entry->isChecked());
        // Listing again replaces the entries rather than adding a second set.
        Q_EMIT window->aboutToShow();
        QCOMPARE(titles(window).count(QStringLiteral("Wakora")), 1);

        item(window, QStringLiteral("닫기"))->trigger();
        QVERIFY(!main.isVisible());
    }

    void homepageByLanguage_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<QString>("url");
        const QString base = QLatin1String(AppLinks::homepageBase);
        QTest::newRow("english") << QStringList{ QStringLiteral("en-US"), QStringLiteral("ko") }
                                 << base + QStringLiteral("/en/");
        QTest::newRow("japanese") << QStringList{ QStringLiteral("ja") } << base + QStringLiteral("/ja/");
        QTest::newRow("korean") << QStringList{ QStringLiteral("ko-KR"), QStringLiteral("en") }
                                << base + QStringLiteral("/");
        QTest::newRow("other") << QStringList{ QStringLiteral("de-DE") } << base + QStringLiteral("/");
        QTest::newRow("none") << QStringList{} << base + QStringLiteral("/");
        // Only the first language counts, and "english" is not "en".
        QTest::newRow("not a prefix") << QStringList{ QStringLiteral("eng") } << base + QStringLiteral("/");
    }

    void homepageByLanguage()
    {
        QFETCH(QStringList, languages);
        QFETCH(QString, url);
        const QUrl address = AppLinks::homepageUrl(languages);
        QVERIFY(address.isValid());
        QCOMPARE(address.toString(), url);
    }

    void aboutPanelLinksTheHomepageHost()
    {
        AppLinks &links = AppLinks::shared();
        QCOMPARE(&AppLinks::shared(), &links);
        links.showAbout();
        QDialog *panel = links.aboutPanel();
        QVERIFY(panel);
        QVERIFY(panel->isVisible());
        auto *credits = panel->findChild<QLabel *>(QStringLiteral("about.credits"));
        QVERIFY(credits);
        const QUrl home = AppLinks::homepageUrl();
        QVERIFY(credits->text().contains(QStringLiteral(">%1<").arg(home.host())));
        QVERIFY(credits->text().contains(QStringLiteral("href=\"%1\"").arg(home.toString())));
        QVERIFY(credits->openExternalLinks());
        // A second request brings the same panel forward.
        links.showAbout();
        QCOMPARE(links.aboutPanel(), panel);
        panel->close();
        QTRY_VERIFY(!links.aboutPanel());
    }
};

QTEST_MAIN(TestMainMenu)
#include "tst_mainmenu.moc"
