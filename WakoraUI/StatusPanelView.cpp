#include "StatusPanelView.h"

#include "DurationText.h"
#include "ElidedLabel.h"
#include "FriendlyStatus.h"
#include "RunningApplicationReading.h"
#include "StatusPanelModel.h"
#include "SymbolLabel.h"
#include "UsageBar.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int rowHeight = 44;
constexpr int iconSize = 28;
constexpr int nameColumnWidth = 90;

QString localized(const char *text)
{
    return QCoreApplication::translate("WakoraUI", text);
}

// The grouped form's rounded group behind a section's rows.
class Group : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::Base));
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    }
};

QLabel *secondaryLabel(const QString &text, QWidget *parent = nullptr)
{
    auto *label = new QLabel(text, parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
    return label;
}

QFont captionFont(const QFont &font)
{
    QFont caption = font;
    if (caption.pointSizeF() > 0)
        caption.setPointSizeF(caption.pointSizeF() * 0.85);
    return caption;
}

QWidget *loadingIndicator(const QString &identifier)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    auto *indicator = new QProgressBar;
    indicator->setObjectName(identifier);
    indicator->setRange(0, 0);
    indicator->setTextVisible(false);
    indicator->setFixedSize(64, 6);
    layout->addStretch();
    layout->addWidget(indicator);
    layout->addStretch();
    row->setMinimumHeight(rowHeight);
    return row;
}

// The application's own icon (a theme name or a file), else the gear symbol.
// The label records which one it shows.
QLabel *iconLabel(const QString &iconName)
{
    QIcon icon;
    if (!iconName.isEmpty())
        icon = QDir::isAbsolutePath(iconName) ? QIcon(iconName) : QIcon::fromTheme(iconName);
    if (icon.isNull() || icon.pixmap(iconSize).isNull()) {
        auto *symbol = new SymbolLabel(QStringLiteral("gearshape"), iconSize);
        symbol->setProperty("iconSource", symbol->symbol());
        return symbol;
    }
    auto *label = new QLabel;
    label->setFixedSize(iconSize, iconSize);
    label->setPixmap(icon.pixmap(iconSize, iconSize));
    label->setProperty("iconSource", iconName);
    return label;
}

} // namespace

