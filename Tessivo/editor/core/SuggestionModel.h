#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

// What the wiki-link completion list shows: the candidate titles and the
// highlighted row. Setting a value equal to the current one notifies nobody.
class SuggestionModel final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList items READ items WRITE setItems NOTIFY itemsChanged)
    Q_PROPERTY(int selection READ selection WRITE setSelection NOTIFY selectionChanged)

public:
    explicit SuggestionModel(QObject *parent = nullptr);

    const QStringList &items() const { return m_items; }
    void setItems(const QStringList &items);
    int selection() const { return m_selection; }
    void setSelection(int selection);

    // Moves the highlight by `delta` rows, wrapping from the last row to the
    // first and back. Nothing when the list is empty.
    void move(int delta);

    // Called when a row is clicked, with its index.
    std::function<void(int)> onPick = [](int) {};

Q_SIGNALS:
    void itemsChanged();
    void selectionChanged();

private:
    QStringList m_items;
    int m_selection = 0;
};
