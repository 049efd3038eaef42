#include "MainViewController.h"

#include "ClamshellController.h"
#include "ClamshellPresentation.h"
#include "DurationText.h"
#include "FriendlyStatus.h"
#include "Headline.h"
#include "HoldNotices.h"
#include "PowerSettingRow.h"
#include "PowerStatusReading.h"
#include "PowerToggling.h"
#include "StatusPanelModel.h"
#include "StatusPanelView.h"
#include "SymbolLabel.h"
#include "Symbols.h"
#include "ToggleSwitch.h"
#include "UsageChartsView.h"
#include "UsageHistoryReading.h"

#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

QString localized(const char *text)
{
    return QCoreApplication::translate("WakoraUI", text);
}

constexpr int windowWidth = 720;
constexpr int minimumContentHeight = 440;
constexpr int leftColumnWidth = 340;
constexpr int rightColumnWidth = 380;
constexpr int labelWidth = 300;
// The right column's groups (the panel's and the usage card) share one inset,
// the gap between the columns on their left and the same on their right.
constexpr int rightInset = 20;
constexpr int rightSpacing = 16;
// Polls per usage reload: once a minute at 3 seconds each.
constexpr int ticksPerUsageLoad = 20;

QLabel *wrappingLabel(const QString &identifier, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(identifier);
    label->setWordWrap(true);
    label->setFixedWidth(labelWidth);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void useSecondaryColour(QLabel *label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
}

} // namespace

MainViewController::MainViewController(PowerToggling *powerController, PowerStatusReading *statusReader,
    ClamshellController *clamshell, UsageHistoryReading *usage, std::optional<MainWindowOptions> options,
    RunningApplicationReading *applications, QWidget *parent)
    : QWidget(parent)
    , m_powerController(powerController)
    , m_statusReader(statusReader)
    , m_clamshell(clamshell)
    , m_usage(usage)
    , m_options(std::move(options))
    , m_applications(applications)
{
    setObjectName(QStringLiteral("mainView"));
    m_pollTimer.setSingleShot(true);
    connect(&m_pollTimer, &QTimer::timeout, this, &MainViewController::pollTick);

    m_chartsHost = new UsageChartsView(UsageSummary{}, this);
    m_chartsHost->setObjectName(QStringLiteral("chartsHost"));
    // No taller than what the chart (or the empty history's note) needs.
    m_chartsHost->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_panelModel = new StatusPanelModel(this);
    m_panelModel->setOnRetry([this] { startOverview(); });
    m_panelModel->setOnRetrySettings([this] { refreshSettings(); });
    m_panelModel->setOnClearUsage([this] { clearUsage(); });

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_leftColumn = buildLeftColumn(m_options.has_value());
    layout->addWidget(m_leftColumn, 0, Qt::AlignTop);

    auto *right = new QWidget(this);
    right->setObjectName(QStringLiteral("rightColumn"));
    right->setFixedWidth(rightColumnWidth);
    auto *rightLayout = new QVBoxLayout(right);
    // The panel reaches the window's edge, so that its scroll bar sits in the
    // inset and its groups line up with the card's whether it scrolls or not.
    rightLayout->setContentsMargins(0, rightInset, 0, rightInset);
    rightLayout->setSpacing(rightSpacing);
    m_panelView = new StatusPanelView(m_panelModel, m_applications, right);
    m_panelView->setTrailingInset(rightInset);
    rightLayout->addWidget(m_panelView, 1);
    auto *card = new QHBoxLayout;
    card->setContentsMargins(0, 0, rightInset, 0);
    card->addWidget(m_chartsHost);
    rightLayout->addLayout(card);
    // Rows come and go with every poll: the window grows to keep the panel's
    // first sections whole, and shrinks back.
    // Rows added to a window on screen show once the event loop runs: the
    // refit waits for that, and a burst of changes refits once.
    m_deferredRefit.setSingleShot(true);
    m_deferredRefit.setInterval(0);
    connect(&m_deferredRefit, &QTimer::timeout, this, &MainViewController::refitWindow);
    connect(m_panelView, &StatusPanelView::contentChanged, &m_deferredRefit, qOverload<>(&QTimer::start));
    layout->addWidget(right);
    setFixedSize(windowWidth, minimumContentHeight);

    syncSwitches();
    if (m_powerController)
        connect(m_powerController, &PowerToggling::didChange, this, &MainViewController::powerStateChanged);
    if (m_clamshell)
        connect(m_clamshell, &ClamshellController::didChange, this, &MainViewController::updateClamshellSection);
    updateClamshellSection();
}

