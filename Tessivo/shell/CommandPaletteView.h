#pragma once

#include "shell/core/CommandPaletteModel.h"
#include "widgets/PanelShadow.h"

#include <QWidget>

#include <functional>

class AppServices;
class DocumentStore;
class QFontMetrics;
class QLabel;
class QLineEdit;
class QScrollArea;
class ViewModeSetting;
class PaletteList;

// The floating search panel over the main window: one field searching a
// mixed list of documents, actions, collections and view commands. Up and
// Down move the highlight (wrapping), Return runs it, Escape closes; a click
// runs a row, hovering highlights it.
class CommandPaletteView final : public QWidget
{
    Q_OBJECT

public:
    // Works on the app's `services` (not owned; must outlive the view).
    CommandPaletteView(bool sidebarVisible, std::function<void()> dismiss, AppServices &services,
                       QWidget *parent = nullptr);

    CommandPaletteModel *model() const { return m_model; }
    // Back to how a new palette starts, to be shown again: an empty query,
    // the first entry selected, the list at its top, the field taking the
    // keyboard once shown.
    void reset(bool sidebarVisible);
    QLineEdit *searchField() const { return m_field; }
    // Rectangle of the shown entry at `index`, in this widget's coordinates
    // (empty when not laid out).
    QRect rowRect(int index) const;
    bool showsEmptyMessage() const;

    static constexpr int panelWidth = 580;
    // The panel's shadow, which the layer beneath it paints.
    static inline const PanelShadow::Look shadow{12, 30, {0, 12}, QColor(0, 0, 0, 71)};

    // The title of `item` as a row `width` pixels wide shows it: whole when
    // it fits; else its elidable span (the document's title in a move row)
    // gives way first, then the start, so the end always shows.
    static QString fittedTitle(const CommandPaletteModel::Item &item, const QFontMetrics &metrics, int width);
    // The text the shown entry at `index` draws (for tests).
    QString shownTitle(int index) const;
    // The platform notation of a portable shortcut text ("Ctrl+Shift+P").
    static QString shortcutText(const QString &portable);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void rebuild();
    void scrollToSelection();

    CommandPaletteModel *m_model;
    QLineEdit *m_field;
    QScrollArea *m_scroll;
    PaletteList *m_list;
    QWidget *m_empty;
    bool m_focusRequested = false;
    // The list changed while hidden.
    bool m_stale = false;
};