StatusPanelView::StatusPanelView(StatusPanelModel *model, RunningApplicationReading *applications, QWidget *parent)
    : QScrollArea(parent)
    , m_model(model)
    , m_applications(applications)
{
    setObjectName(QStringLiteral("statusPanel"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);

    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    m_sections = new QVBoxLayout(content);
    // The groups reach the panel's edges, so they line up with the usage card.
    m_sections->setContentsMargins(0, 0, 0, 0);
    m_sections->setSpacing(16);

    m_assertions = addSection(QStringLiteral("assertions"), localized("지금 잠자기를 막는 앱"));

    auto *clearButton = new QPushButton(localized("기록 삭제"));
    clearButton->setObjectName(QStringLiteral("chart.clear"));
    clearButton->setAccessibleName(clearButton->text());
    clearButton->setFont(captionFont(clearButton->font()));
    connect(clearButton, &QPushButton::clicked, this, [this] {
        if (m_model)
            m_model->clearUsage();
    });
    m_frequentApps = addSection(QStringLiteral("frequentApps"), localized("자주 막는 앱"), clearButton);
    m_system = addSection(QStringLiteral("system"), QString());
    m_settings = addSection(QStringLiteral("settings"), localized("전원 설정"));
    m_sections->addStretch();
    setWidget(content);

    if (m_model) {
        connect(m_model, &StatusPanelModel::overviewChanged, this, &StatusPanelView::showOverview);
        connect(m_model, &StatusPanelModel::usageChanged, this, &StatusPanelView::showUsage);
        connect(m_model, &StatusPanelModel::settingsChanged, this, &StatusPanelView::showSettings);
    }
    showOverview();
    showUsage();
    showSettings();
}

StatusPanelView::Section StatusPanelView::addSection(
    const QString &identifier, const QString &title, QWidget *headerAccessory)
{
    Section section;
    section.box = new QWidget;
    section.box->setObjectName(QStringLiteral("section.") + identifier);
    auto *layout = new QVBoxLayout(section.box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    auto *header = new QHBoxLayout;
    section.title = secondaryLabel(title);
    section.title->setObjectName(identifier + QStringLiteral(".header"));
    QFont font = section.title->font();
    font.setWeight(QFont::DemiBold);
    section.title->setFont(font);
    header->addWidget(section.title);
    header->addStretch();
    if (headerAccessory)
        header->addWidget(headerAccessory);
    layout->addLayout(header);

    auto *group = new Group;
    group->setObjectName(identifier + QStringLiteral(".group"));
    section.rows = new QVBoxLayout(group);
    section.rows->setContentsMargins(12, 4, 12, 4);
    section.rows->setSpacing(0);
    layout->addWidget(group);

    m_sections->addWidget(section.box);
    return section;
}

void StatusPanelView::clear(const Section &section)
{
    // A row may be clearing itself from its own button's signal: detach it now
    // and delete it once that signal has returned.
    while (QLayoutItem *item = section.rows->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
}

QWidget *StatusPanelView::errorRow(
    const QString &prefix, const QString &description, void (StatusPanelModel::*action)() const)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 6, 0, 6);
    QLabel *message = secondaryLabel(localized("상태를 조회하지 못했습니다. (%1)").arg(description));
    message->setObjectName(prefix + QStringLiteral(".message"));
    message->setWordWrap(true);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(message, 1);
    auto *retry = new QPushButton(localized("다시 시도"));
    retry->setObjectName(prefix + QStringLiteral(".retry"));
    retry->setAccessibleName(retry->text());
    connect(retry, &QPushButton::clicked, this, [this, action] {
        if (m_model)
            (m_model.data()->*action)();
    });
    layout->addWidget(retry, 0, Qt::AlignVCenter);
    row->setMinimumHeight(rowHeight);
    return row;
}

QWidget *StatusPanelView::appRow(const FriendlyApp &app)
{
    auto *row = new QWidget;
    row->setObjectName(QStringLiteral("app.") + app.name);
    row->setAccessibleName(app.name);
    row->setToolTip(app.detailText());
    row->setMinimumHeight(rowHeight);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 6, 0, 6);
    layout->setSpacing(10);

    std::optional<RunningApplication> application;
    if (m_applications)
        application = m_applications->application(app.pid);
    layout->addWidget(iconLabel(application ? application->iconName : QString()));

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto *name = new ElidedLabel(app.name);
    name->setObjectName(QStringLiteral("row.title"));
    texts->addWidget(name);
    QLabel *activity = secondaryLabel(app.activityText());
    activity->setObjectName(QStringLiteral("row.subtitle"));
    activity->setFont(captionFont(activity->font()));
    texts->addWidget(activity);
    layout->addLayout(texts, 1);
    return row;
}

void StatusPanelView::showOverview()
{
    clear(m_assertions);
    clear(m_system);
    m_system.box->hide();
    if (!m_model)
        return;
    const auto &overview = m_model->overview();
    if (overview.isLoading()) {
        m_assertions.rows->addWidget(loadingIndicator(QStringLiteral("assertions.loading")));
    } else if (const PowerStatusError *error = overview.error()) {
        m_assertions.rows->addWidget(
            errorRow(QStringLiteral("assertions"), error->errorDescription(), &StatusPanelModel::retry));
    } else if (const FriendlyStatus *status = overview.value()) {
        if (status->apps.isEmpty()) {
            QLabel *message = secondaryLabel(localized("잠자기를 막는 프로세스가 없습니다."));
            message->setObjectName(QStringLiteral("assertions.message"));
            message->setAlignment(Qt::AlignCenter);
            message->setMinimumHeight(rowHeight);
            m_assertions.rows->addWidget(message);
        }
        for (const FriendlyApp &app : status->apps)
            m_assertions.rows->addWidget(appRow(app));

        if (!status->systemProcesses.isEmpty()) {
            m_system.title->setText(localized("시스템 프로세스 %1").arg(status->systemProcesses.size()));
            for (const QString &name : status->systemProcesses) {
                auto *row = new QLabel(name);
                row->setObjectName(QStringLiteral("system.row"));
                row->setAccessibleName(name);
                row->setMinimumHeight(rowHeight);
                m_system.rows->addWidget(row);
            }
            m_system.box->show();
        }
    }
    Q_EMIT contentChanged();
}

