#pragma once

#include "assistant/core/RefineAction.h"

#include <QObject>
#include <QString>

// The state of the AI menu: what the view shows and edits, turned into one
// of three requests (run a preset, run the typed prompt, close). Setters
// notify only when the value changes; writing the query puts the highlight
// back on the first row, and the query, phase and header height ask the
// panel to lay itself out again (relayoutRequested).
class AIMenuModel final : public QObject
{
    Q_OBJECT

public:
    // What is shown under the header.
    struct Phase
    {
        enum class Kind { Idle, Streaming, Error };
        Kind kind = Kind::Idle;
        QString text; // the status (streaming) or the message (error)

        static Phase idle() { return {}; }
        static Phase streaming(const QString &status) { return {Kind::Streaming, status}; }
        static Phase error(const QString &message) { return {Kind::Error, message}; }
        friend bool operator==(const Phase &, const Phase &) = default;
    };

    static constexpr double defaultHeaderHeight = 44;

    using QObject::QObject;

    bool isGenerate() const { return m_isGenerate; }
    void setGenerate(bool generate);
    const QString &query() const { return m_query; }
    void setQuery(const QString &query);
    int selection() const { return m_selection; }
    void setSelection(int selection);
    const Phase &phase() const { return m_phase; }
    void setPhase(const Phase &phase);
    int focusTick() const { return m_focusTick; }
    void requestFocus();
    double headerHeight() const { return m_headerHeight; }
    void setHeaderHeight(double height);

    // The preset rows: none while generating, else the presets filtered by
    // the query.
    QList<RefineAction> filteredPresets() const;
    // A refine query with text offers itself as row 0.
    bool showsCustomRow() const;
    int rowCount() const;

    // Moves the highlight by `delta` rows, wrapping around.
    void moveSelection(int delta);
    // Runs the highlighted row (or the prompt while generating).
    void submit();

Q_SIGNALS:
    void generateChanged();
    void queryChanged();
    void selectionChanged();
    void phaseChanged();
    void focusTickChanged();
    void headerHeightChanged();
    void relayoutRequested();

    void presetChosen(const RefineAction &action);
    void customChosen();
    void closeRequested();

private:
    bool m_isGenerate = false;
    QString m_query;
    int m_selection = 0;
    Phase m_phase;
    int m_focusTick = 0;
    double m_headerHeight = defaultHeaderHeight;
};
