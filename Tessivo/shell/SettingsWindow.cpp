#include "shell/SettingsWindow.h"

#include "service/core/AuthManager.h"
#include "service/core/SyncEngine.h"
#include "shell/core/BundleInfo.h"
#include "shell/core/UpdaterController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The account controls until the settings window has its Account tab: sign
// in through the browser (with a way out of a sign-in the browser never
// finishes), who is signed in, sync and sign out.
QWidget *accountSection(QWidget *parent)
{
    AuthManager *auth = AuthManager::shared();
    auto *section = new QWidget(parent);
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 12, 0, 0);

    auto *signedIn = new QWidget(section);
    auto *signedInLayout = new QVBoxLayout(signedIn);
    signedInLayout->setContentsMargins(0, 0, 0, 0);
    auto *who = new QLabel(signedIn);
    who->setTextFormat(Qt::PlainText);
    auto *syncNow = new QPushButton(QStringLiteral("Sync Now"), signedIn);
    auto *signOut = new QPushButton(QStringLiteral("Sign Out"), signedIn);
    signedInLayout->addWidget(who);
    signedInLayout->addWidget(syncNow);
    signedInLayout->addWidget(signOut);
    QObject::connect(syncNow, &QPushButton::clicked, section, [] { SyncEngine::shared()->sync(); });
    QObject::connect(signOut, &QPushButton::clicked, section, [auth] { auth->signOut(false); });

    auto *signedOut = new QWidget(section);
    auto *signedOutLayout = new QVBoxLayout(signedOut);
    signedOutLayout->setContentsMargins(0, 0, 0, 0);
    QList<QPushButton *> providers;
    for (const AuthManager::Provider provider : AuthManager::allProviders()) {
        const QString name =
            provider == AuthManager::Provider::github ? QStringLiteral("GitHub") : QStringLiteral("Google");
        auto *button = new QPushButton(QStringLiteral("Continue with ") + name, signedOut);
        button->setObjectName(QStringLiteral("signIn-") + AuthManager::rawValue(provider));
        QObject::connect(button, &QPushButton::clicked, section,
                         [auth, provider] { auth->signIn(provider); });
        signedOutLayout->addWidget(button);
        providers << button;
    }
    auto *waiting = new QWidget(signedOut);
    auto *waitingLayout = new QHBoxLayout(waiting);
    waitingLayout->setContentsMargins(0, 0, 0, 0);
    auto *spinner = new QProgressBar(waiting);
    spinner->setRange(0, 0);
    spinner->setMaximumHeight(8);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), waiting);
    waitingLayout->addWidget(spinner, 1);
    waitingLayout->addWidget(cancel);
    signedOutLayout->addWidget(waiting);
    QObject::connect(cancel, &QPushButton::clicked, section, [auth] { auth->cancelSignIn(); });

    auto *error = new QLabel(section);
    error->setTextFormat(Qt::PlainText);
    error->setWordWrap(true);
    error->setStyleSheet(QStringLiteral("color: red"));
    layout->addWidget(signedIn);
    layout->addWidget(signedOut);
    layout->addWidget(error);

    const auto refresh = [=] {
        signedIn->setVisible(auth->isSignedIn());
        signedOut->setVisible(!auth->isSignedIn());
        const QString em = QStringLiteral("\u2014");
        who->setText(
            QStringLiteral("Name: %1\nEmail: %2")
                .arg(auth->user() ? auth->user()->name : em, auth->user() ? auth->user()->email : em));
        for (QPushButton *button : providers)
            button->setEnabled(!auth->isSigningIn());
        waiting->setVisible(auth->isSigningIn());
        cancel->setVisible(auth->isWaitingForCallback());
        error->setVisible(auth->lastError().has_value());
        error->setText(auth->lastError().value_or(QString()));
    };
    for (const auto signal : {&AuthManager::tokenChanged, &AuthManager::userChanged,
                              &AuthManager::isSigningInChanged, &AuthManager::lastErrorChanged})
        QObject::connect(auth, signal, section, refresh);
    refresh();
    return section;
}

} // namespace

SettingsWindow::SettingsWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("settings"));
    setWindowTitle(QStringLiteral("Settings"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->addWidget(new QLabel(
        QStringLiteral("<b>Tessivo</b> %1 (%2)").arg(BundleInfo::shortVersion(), BundleInfo::bundleVersion()),
        this));
    if (!UpdaterController::shared()->isConfigured())
        layout->addWidget(new QLabel(QStringLiteral("Updates are not configured for this build."), this));
    layout->addWidget(accountSection(this));
    layout->addStretch();
    resize(480, 200);
}

void SettingsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    AuthManager::shared()->refreshMe();
}
