#pragma once

#include <QWidget>

class DocumentStore;
class QPushButton;

// What the detail pane shows when no document is open: a short note and a
// "New Document" button, which Return also presses.
class EmptyDetailView final : public QWidget
{
    Q_OBJECT

public:
    // Works on `store` (not owned; must outlive the view).
    explicit EmptyDetailView(DocumentStore *store, QWidget *parent = nullptr);

    QPushButton *newDocumentButton() const { return m_button; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void createDocument();

    DocumentStore *m_store;
    QPushButton *m_button;
};
