#include "shell/GeneralSettings.h"

#include "KeyboardShortcuts/Recorder.h"
#include "KeyboardShortcuts/core/KeyboardShortcuts.h"
#include "app/core/AppShortcuts.h"
#include "app/core/GlobalShortcutNames.h"
#include "shell/SettingsSection.h"
#include "shell/core/DetailViewMode.h"

#include <QComboBox>
#include <QKeySequence>
#include <QVBoxLayout>

namespace {

QString shown(const QString &portable)
{
    return QKeySequence(portable).toString(QKeySequence::NativeText);
}

QString optionText(ViewMode mode)
{
    switch (mode) {
    case ViewMode::editor:
        return QStringLiteral("Editor");
    case ViewMode::split:
        return QStringLiteral("Split");
    case ViewMode::preview:
        return QStringLiteral("Preview");
    }
    return {};
}

// The fixed menu shortcuts named from the same sequences that bind them.
QString footerText()
{
    return QStringLiteral("These work in any app. Menu shortcuts (%1, %2\u20133, %3) are fixed.")
        .arg(shown(AppShortcuts::newDocument), shown(AppShortcuts::viewMode(0)),
             shown(AppShortcuts::publishDocument));
}

} // namespace

GeneralSettings::GeneralSettings(ViewModeSetting *viewMode, KeyboardShortcuts::Registry *shortcuts,
                                 QWidget *parent)
    : QWidget(parent), m_viewMode(viewMode), m_picker(new QComboBox)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 12);
    layout->setSpacing(18);

    auto *layoutSection = new SettingsSection(QStringLiteral("Layout"), this);
    m_picker->setObjectName(QStringLiteral("defaultView"));
    for (const ViewMode mode : ViewModes::all())
        m_picker->addItem(optionText(mode), ViewModes::rawValue(mode));
    layoutSection->addRow(QStringLiteral("Default view"), m_picker);
    layout->addWidget(layoutSection);

    if (shortcuts) {
        auto *section = new SettingsSection(QStringLiteral("Global shortcuts"), this);
        m_newDocument =
            new KeyboardShortcuts::Recorder(QStringLiteral("New document from anywhere:"), shortcuts,
                                            GlobalShortcutNames::newDocumentAnywhere());
        m_toggleWindow = new KeyboardShortcuts::Recorder(QStringLiteral("Show or hide Tessivo:"), shortcuts,
                                                         GlobalShortcutNames::toggleWindow());
        section->addRow(m_newDocument);
        section->addRow(m_toggleWindow);
        QString footer = footerText();
        // Global hot keys never reach the app under Wayland; say so where the
        // user sets them up instead of letting them fail silently.
        if (KeyboardShortcuts::isWaylandSession())
            footer += QStringLiteral("\nGlobal shortcuts need an X11 session.");
        section->setFooter(footer);
        layout->addWidget(section);
    }

    showMode();
    connect(m_viewMode, &ViewModeSetting::modeChanged, this, &GeneralSettings::showMode);
    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        m_viewMode->setMode(ViewModes::fromRaw(m_picker->itemData(index).toString()));
    });
}

void GeneralSettings::showMode()
{
    const int index = m_picker->findData(ViewModes::rawValue(m_viewMode->mode()));
    if (index != m_picker->currentIndex())
        m_picker->setCurrentIndex(index);
}

void GeneralSettings::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // A value written to the settings file behind the app's back.
    m_viewMode->refresh();
    showMode();
}
