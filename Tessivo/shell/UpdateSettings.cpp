#include "shell/UpdateSettings.h"

#include "shell/SettingsSection.h"
#include "shell/core/BundleInfo.h"
#include "shell/core/UpdaterController.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

UpdateSettings::UpdateSettings(UpdaterController *updater, QWidget *parent)
    : QWidget(parent), m_updater(updater),
      m_automatic(new QCheckBox(QStringLiteral("Check for updates automatically"))),
      m_check(new QPushButton(QStringLiteral("Check for Updates\u2026")))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(18);

    auto *updates = new SettingsSection({}, this);
    m_automatic->setEnabled(m_updater->isConfigured());
    updates->addRow(m_automatic);
    m_check->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto *checkRow = new QWidget;
    auto *checkLayout = new QHBoxLayout(checkRow);
    checkLayout->setContentsMargins(0, 0, 0, 0);
    checkLayout->addWidget(m_check);
    checkLayout->addStretch(1);
    updates->addRow(checkRow);
    updates->setFooter(m_updater->isConfigured()
                           ? QStringLiteral("Updates are delivered and verified with the app's signing key.")
                           : QStringLiteral("Updates aren't configured for this build."));
    m_footer = updates->footer();
    layout->addWidget(updates);

    auto *about = new SettingsSection({}, this);
    m_version = about->addValueRow(QStringLiteral("Version"), BundleInfo::versionText());
    layout->addWidget(about);

    const auto followCanCheck = [this] { m_check->setEnabled(m_updater->canCheckForUpdates()); };
    followCanCheck();
    connect(m_updater, &UpdaterController::canCheckForUpdatesChanged, this, followCanCheck);
    connect(m_check, &QPushButton::clicked, m_updater, &UpdaterController::checkForUpdates);
    // Only the user's changes and the refresh on showing reach the
    // framework; writing back the value just read changes nothing there.
    connect(m_automatic, &QCheckBox::toggled, m_updater,
            &UpdaterController::setAutomaticallyChecksForUpdates);
}

void UpdateSettings::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        m_automatic->setChecked(m_updater->automaticallyChecksForUpdates());
}
