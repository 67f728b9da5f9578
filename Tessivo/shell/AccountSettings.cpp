#include "shell/AccountSettings.h"

#include "service/core/AuthManager.h"
#include "service/core/SyncEngine.h"
#include "shell/BusyIndicator.h"
#include "shell/SettingsSection.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

QString displayName(AuthManager::Provider provider)
{
    switch (provider) {
    case AuthManager::Provider::github:
        return QStringLiteral("GitHub");
    case AuthManager::Provider::google:
        return QStringLiteral("Google");
    }
    return {};
}

// A provider button: its text at the leading edge and, while a sign-in
// runs, the small progress indicator at the trailing edge.
QPushButton *providerButton(const QString &text, BusyIndicator **busy)
{
    auto *button = new QPushButton;
    auto *layout = new QHBoxLayout(button);
    layout->setContentsMargins(12, 0, 10, 0);
    auto *label = new QLabel(text, button);
    label->setTextFormat(Qt::PlainText);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(label);
    layout->addStretch(1);
    *busy = new BusyIndicator(button);
    layout->addWidget(*busy);
    button->setAccessibleName(text);
    button->setMinimumHeight(30);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return button;
}

} // namespace

AccountSettings::AccountSettings(AuthManager *auth, SyncEngine &sync, QWidget *parent)
    : QWidget(parent), m_auth(auth), m_sync(&sync)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(18);

    m_signedIn = new SettingsSection(QStringLiteral("Signed in"), this);
    m_name = m_signedIn->addValueRow(QStringLiteral("Name"));
    m_email = m_signedIn->addValueRow(QStringLiteral("Email"));
    layout->addWidget(m_signedIn);

    m_actions = new SettingsSection({}, this);
    auto *buttons = new QWidget;
    auto *buttonsLayout = new QHBoxLayout(buttons);
    buttonsLayout->setContentsMargins(0, 0, 0, 0);
    m_syncNow = new QPushButton(QStringLiteral("Sync Now"), buttons);
    m_signOut = new QPushButton(QStringLiteral("Sign Out"), buttons);
    buttonsLayout->addWidget(m_syncNow);
    buttonsLayout->addStretch(1);
    buttonsLayout->addWidget(m_signOut);
    m_actions->addRow(buttons);
    layout->addWidget(m_actions);
    // The calls are not tied to the tab: they run to their end even when
    // the window closes.
    connect(m_syncNow, &QPushButton::clicked, this, [this] { m_sync->sync(); });
    connect(m_signOut, &QPushButton::clicked, this, [this] { m_auth->signOut(false); });

    m_signIn = new SettingsSection(QStringLiteral("Sign in"), this);
    for (const AuthManager::Provider provider : AuthManager::allProviders()) {
        BusyIndicator *busy = nullptr;
        QPushButton *button = providerButton(QStringLiteral("Continue with ") + displayName(provider), &busy);
        button->setObjectName(QStringLiteral("signIn-") + AuthManager::rawValue(provider));
        connect(button, &QPushButton::clicked, this, [this, provider] { m_auth->signIn(provider); });
        m_signIn->addRow(button);
        m_providers.append(button);
        m_busy.append(busy);
    }
    // While the browser has the sign-in page, the user may give up on it
    // from here: the page may never come back to the app.
    m_cancel = new QPushButton(QStringLiteral("Cancel"));
    auto *cancelRow = new QWidget;
    auto *cancelLayout = new QHBoxLayout(cancelRow);
    cancelLayout->setContentsMargins(0, 0, 0, 0);
    cancelLayout->addStretch(1);
    cancelLayout->addWidget(m_cancel);
    m_cancelRow = m_signIn->addRow(cancelRow);
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_auth->cancelSignIn(); });
    layout->addWidget(m_signIn);

    m_errorSection = new SettingsSection({}, this);
    m_error = new QLabel;
    m_error->setObjectName(QStringLiteral("accountError"));
    m_error->setTextFormat(Qt::PlainText);
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_errorSection->addRow(m_error);
    layout->addWidget(m_errorSection);

    showInRed();
    for (const auto signal :
         {&AuthManager::tokenChanged, &AuthManager::readingChanged, &AuthManager::userChanged,
          &AuthManager::isSigningInChanged, &AuthManager::lastErrorChanged})
        connect(m_auth, signal, this, &AccountSettings::render);
    render();
}

// The destructive button's label and the error line in the desktop's red,
// a lighter one on dark palettes where the dark red would not read.
void AccountSettings::showInRed()
{
    const bool dark = palette().color(QPalette::Window).lightnessF() < 0.5;
    const QColor red = dark ? QColor(0xff, 0x7b, 0x63) : QColor(0xc0, 0x1c, 0x28);
    QPalette button = palette();
    button.setColor(QPalette::Active, QPalette::ButtonText, red);
    button.setColor(QPalette::Inactive, QPalette::ButtonText, red);
    m_signOut->setPalette(button);
    QPalette text = palette();
    text.setColor(QPalette::WindowText, red);
    m_error->setPalette(text);
}

void AccountSettings::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        showInRed();
}

void AccountSettings::render()
{
    const bool signedIn = m_auth->isSignedIn();
    const QString none = QStringLiteral("\u2014");
    const std::optional<MeResponse::User> &user = m_auth->user();
    m_name->setText(user ? user->name : none);
    m_email->setText(user ? user->email : none);
    // While the keyring is read, neither the account nor the sign-in
    // buttons: which one applies is not known yet.
    const bool reading = m_auth->isReading();
    m_signedIn->setVisible(signedIn);
    m_actions->setVisible(signedIn);

    m_signIn->setVisible(!signedIn && !reading);
    const bool signingIn = m_auth->isSigningIn();
    for (QPushButton *button : std::as_const(m_providers))
        button->setEnabled(!signingIn);
    for (BusyIndicator *busy : std::as_const(m_busy))
        busy->setVisible(signingIn);
    m_cancelRow->setVisible(m_auth->isWaitingForCallback());

    m_error->setText(m_auth->lastError().value_or(QString()));
    m_errorSection->setVisible(m_auth->lastError().has_value());
    Q_EMIT contentChanged();
}

void AccountSettings::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Coming back from a minimised window is not the tab coming on screen.
    if (event->spontaneous())
        return;
    // Deliberately not kept or cancelled: see the class comment.
    m_auth->refreshMe();
}
