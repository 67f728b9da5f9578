#include "publishing/MediaLibrarySheet.h"

#include "publishing/PublishingNotice.h"

using namespace Qt::StringLiterals;

MediaLibrarySheet::MediaLibrarySheet(std::function<void(const ImageAsset &)> onInsert, QWidget *parent)
    : QDialog(parent), m_onInsert(std::move(onInsert))
{
    buildUnavailableNotice(this, u"Media Library"_s, unavailableText());
}

QString MediaLibrarySheet::unavailableText()
{
    return u"The media library is not available yet in this version of Tessivo."_s;
}