MainViewController::~MainViewController() = default;

QWidget *MainViewController::buildLeftColumn(bool withOpenAtLogin)
{
    auto *column = new QWidget(this);
    column->setObjectName(QStringLiteral("leftColumn"));
    column->setFixedWidth(leftColumnWidth);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);

    // Header.
    auto *header = new QHBoxLayout;
    header->setSpacing(10);
    m_headerIcon = new SymbolLabel(QStringLiteral("moon.zzz"), 28, column);
    m_headerIcon->setObjectName(QStringLiteral("status.icon"));
    header->addWidget(m_headerIcon, 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_headerTitle = new QLabel(column);
    m_headerTitle->setObjectName(QStringLiteral("status.title"));
    QFont titleFont = m_headerTitle->font();
    // The design's points are device-independent pixels here.
    titleFont.setPixelSize(20);
    titleFont.setWeight(QFont::DemiBold);
    m_headerTitle->setFont(titleFont);
    m_headerDetail = new QLabel(column);
    m_headerDetail->setObjectName(QStringLiteral("status.detail"));
    useSecondaryColour(m_headerDetail);
    m_headerRemaining = new QLabel(column);
    m_headerRemaining->setObjectName(QStringLiteral("status.remaining"));
    useSecondaryColour(m_headerRemaining);
    m_headerRemaining->hide();
    texts->addWidget(m_headerTitle);
    texts->addWidget(m_headerDetail);
    texts->addWidget(m_headerRemaining);
    m_headerConditions = new QLabel(column);
    m_headerConditions->setObjectName(QStringLiteral("status.conditions"));
    m_headerConditions->setWordWrap(true);
    useSecondaryColour(m_headerConditions);
    m_headerConditions->hide();
    texts->addWidget(m_headerConditions);
    m_headerReasons = new QLabel(column);
    m_headerReasons->setObjectName(QStringLiteral("status.reasons"));
    m_headerReasons->setWordWrap(true);
    useSecondaryColour(m_headerReasons);
    m_headerReasons->hide();
    texts->addWidget(m_headerReasons);
    m_headerHolds = new QLabel(column);
    m_headerHolds->setObjectName(QStringLiteral("status.holds"));
    m_headerHolds->setWordWrap(true);
    m_headerHolds->hide();
    texts->addWidget(m_headerHolds);
    header->addLayout(texts, 1);
    layout->addLayout(header);

    // The switch rows in their rounded box.
    auto *box = new QFrame(column);
    box->setObjectName(QStringLiteral("switchBox"));
    box->setFixedWidth(leftColumnWidth - 40);
    box->setStyleSheet(
        QStringLiteral("QFrame#switchBox { background-color: rgba(128, 128, 128, 26); border-radius: 10px; }"));
    auto *rows = new QVBoxLayout(box);
    rows->setContentsMargins(12, 10, 12, 10);
    rows->setSpacing(10);
    auto addSleepSwitch = [&](AssertionKind kind, const QString &symbol, const char *label, const QString &id) {
        auto *toggle = new ToggleSwitch(box);
        toggle->setObjectName(id);
        m_switches.insert(kind, toggle);
        rows->addWidget(switchRow(symbol, localized(label), toggle));
        connect(toggle, &QAbstractButton::clicked, this, [this, kind](bool on) { toggleChanged(kind, on); });
    };
    addSleepSwitch(
        AssertionKind::systemSleep, QStringLiteral("moon.zzz"), "잠자기 방지", QStringLiteral("toggle.systemSleep"));
    addSleepSwitch(AssertionKind::displaySleep, QStringLiteral("display"), "디스플레이 켜 두기",
        QStringLiteral("toggle.displaySleep"));
    if (m_clamshell) {
        m_clamshellSwitch = new ToggleSwitch(box);
        m_clamshellSwitch->setObjectName(QStringLiteral("toggle.clamshell"));
        rows->addWidget(
            switchRow(QStringLiteral("laptopcomputer"), localized("덮개를 닫아도 유지"), m_clamshellSwitch));
        connect(m_clamshellSwitch, &QAbstractButton::clicked, this, [this](bool on) { clamshellToggled(on); });
    }
    if (withOpenAtLogin) {
        m_openAtLoginSwitch = new ToggleSwitch(box);
        m_openAtLoginSwitch->setObjectName(QStringLiteral("toggle.openAtLogin"));
        rows->addWidget(switchRow(QStringLiteral("power"), localized("로그인 시 열기"), m_openAtLoginSwitch));
        connect(m_openAtLoginSwitch, &QAbstractButton::clicked, this, [this](bool on) { openAtLoginToggled(on); });
    }
    layout->addWidget(box);

    // The last error.
    m_errorLabel = wrappingLabel(QStringLiteral("toggle.error"), column);
    QPalette red = m_errorLabel->palette();
    red.setColor(QPalette::WindowText, QColor(0xd7, 0x26, 0x1e));
    m_errorLabel->setPalette(red);
    m_errorLabel->hide();
    layout->addWidget(m_errorLabel);

    // The agent is not running.
    m_offlineStack = new QWidget(column);
    m_offlineStack->setObjectName(QStringLiteral("menubar.offlineStack"));
    auto *offline = new QVBoxLayout(m_offlineStack);
    offline->setContentsMargins(0, 0, 0, 0);
    offline->setSpacing(6);
    m_offlineLabel = wrappingLabel(QStringLiteral("menubar.offline"), m_offlineStack);
    m_reconnectButton = new QPushButton(m_offlineStack);
    m_reconnectButton->setObjectName(QStringLiteral("menubar.reconnect"));
    if (m_clamshell) {
        m_offlineLabel->setText(localized("메뉴바 앱이 꺼져 있어 잠자기 방지를 사용할 수 없습니다."));
        m_reconnectButton->setText(localized("다시 켜기"));
    } else {
        m_offlineLabel->setText(
            localized("잠자기 방지를 사용하려면 메뉴바 앱을 켜야 합니다. 켜면 로그인할 때 자동으로 실행됩니다."));
        m_reconnectButton->setText(localized("켜기"));
    }
    connect(m_reconnectButton, &QPushButton::clicked, this, &MainViewController::reconnect);
    offline->addWidget(m_offlineLabel);
    offline->addWidget(m_reconnectButton, 0, Qt::AlignLeft);
    layout->addWidget(m_offlineStack);

    // The lid-closed notices.
    m_noticeStack = new QWidget(column);
    m_noticeStack->setObjectName(QStringLiteral("clamshell.notices"));
    auto *notices = new QVBoxLayout(m_noticeStack);
    notices->setContentsMargins(0, 0, 0, 0);
    notices->setSpacing(6);
    m_clamshellNotice = wrappingLabel(QStringLiteral("clamshell.notice"), m_noticeStack);
    m_clamshellSettingsButton = new QPushButton(localized("시스템 설정 열기"));
    tintButtonSymbols();
    m_clamshellSettingsButton->setObjectName(QStringLiteral("clamshell.settings"));
    connect(m_clamshellSettingsButton, &QPushButton::clicked, this, &MainViewController::openClamshellSettings);
    m_clamshellWarning = wrappingLabel(QStringLiteral("clamshell.warning"), m_noticeStack);
    m_clamshellWarning->setText(clamshellWarningText());
    useSecondaryColour(m_clamshellWarning);
    notices->addWidget(m_clamshellNotice);
    notices->addWidget(m_clamshellSettingsButton, 0, Qt::AlignLeft);
    notices->addWidget(m_clamshellWarning);
    m_clamshellNotice->hide();
    m_clamshellSettingsButton->hide();
    m_clamshellWarning->hide();
    m_noticeStack->hide();
    layout->addWidget(m_noticeStack);
    layout->addStretch(1);
    return column;
}

