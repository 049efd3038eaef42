#include "AppLinks.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

AppLinks &AppLinks::shared()
{
    // Parented to the application, so it goes with it; created on first use.
    static QPointer<AppLinks> instance;
    if (!instance)
        instance = new AppLinks(QCoreApplication::instance());
    return *instance;
}

QUrl AppLinks::homepageUrl(const QStringList &preferredLanguages)
{
    QString path = QStringLiteral("/");
    if (!preferredLanguages.isEmpty()) {
        // "en-US" and "en_GB" both count as English.
        const QString language
            = preferredLanguages.first().section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0).toLower();
        if (language == QLatin1String("en") || language == QLatin1String("ja"))
            path = QLatin1Char('/') + language + QLatin1Char('/');
    }
    return QUrl(QLatin1String(homepageBase) + path);
}

QUrl AppLinks::homepageUrl()
{
    return homepageUrl(QLocale::system().uiLanguages());
}

void AppLinks::openHomepage()
{
    QDesktopServices::openUrl(homepageUrl());
}

void AppLinks::showAbout()
{
    if (!m_aboutPanel) {
        auto *panel = new QDialog;
        panel->setAttribute(Qt::WA_DeleteOnClose);
        panel->setObjectName(QStringLiteral("aboutPanel"));
        panel->setWindowTitle(QCoreApplication::translate("WakoraUI", "Wakora에 관하여"));
        auto *layout = new QVBoxLayout(panel);
        layout->setContentsMargins(32, 24, 32, 24);
        layout->setSpacing(8);

        auto *icon = new QLabel(panel);
        icon->setPixmap(QApplication::windowIcon().pixmap(64, 64));
        icon->setAlignment(Qt::AlignCenter);
        layout->addWidget(icon);

        auto *name = new QLabel(QStringLiteral("Wakora"), panel);
        QFont bold = name->font();
        bold.setBold(true);
        bold.setPointSizeF(bold.pointSizeF() * 1.2);
        name->setFont(bold);
        name->setAlignment(Qt::AlignCenter);
        layout->addWidget(name);

        const QString version = QCoreApplication::applicationVersion();
        if (!version.isEmpty()) {
            auto *versionLabel = new QLabel(version, panel);
            versionLabel->setAlignment(Qt::AlignCenter);
            layout->addWidget(versionLabel);
        }

        // The credits: the home page's host, linking to the page itself.
        const QUrl url = homepageUrl();
        auto *credits = new QLabel(panel);
        credits->setObjectName(QStringLiteral("about.credits"));
        credits->setTextFormat(Qt::RichText);
        credits->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                             .arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped(), url.host().toHtmlEscaped()));
        credits->setOpenExternalLinks(true);
        credits->setAlignment(Qt::AlignCenter);
        QFont small = credits->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        credits->setFont(small);
        layout->addWidget(credits);
        m_aboutPanel = panel;
    }
    m_aboutPanel->show();
    m_aboutPanel->raise();
    m_aboutPanel->activateWindow();
}
