#include "app/core/AppNotifications.h"

AppNotifications *AppNotifications::instance()
{
    static AppNotifications *const center = new AppNotifications;
    return center;
}

void AppNotifications::post(const QString &name, const QVariantMap &userInfo)
{
    AppNotifications *bus = instance();
    Q_EMIT bus->posted(name, userInfo);
    if (name == publishDocument) {
        Q_EMIT bus->publishDocumentRequested();
    } else if (name == deleteDocument) {
        Q_EMIT bus->deleteDocumentRequested();
    } else if (name == newCollection) {
        Q_EMIT bus->newCollectionRequested();
    } else if (name == toggleSidebar) {
        Q_EMIT bus->toggleSidebarRequested();
    } else if (name == toggleCommandPalette) {
        Q_EMIT bus->toggleCommandPaletteRequested();
    } else if (name == openMediaLibrary) {
        const QVariant range = userInfo.value(rangeKey);
        Q_EMIT bus->openMediaLibraryRequested(range.isValid() && range.canConvert<TextRange>()
                                                  ? std::optional(range.value<TextRange>())
                                                  : std::nullopt);
    } else if (name == aiAssist) {
        const QVariant mode = userInfo.value(modeKey);
        Q_EMIT bus->aiAssistRequested(mode.typeId() == QMetaType::QString ? mode.toString() : QString());
    }
}
