#pragma once

#include <QString>

#include <memory>

class QSettings;

// The store's view state: the document open in the editor, mirrored in the
// settings so that the next launch opens it again, and the sidebar's filter
// text. Knows nothing of the records; the store emits the change signals.
class StoreUIState final
{
public:
    // Mirrors in `settings` (not owned, must outlive this; the application's
    // default settings when null).
    explicit StoreUIState(QSettings *settings);
    ~StoreUIState();

    const QString &activeDocumentID() const { return m_activeDocumentID; }
    // False when `id` is already the active one. The settings are not
    // touched here: writing them rewrites and syncs the whole settings file,
    // so the owner mirrors a run of switches once, by writeMirror().
    bool setActiveDocumentID(const QString &id);
    // Writes the active document to the settings (removes the key when
    // there is none) when it differs from what was last written there.
    void writeMirror();

    const QString &searchText() const { return m_searchText; }
    // False when unchanged.
    bool setSearchText(const QString &text);

    // The active document the settings remember (from an earlier run).
    QString savedActiveDocumentID() const;

private:
    QSettings *m_settings = nullptr;
    std::unique_ptr<QSettings> m_ownSettings;
    QString m_activeDocumentID;
    // Whether m_activeDocumentID is newer than what the settings hold.
    bool m_mirrorDue = false;
    QString m_searchText;
};
