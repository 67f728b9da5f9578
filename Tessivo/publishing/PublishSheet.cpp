#include "publishing/PublishSheet.h"

#include "publishing/PublishingNotice.h"

using namespace Qt::StringLiterals;

PublishSheet::PublishSheet(const QString &documentID, QWidget *parent)
    : QDialog(parent), m_documentID(documentID)
{
    buildUnavailableNotice(this, u"Publish"_s, unavailableText());
}

QString PublishSheet::unavailableText()
{
    return u"Publishing documents as read-only links is not available yet in this version of Tessivo."_s;
}
