#include "publishing/MediaLibrarySheet.h"
#include "publishing/PublishSheet.h"
#include "publishing/PublishToastHost.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

void buildNotice(QDialog *dialog, const QString &title, const QString &text)
{
    dialog->setWindowTitle(title);
    dialog->setModal(true);
    auto *layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(14);
    auto *heading = new QLabel(title, dialog);
    QFont font = heading->font();
    font.setWeight(QFont::DemiBold);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    heading->setFont(font);
    layout->addWidget(heading);
    auto *label = new QLabel(text, dialog);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->setMinimumWidth(380);
}

} // namespace

PublishSheet::PublishSheet(const QString &documentID, QWidget *parent)
    : QDialog(parent), m_documentID(documentID)
{
    buildNotice(this, u"Publish"_s, unavailableText());
}

QString PublishSheet::unavailableText()
{
    return u"Publishing documents as read-only links is not available yet in this version of Tessivo."_s;
}

MediaLibrarySheet::MediaLibrarySheet(std::function<void(const ImageAsset &)> onInsert, QWidget *parent)
    : QDialog(parent), m_onInsert(std::move(onInsert))
{
    buildNotice(this, u"Media Library"_s, unavailableText());
}

QString MediaLibrarySheet::unavailableText()
{
    return u"The media library is not available yet in this version of Tessivo."_s;
}

PublishToastHost::PublishToastHost(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    hide();
}