QWidget *MainViewController::switchRow(const QString &symbol, const QString &label, ToggleSwitch *toggle)
{
    auto *row = new QWidget(toggle->parentWidget());
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(new SymbolLabel(symbol, 18, row));
    layout->addWidget(new QLabel(label, row));
    layout->addStretch(1);
    toggle->setParent(row);
    toggle->setAccessibleName(label);
    toggle->setToolTip(label);
    layout->addWidget(toggle);
    return row;
}

void MainViewController::showError(const QString &text)
{
    m_errorLabel->setText(text);
    m_errorLabel->show();
    refitWindow();
}

void MainViewController::syncSwitches()
{
    const bool available = m_powerController && m_powerController->isAvailable();
    for (auto it = m_switches.cbegin(); it != m_switches.cend(); ++it) {
        it.value()->setChecked(m_powerController && m_powerController->isEnabled(it.key()));
        it.value()->setEnabled(available);
    }
    m_offlineStack->setVisible(!available);
    updateHeader();
    refitWindow();
}

void MainViewController::updateHeader()
{
    bool isAwake = m_clamshell && m_clamshell->presentation().isOn;
    if (!isAwake && m_powerController) {
        for (const AssertionKind kind : allAssertionKinds) {
            if (m_powerController->isEnabled(kind)) {
                isAwake = true;
                break;
            }
        }
    }
    const std::optional<QDateTime> since = m_powerController ? m_powerController->activeSince() : std::nullopt;
    const Headline headline = Headline::of(isAwake, since, m_now());
    m_headerTitle->setText(headline.title);
    m_headerDetail->setText(headline.detail.value_or(QString()));
    m_headerDetail->setVisible(headline.detail.has_value());
    if (m_headerIcon->symbol() != headline.symbol)
        m_headerIcon->setSymbol(headline.symbol);
    const QStringList holds = m_powerController ? HoldNotices::of(*m_powerController) : QStringList();
    m_headerHolds->setText(holds.join(QLatin1Char('\n')));
    m_headerHolds->setVisible(!holds.isEmpty());
}

