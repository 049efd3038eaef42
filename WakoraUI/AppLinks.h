#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

// The two ways out of the application: the product's home page in the
// browser, and the about panel whose credits link to it. One shared
// instance serves as the target of both menu items. Main thread only.
class AppLinks : public QObject
{
    Q_OBJECT

public:
    // The product's home page, without a language path.
    static constexpr const char *homepageBase = "https://wakora.quorvel.com";

    static AppLinks &shared();

    // The home page for the first of `preferredLanguages` (BCP 47 tags such
    // as "en-US" or "ja"): English and Japanese have their own path, every
    // other language the site's root.
    static QUrl homepageUrl(const QStringList &preferredLanguages);
    // The same for the user's interface languages.
    static QUrl homepageUrl();

    // The about panel while it is open.
    QDialog *aboutPanel() const { return m_aboutPanel; }

public Q_SLOTS:
    void openHomepage();
    void showAbout();

private:
    using QObject::QObject;

    QPointer<QDialog> m_aboutPanel;
};
