#pragma once

#include "editor/PreviewWebView.h"

#include <QQuickWindow>
#include <QStandardPaths>

// For a test that shows the real preview page: the app's files kept apart
// from the user's, drawn in software as the app draws it, the page taken
// from the build tree. False when the page is not there.
inline bool usePreviewFromBuildTree()
{
    QStandardPaths::setTestModeEnabled(true);
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    PreviewWebView::setResourceFolder(QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/Preview"));
    return !PreviewWebView::resourceFolder().isEmpty();
}
