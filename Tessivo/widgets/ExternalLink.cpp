#include "widgets/ExternalLink.h"

#include <QDesktopServices>
#include <QMessageBox>

namespace ExternalLink {

bool open(const QUrl &url, QWidget *parent, const Opener &opener)
{
    const bool opened = opener ? opener(url) : QDesktopServices::openUrl(url);
    if (opened)
        return true;
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("Tessivo"));
    box->setTextFormat(Qt::PlainText);
    box->setText(QStringLiteral("The link couldn\u2019t be opened."));
    // Fully encoded, so that no angle bracket in the address reads as markup.
    box->setInformativeText(
        QStringLiteral("No web browser could be started for %1.").arg(url.toString(QUrl::FullyEncoded)));
    box->setStandardButtons(QMessageBox::Ok);
    box->open();
    return false;
}

} // namespace ExternalLink
