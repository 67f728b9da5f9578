#include "shell/core/UpdaterController.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

UpdaterController::UpdaterController(const QVariant &publicKey, BackendFactory factory, QObject *parent)
    : QObject(parent)
{
    m_isConfigured = isUsableKey(publicKey);
    if (!m_isConfigured || !factory)
        return;
    m_controller = factory();
    if (!m_controller)
        return;
    m_controller->start();
    QPointer<UpdaterController> self(this);
    m_controller->observeCanCheckForUpdates([self](bool value) {
        // Reports may come from any thread: the flag is only written on the
        // controller's own thread, in the order the reports arrive.
        QObject *context = QCoreApplication::instance();
        if (!context)
            return;
        QMetaObject::invokeMethod(
            context,
            [self, value] {
                if (self)
                    self->setCanCheckForUpdates(value);
            },
            Qt::QueuedConnection);
    });
}

UpdaterController::~UpdaterController() = default;

bool UpdaterController::isUsableKey(const QVariant &publicKey)
{
    if (publicKey.typeId() != QMetaType::QString)
        return false;
    const QString key = publicKey.toString();
    return !key.isEmpty() && !key.startsWith(QStringLiteral("REPLACE_WITH"));
}

void UpdaterController::checkForUpdates()
{
    if (m_controller)
        m_controller->checkForUpdates();
}

bool UpdaterController::automaticallyChecksForUpdates() const
{
    return m_controller ? m_controller->automaticallyChecksForUpdates() : false;
}

void UpdaterController::setAutomaticallyChecksForUpdates(bool on)
{
    if (m_controller)
        m_controller->setAutomaticallyChecksForUpdates(on);
}

void UpdaterController::setCanCheckForUpdates(bool value)
{
    if (m_canCheckForUpdates == value)
        return;
    m_canCheckForUpdates = value;
    Q_EMIT canCheckForUpdatesChanged();
}