void MainViewController::updateClamshellSection()
{
    if (!m_clamshell)
        return;
    const ClamshellPresentation presentation = m_clamshell->presentation();
    m_clamshellSwitch->setChecked(presentation.isOn);
    m_clamshellSwitch->setEnabled(presentation.isEnabled);
    m_clamshellNotice->setText(presentation.notice.value_or(QString()));
    m_clamshellNotice->setVisible(presentation.notice.has_value());
    m_clamshellSettingsButton->setVisible(presentation.showsSettingsButton);
    m_clamshellWarning->setVisible(presentation.showsWarning);
    if (const std::optional<QString> error = m_clamshell->lastError()) {
        m_isShowingClamshellError = true;
        showError(*error);
    } else if (m_isShowingClamshellError) {
        // An error a sleep switch put there stays until that switch clears it.
        m_errorLabel->hide();
        m_isShowingClamshellError = false;
    }
    updateHeader();
    refitWindow();
}

void MainViewController::powerStateChanged()
{
    syncSwitches();
    refreshTimedSession();
    if (m_polling)
        startOverview();
}

void MainViewController::refreshOverviewNow()
{
    startOverview();
}

void MainViewController::reconnect()
{
    if (m_powerController)
        m_powerController->reconnect();
}

void MainViewController::openClamshellSettings()
{
    if (m_clamshell)
        m_clamshell->openSettings();
}

void MainViewController::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        tintButtonSymbols();
}

void MainViewController::tintButtonSymbols()
{
    m_clamshellSettingsButton->setIcon(tintedSymbolIcon(
        QStringLiteral("lock.shield"), m_clamshellSettingsButton->palette().color(QPalette::ButtonText)));
}

void MainViewController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    startOverview();
    refitWindow();
}

void MainViewController::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    cancelOverview();
}

