#pragma once

#include <QObject>
#include <QUrl>

class QMenu;

// Software updates come from the package manager on Linux: checking opens
// the product's release page, and there is no background updater to run.
// The checker still follows the life cycle of one: started at launch except
// under "--ui-testing", which never reaches outside the process.
class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *releasePage = "https://wakora.quorvel.com/releases/";

    explicit UpdateChecker(bool startsAtOnce, QObject *parent = nullptr);

    bool isStarted() const { return m_started; }

    // Inserts "업데이트 확인…" at index 1 of `applicationMenu` (at its end
    // when it is shorter); does nothing without a menu.
    void addMenuItem(QMenu *applicationMenu);

public Q_SLOTS:
    void checkForUpdates();

private:
    bool m_started = false;
};