void StatusPanelView::showUsage()
{
    clear(m_frequentApps);
    const bool shown = m_model && m_model->usage() && !m_model->usage()->apps.isEmpty();
    m_frequentApps.box->setVisible(shown);
    if (!shown) {
        Q_EMIT contentChanged();
        return;
    }
    const QList<AppUsage> &apps = m_model->usage()->apps;
    const qint64 largest = std::max_element(apps.cbegin(), apps.cend(), [](const AppUsage &a, const AppUsage &b) {
        return a.minutes < b.minutes;
    })->minutes;
    for (const AppUsage &app : apps) {
        auto *row = new QWidget;
        row->setObjectName(QStringLiteral("usage.row"));
        row->setAccessibleName(app.name);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 6, 0, 6);
        layout->setSpacing(8);
        auto *name = new ElidedLabel(app.name);
        name->setObjectName(QStringLiteral("row.title"));
        name->setFixedWidth(nameColumnWidth);
        layout->addWidget(name);
        layout->addWidget(new UsageBar(app.minutes, largest), 1);
        QLabel *duration = secondaryLabel(localized("약 %1").arg(DurationText::usage(double(app.minutes) * 60)));
        duration->setObjectName(QStringLiteral("row.subtitle"));
        duration->setFont(captionFont(duration->font()));
        layout->addWidget(duration);
        m_frequentApps.rows->addWidget(row);
    }
    Q_EMIT contentChanged();
}

void StatusPanelView::setTrailingInset(int inset)
{
    m_trailingInset = inset;
    verticalScrollBar()->installEventFilter(this);
    updateTrailingMargin();
}

bool StatusPanelView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == verticalScrollBar() && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        updateTrailingMargin();
    return QScrollArea::eventFilter(watched, event);
}

void StatusPanelView::updateTrailingMargin()
{
    const QScrollBar *bar = verticalScrollBar();
    const int taken = bar->isVisibleTo(this) ? bar->sizeHint().width() : 0;
    QMargins margins = m_sections->contentsMargins();
    margins.setRight(std::max(m_trailingInset - taken, 0));
    if (margins != m_sections->contentsMargins())
        m_sections->setContentsMargins(margins);
}

int StatusPanelView::leadingSectionsHeight(int width) const
{
    const QMargins margins = m_sections->contentsMargins();
    // As wide as the sections are when nothing scrolls.
    const int sectionWidth = width - margins.left() - m_trailingInset;
    int height = margins.top() + margins.bottom();
    int shown = 0;
    for (const Section *section : { &m_assertions, &m_frequentApps }) {
        if (section->box->isHidden())
            continue;
        if (shown++ > 0)
            height += m_sections->spacing();
        height += section->box->hasHeightForWidth() ? section->box->heightForWidth(sectionWidth)
                                                    : section->box->sizeHint().height();
    }
    return height;
}

void StatusPanelView::showSettings()
{
    clear(m_settings);
    if (!m_model)
        return;
    const auto &settings = m_model->settings();
    if (settings.isLoading()) {
        m_settings.rows->addWidget(loadingIndicator(QStringLiteral("settings.loading")));
    } else if (const PowerStatusError *error = settings.error()) {
        m_settings.rows->addWidget(
            errorRow(QStringLiteral("settings"), error->errorDescription(), &StatusPanelModel::retrySettings));
    } else if (const QList<PowerSettingRow> *rows = settings.value()) {
        if (rows->isEmpty()) {
            QLabel *message = secondaryLabel(localized("표시할 전원 설정이 없습니다."));
            message->setObjectName(QStringLiteral("settings.message"));
            message->setMinimumHeight(rowHeight);
            m_settings.rows->addWidget(message);
        }
        for (const PowerSettingRow &setting : *rows) {
            auto *row = new QWidget;
            row->setObjectName(QStringLiteral("settings.row"));
            row->setAccessibleName(setting.name);
            row->setToolTip(setting.help);
            row->setMinimumHeight(rowHeight);
            // Name and value share one font size, so centring them aligns their baselines.
            auto *layout = new QHBoxLayout(row);
            layout->setContentsMargins(0, 6, 0, 6);
            auto *name = new QLabel(setting.name);
            name->setObjectName(QStringLiteral("row.title"));
            layout->addWidget(name);
            layout->addStretch();
            QLabel *value = secondaryLabel(setting.value);
            value->setObjectName(QStringLiteral("row.subtitle"));
            layout->addWidget(value);
            m_settings.rows->addWidget(row);
        }
    }
}
