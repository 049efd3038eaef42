#pragma once

#include <QPointer>
#include <QScrollArea>

struct FriendlyApp;
class QLabel;
class QVBoxLayout;
class RunningApplicationReading;
class StatusPanelModel;

// The status panel: who keeps the machine awake now, which apps did so most
// often, the system processes and the power settings, as a grouped form in
// four sections. It redraws a section whenever the model field it shows
// changes, and only calls the model's actions. Every control carries its
// identifier as objectName ("assertions.message", "app.<name>",
// "chart.clear", "system.row", "settings.retry", …). Main thread only.
class StatusPanelView : public QScrollArea
{
    Q_OBJECT

public:
    // `applications` gives the apps' icons; without it, or for an app it does
    // not know, a row shows the "gearshape" symbol. It must outlive the view.
    explicit StatusPanelView(
        StatusPanelModel *model, RunningApplicationReading *applications = nullptr, QWidget *parent = nullptr);

    StatusPanelModel *model() const { return m_model; }

    // Keeps the groups `inset` from the panel's trailing edge, the scroll bar
    // (when it shows) within that inset.
    void setTrailingInset(int inset);

    // The height that shows "지금 잠자기를 막는 앱" and, when it is there,
    // "자주 막는 앱" whole at `width`.
    int leadingSectionsHeight(int width) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

Q_SIGNALS:
    // A section was drawn again: its rows or its visibility may have changed.
    void contentChanged();

private:
    struct Section {
        QWidget *box = nullptr; // header and group, hidden when the section is absent
        QLabel *title = nullptr;
        QVBoxLayout *rows = nullptr;
    };

    Section addSection(const QString &identifier, const QString &title, QWidget *headerAccessory = nullptr);
    static void clear(const Section &section);
    QWidget *errorRow(const QString &prefix, const QString &description, void (StatusPanelModel::*action)() const);
    QWidget *appRow(const FriendlyApp &app);

    void showOverview();
    void showUsage();
    void showSettings();
    void updateTrailingMargin();

    QPointer<StatusPanelModel> m_model;
    RunningApplicationReading *m_applications;
    QVBoxLayout *m_sections = nullptr;
    Section m_assertions;
    Section m_frequentApps;
    Section m_system;
    Section m_settings;
    int m_trailingInset = 0;
};
