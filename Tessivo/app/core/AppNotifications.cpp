#include "app/core/AppNotifications.h"

void AppNotifications::post(const QString &name, const QVariantMap &userInfo)
{
    Q_EMIT posted(name, userInfo);
    if (name == publishDocument) {
        Q_EMIT publishDocumentRequested();
    } else if (name == deleteDocument) {
        Q_EMIT deleteDocumentRequested();
    } else if (name == newCollection) {
        Q_EMIT newCollectionRequested();
    } else if (name == toggleSidebar) {
        Q_EMIT toggleSidebarRequested();
    } else if (name == toggleCommandPalette) {
        Q_EMIT toggleCommandPaletteRequested();
    } else if (name == openMediaLibrary) {
        const QVariant range = userInfo.value(rangeKey);
        Q_EMIT openMediaLibraryRequested(range.isValid() && range.canConvert<TextRange>()
                                             ? std::optional(range.value<TextRange>())
                                             : std::nullopt);
    } else if (name == aiAssist) {
        const QVariant mode = userInfo.value(modeKey);
        Q_EMIT aiAssistRequested(mode.typeId() == QMetaType::QString ? mode.toString() : QString());
    }
}