void MainViewController::startOverview()
{
    loadUsage();
    refreshSettings();
    cancelOverview();
    m_polling = true;
    m_ticks = 0;
    refreshOverview(m_pollGeneration);
}

void MainViewController::cancelOverview()
{
    m_pollTimer.stop();
    m_polling = false;
    ++m_pollGeneration; // a query still in flight is answered into the void
}

void MainViewController::pollTick()
{
    if (!m_polling)
        return;
    ++m_ticks;
    if (m_ticks % ticksPerUsageLoad == 0)
        loadUsage();
    refreshOverview(m_pollGeneration);
}

void MainViewController::setTimedSessionSource(SessionEnd source)
{
    m_sessionEnd = std::move(source);
    refreshTimedSession();
}

void MainViewController::setReasonsSource(Reasons source)
{
    m_reasons = std::move(source);
    refreshReasons();
}

QCoro::Task<> MainViewController::refreshReasons()
{
    if (!m_reasons)
        co_return;
    QPointer<MainViewController> self(this);
    // Asked of a copy: a refresh may replace or drop the source meanwhile.
    const Reasons source = m_reasons;
    const QStringList reasons = co_await source();
    if (!self)
        co_return;
    const QString text = reasons.join(QLatin1Char('\n'));
    if (text != m_headerReasons->text())
        m_headerReasons->setText(text);
    if (reasons.isEmpty() == m_headerReasons->isVisibleTo(this)) {
        m_headerReasons->setVisible(!reasons.isEmpty());
        refitWindow();
    }
}

void MainViewController::setConditionsText(const QString &text)
{
    m_headerConditions->setText(text);
    if (m_headerConditions->isVisibleTo(this) != !text.isEmpty()) {
        m_headerConditions->setVisible(!text.isEmpty());
        refitWindow();
    }
}

QCoro::Task<> MainViewController::refreshTimedSession()
{
    if (!m_sessionEnd)
        co_return;
    QPointer<MainViewController> self(this);
    // Asked of a copy: a refresh may replace or drop the source meanwhile.
    const SessionEnd source = m_sessionEnd;
    const QDateTime end = co_await source();
    if (!self)
        co_return;
    const bool shown = end.isValid();
    if (shown) {
        const qint64 milliseconds = m_now().msecsTo(end);
        m_headerRemaining->setText(DurationText::remaining(std::max<qint64>((milliseconds + 999) / 1000, 0)));
    }
    if (shown != m_headerRemaining->isVisibleTo(this)) {
        m_headerRemaining->setVisible(shown);
        refitWindow();
    }
}

QCoro::Task<> MainViewController::refreshOverview(quint64 generation)
{
    QPointer<MainViewController> self(this);
    updateHeader();
    refreshOpenAtLogin();
    refreshTimedSession();
    refreshReasons();
    auto result = co_await m_statusReader->assertions();
    if (!self || !m_polling || generation != m_pollGeneration)
        co_return;
    if (result) {
        FriendlyStatus::NameLookup names = [](qint32) { return std::optional<QString>(); };
        if (m_applications)
            names = FriendlyStatus::applicationNames(*m_applications);
        const qint32 owner = m_powerController ? m_powerController->ownerPID() : 0;
        m_panelModel->setOverview(
            QueryState<FriendlyStatus>::available(FriendlyStatus::build(result.value(), owner, names)));
        m_pollTimer.start(m_pollInterval);
    } else {
        m_panelModel->setOverview(QueryState<FriendlyStatus>::failed(result.error()));
        // Polling stops here until the overview is started again.
        cancelOverview();
    }
}

QCoro::Task<> MainViewController::refreshSettings()
{
    QPointer<MainViewController> self(this);
    auto result = co_await m_statusReader->settings();
    if (!self)
        co_return;
    if (result)
        m_panelModel->setSettings(QueryState<QList<PowerSettingRow>>::available(PowerSettingRow::rows(result.value())));
    else
        m_panelModel->setSettings(QueryState<QList<PowerSettingRow>>::failed(result.error()));
}

