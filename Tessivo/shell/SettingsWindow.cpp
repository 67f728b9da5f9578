#include "shell/SettingsWindow.h"

#include "shell/core/BundleInfo.h"
#include "shell/core/UpdaterController.h"

#include <QLabel>
#include <QVBoxLayout>

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
    layout->addStretch();
    resize(480, 200);
}
