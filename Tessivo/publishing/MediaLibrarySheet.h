#pragma once

#include "publishing/core/ImageAsset.h"

#include <QDialog>

#include <functional>

// The sheet of the user's image library; `onInsert` receives the image the
// user picks. The library is not part of this build yet: the sheet says so
// and never calls `onInsert`.
class MediaLibrarySheet final : public QDialog
{
    Q_OBJECT

public:
    explicit MediaLibrarySheet(std::function<void(const ImageAsset &)> onInsert, QWidget *parent = nullptr);

    static QString unavailableText();

private:
    std::function<void(const ImageAsset &)> m_onInsert;
};