QCoro::Task<> MainViewController::loadUsage()
{
    if (!m_usage || !m_powerController || !m_powerController->isAvailable())
        co_return;
    QPointer<MainViewController> self(this);
    auto result = co_await m_usage->summary();
    if (!self || !result)
        co_return; // on failure the last week shown stays
    const UsageSummary summary = result.value();
    m_chartsHost->setSummary(summary);
    m_panelModel->setUsage(summary);
    m_deferredRefit.start();
}

QCoro::Task<> MainViewController::clearUsage()
{
    if (!m_usage)
        co_return;
    QPointer<MainViewController> self(this);
    auto result = co_await m_usage->clear();
    if (!self || !result)
        co_return;
    loadUsage();
}

QCoro::Task<> MainViewController::toggleChanged(AssertionKind kind, bool enabled)
{
    if (!m_powerController)
        co_return;
    QPointer<MainViewController> self(this);
    auto result = co_await m_powerController->setEnabled(enabled, kind);
    if (!self)
        co_return;
    if (result) {
        m_errorLabel->hide();
        m_isShowingClamshellError = false;
    } else {
        m_errorLabel->setText(localized("설정을 변경하지 못했습니다. (%1)").arg(result.error()));
        m_errorLabel->show();
        m_isShowingClamshellError = false;
    }
    refitWindow();
    syncSwitches();
}

QCoro::Task<> MainViewController::openAtLoginToggled(bool enabled)
{
    QPointer<MainViewController> self(this);
    if (m_options && m_options->setOpensAtLogin) {
        co_await m_options->setOpensAtLogin(enabled);
        if (!self)
            co_return;
    }
    co_await refreshOpenAtLogin();
}

QCoro::Task<> MainViewController::clamshellToggled(bool enabled)
{
    if (!m_clamshell)
        co_return;
    // The answer comes back through the controller's change notification.
    co_await m_clamshell->setEnabledAwaiting(enabled);
}

QCoro::Task<> MainViewController::refreshOpenAtLogin()
{
    if (!m_options || !m_options->opensAtLogin || !m_openAtLoginSwitch)
        co_return;
    QPointer<MainViewController> self(this);
    const std::optional<bool> opens = co_await m_options->opensAtLogin();
    if (!self)
        co_return;
    if (opens)
        m_openAtLoginSwitch->setChecked(*opens);
    m_openAtLoginSwitch->setEnabled(m_powerController && m_powerController->isAvailable());
}

int MainViewController::chartsHeight() const
{
    const int width = rightColumnWidth - rightInset;
    return m_chartsHost->hasHeightForWidth() ? m_chartsHost->heightForWidth(width) : m_chartsHost->sizeHint().height();
}

int MainViewController::fittingHeight() const
{
    const int left = m_leftColumn->hasHeightForWidth() ? m_leftColumn->heightForWidth(leftColumnWidth)
                                                       : m_leftColumn->sizeHint().height();
    // The right column keeps the panel's first two sections whole above the
    // usage card; the sections after them scroll.
    const int right
        = 2 * rightInset + m_panelView->leadingSectionsHeight(rightColumnWidth) + rightSpacing + chartsHeight();
    int height = std::max({ minimumContentHeight, left, right });
    if (const QScreen *screen = this->screen())
        height = std::min(height, screen->availableGeometry().height());
    return height;
}

void MainViewController::refitWindow()
{
    m_noticeStack->setVisible(
        !m_clamshellNotice->isHidden() || !m_clamshellSettingsButton->isHidden() || !m_clamshellWarning->isHidden());
    m_leftColumn->layout()->invalidate();
    const int needed = fittingHeight();
    if (needed == height())
        return;
    setFixedSize(windowWidth, needed);
    QWidget *window = this->window();
    if (window == this)
        return;
    // The window's layout holds it at its content's size plus its menu bar
    // (see MainWindowController); resizing keeps the top left corner, so the
    // window grows or shrinks downwards.
    const QPoint topLeft = window->pos();
    if (QLayout *layout = window->layout()) {
        layout->invalidate();
        layout->activate();
    }
    if (window->isVisible())
        window->move(topLeft);
}
