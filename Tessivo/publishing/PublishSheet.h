#pragma once

#include <QDialog>
#include <QString>

// The sheet that publishes, updates or unpublishes a document as a read-only
// link. Publishing is not part of this build yet: the sheet says so.
class PublishSheet final : public QDialog
{
    Q_OBJECT

public:
    explicit PublishSheet(const QString &documentID, QWidget *parent = nullptr);

    QString documentID() const { return m_documentID; }
    static QString unavailableText();

private:
    QString m_documentID;
};
