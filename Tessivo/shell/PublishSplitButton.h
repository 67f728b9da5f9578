#pragma once

#include "shell/core/StandaloneHtml.h"

#include <QWidget>

class QAbstractButton;
class QMenu;

// The header's dark pill: the main part publishes the document (or manages
// its published link); the caret opens a menu that saves the document as
// Markdown or HTML or copies its Markdown.
class PublishSplitButton final : public QWidget
{
    Q_OBJECT

public:
    explicit PublishSplitButton(QWidget *parent = nullptr);

    bool isPublished() const { return m_published; }
    void setPublished(bool published);

    // The main part's label and tooltip, which follow isPublished().
    QString title() const;
    QString help() const;

    QAbstractButton *mainButton() const { return m_main; }
    QAbstractButton *caretButton() const { return m_caret; }
    QMenu *menu() const { return m_menu; }

Q_SIGNALS:
    void publishRequested();
    void exportRequested(ExportFormat format);
    void copyMarkdownRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refresh();

    bool m_published = false;
    QAbstractButton *m_main;
    QAbstractButton *m_caret;
    QMenu *m_menu;
};
