#include "publishing/MediaLibrarySheet.h"

#include "editor/core/ImageTypes.h"
#include "publishing/ActivitySpinner.h"
#include "publishing/MediaTileImages.h"
#include "publishing/core/ImageLibrary.h"
#include "store/DocumentStore.h"
#include "widgets/Icon.h"
#include "widgets/Motion.h"

#include <QAbstractListModel>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

constexpr int tileMinWidth = 132;
constexpr int tileMaxWidth = 180;
constexpr int tileSpacing = 10;
constexpr int gridPadding = 14;
constexpr int imageHeight = 104;
constexpr int nameGap = 6;
// The footer status and the drop overlay come and go over 0.15 s, easing out.
constexpr int statusFadeMs = 150;

QFont sizedFont(const QFont &base, int pixels, QFont::Weight weight = QFont::Normal)
{
    QFont font = base;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QColor faded(QColor color, qreal opacity)
{
    color.setAlphaF(color.alphaF() * opacity);
    return color;
}

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, faded(palette.color(QPalette::WindowText), 0.15));
    line->setPalette(palette);
    return line;
}

QList<QUrl> localFiles(const QMimeData *mime)
{
    QList<QUrl> files;
    if (!mime || !mime->hasUrls())
        return files;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile())
            files << url;
    }
    return files;
}

// The dashed accent frame over the sheet while files are dragged over it.
class DropOverlay final : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor accent = palette().color(QPalette::Highlight);
        const QRectF frame = QRectF(rect()).adjusted(1, 1, -1, -1);
        QPainterPath path;
        path.addRoundedRect(frame, 10, 10);
        painter.fillPath(path, faded(accent, 0.06));
        QPen pen(accent, 2);
        pen.setDashPattern({3, 2}); // 6 on, 4 off at width 2
        painter.setPen(pen);
        painter.drawPath(path);
    }
};

// The grid view: tiles of an adaptive width between 132 and 180 pixels, as
// many columns as fit, centred.
class TileGrid final : public QListView
{
public:
    explicit TileGrid(QWidget *parent) : QListView(parent) {}

    QSize tileSize() const { return m_tile; }

    void relayout()
    {
        const int scrollBar = verticalScrollBar()->sizeHint().width();
        const int available =
            std::max(tileMinWidth, width() - 2 * frameWidth() - scrollBar - 2 * gridPadding);
        const int columns = std::max(1, (available + tileSpacing) / (tileMinWidth + tileSpacing));
        const int tileWidth = std::min(tileMaxWidth, (available - (columns - 1) * tileSpacing) / columns);
        const int nameHeight = QFontMetrics(sizedFont(font(), 11)).height();
        m_tile = QSize(tileWidth, imageHeight + nameGap + nameHeight);
        const int used = columns * tileWidth + (columns - 1) * tileSpacing;
        const int side = gridPadding - tileSpacing / 2 + (available - used) / 2;
        setViewportMargins(side, gridPadding - tileSpacing / 2,
                           side + scrollBar - verticalScrollBar()->width(), gridPadding - tileSpacing / 2);
        setGridSize(m_tile + QSize(tileSpacing, tileSpacing));
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QListView::resizeEvent(event);
        relayout();
    }

private:
    QSize m_tile{tileMinWidth, imageHeight + 20};
};

// One tile: the picture (or its loading arc, or the image icon when it could
// not be loaded) in a rounded frame that brightens under the pointer, and
// the file name below, shortened in the middle.
class TileDelegate final : public QStyledItemDelegate
{
public:
    TileDelegate(TileGrid *grid, MediaTileImages *images)
        : QStyledItemDelegate(grid), m_grid(grid), m_images(images)
    {}

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        return m_grid->tileSize();
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const ImageAsset asset = index.data(Qt::UserRole).value<ImageAsset>();
        const QPalette &palette = option.palette;
        const QColor primary = palette.color(QPalette::Text);
        const QSize tile = m_grid->tileSize();
        const QRect cell(option.rect.center() - QPoint(tile.width() / 2, tile.height() / 2), tile);
        const QRectF imageRect(cell.left(), cell.top(), cell.width(), imageHeight);

        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        QPainterPath frame;
        frame.addRoundedRect(imageRect, 8, 8);
        painter->fillPath(frame, faded(primary, 0.05));

        QImage picture;
        switch (m_images->image(asset.url, &picture)) {
        case MediaTileImages::State::loaded: {
            painter->save();
            painter->setClipPath(frame);
            // Scaled to fill: the middle of the picture, cut to the frame.
            const QSizeF filled =
                QSizeF(picture.size()).scaled(imageRect.size(), Qt::KeepAspectRatioByExpanding);
            const QRectF target(imageRect.center() - QPointF(filled.width() / 2, filled.height() / 2),
                                filled);
            painter->drawImage(target, picture);
            painter->restore();
            break;
        }
        case MediaTileImages::State::loading:
            ActivitySpinner::paintArc(painter, QRectF(imageRect.center() - QPointF(8, 8), QSizeF(16, 16)),
                                      Icon::secondaryColor(palette), 0);
            break;
        case MediaTileImages::State::failed: {
            const qreal dpr = painter->device()->devicePixelRatioF();
            const QPixmap icon = Icon::pixmap(IconName::image, 24, Icon::tertiaryColor(palette), dpr);
            painter->drawPixmap(imageRect.center() - QPointF(12, 12), icon);
            break;
        }
        }

        const bool hovering = option.state.testFlag(QStyle::State_MouseOver);
        painter->setPen(QPen(faded(primary, hovering ? 0.35 : 0.1), 1));
        QPainterPath border;
        border.addRoundedRect(imageRect.adjusted(0.5, 0.5, -0.5, -0.5), 7.5, 7.5);
        painter->drawPath(border);

        const QFont nameFont = sizedFont(option.font, 11);
        painter->setFont(nameFont);
        painter->setPen(Icon::secondaryColor(palette));
        const QRect nameRect(cell.left(), cell.top() + imageHeight + nameGap, cell.width(),
                             cell.height() - imageHeight - nameGap);
        const QString name =
            QFontMetrics(nameFont).elidedText(asset.filename, Qt::ElideMiddle, nameRect.width());
        painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter, name);
        painter->restore();
    }

private:
    TileGrid *m_grid;
    MediaTileImages *m_images;
};

} // namespace

// The matches shown by the grid.
class MediaLibrarySheet::GridModel final : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    void setAssets(const QList<ImageAsset> &assets)
    {
        if (assets == m_assets)
            return;
        beginResetModel();
        m_assets = assets;
        endResetModel();
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_assets.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_assets.size())
            return {};
        const ImageAsset &asset = m_assets.at(index.row());
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return asset.filename;
        case Qt::ToolTipRole:
            return u"Insert "_s + asset.filename;
        case Qt::UserRole:
            return QVariant::fromValue(asset);
        default:
            return {};
        }
    }

private:
    QList<ImageAsset> m_assets;
};

MediaLibrarySheet::MediaLibrarySheet(ImageLibrary *library, DocumentStore *store, InsertHandler onInsert,
                                     QWidget *parent)
    : QDialog(parent), m_library(library), m_onInsert(std::move(onInsert)),
      m_state(new MediaLibraryModel(library, store, this))
{
    setWindowTitle(u"Media Library"_s);
    setFixedSize(640, 480);
    setAcceptDrops(true);

    m_tileImages = new MediaTileImages(QSize(2 * tileMaxWidth, 2 * imageHeight), this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildHeader());
    layout->addWidget(divider(this));

    m_content = new QStackedWidget(this);
    m_loadingPage = new QWidget(m_content);
    auto *loadingLayout = new QVBoxLayout(m_loadingPage);
    loadingLayout->addWidget(new ActivitySpinner(16, m_loadingPage), 0, Qt::AlignCenter);
    m_content->addWidget(m_loadingPage);

    auto *grid = new TileGrid(m_content);
    m_grid = grid;
    m_model = new GridModel(this);
    grid->setModel(m_model);
    grid->setItemDelegate(new TileDelegate(grid, m_tileImages));
    grid->setViewMode(QListView::IconMode);
    grid->setMovement(QListView::Static);
    grid->setResizeMode(QListView::Adjust);
    grid->setUniformItemSizes(true);
    grid->setSelectionMode(QAbstractItemView::NoSelection);
    grid->setFrameShape(QFrame::NoFrame);
    grid->setMouseTracking(true);
    grid->viewport()->setAttribute(Qt::WA_Hover);
    grid->setAcceptDrops(false);
    grid->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    grid->setAutoFillBackground(false);
    grid->viewport()->setAutoFillBackground(false);
    grid->viewport()->setCursor(Qt::PointingHandCursor);
    connect(grid, &QListView::clicked, this,
            [this](const QModelIndex &index) { pick(index.data(Qt::UserRole).value<ImageAsset>()); });
    connect(m_tileImages, &MediaTileImages::changed, grid->viewport(), qOverload<>(&QWidget::update));
    m_content->addWidget(grid);
    layout->addWidget(m_content, 1);

    layout->addWidget(divider(this));
    layout->addWidget(buildFooter());

    m_dropOverlay = new DropOverlay(this);
    m_dropOverlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_dropOverlay->hide();

    connect(m_state, &MediaLibraryModel::contentChanged, this, &MediaLibrarySheet::refreshContent);
    connect(m_state, &MediaLibraryModel::uploadChanged, this, &MediaLibrarySheet::refreshFooter);
    connect(m_search, &QLineEdit::textChanged, m_state, &MediaLibraryModel::setQuery);
    connect(m_state, &MediaLibraryModel::queryChanged, this, [this] {
        if (m_search->text() != m_state->query())
            m_search->setText(m_state->query());
    });
    refreshContent();
    refreshFooter();
}

MediaLibrarySheet::~MediaLibrarySheet() = default;

QWidget *MediaLibrarySheet::buildHeader()
{
    auto *header = new QWidget(this);
    header->setFixedHeight(52);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(16, 0, 16, 0);
    row->setSpacing(10);

    auto *icon = new Icon(IconName::search, 16, header);
    icon->setColor(Icon::secondaryColor(palette()));
    row->addWidget(icon);

    m_search = new QLineEdit(header);
    m_search->setFrame(false);
    m_search->setPlaceholderText(u"Search your images…"_s);
    m_search->setFont(sizedFont(font(), 15));
    m_search->setAcceptDrops(false);
    m_search->setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette searchPalette = m_search->palette();
    searchPalette.setColor(QPalette::Base, Qt::transparent);
    m_search->setPalette(searchPalette);
    connect(m_search, &QLineEdit::returnPressed, this, &MediaLibrarySheet::insertFirstMatch);
    row->addWidget(m_search, 1);

    m_uploadButton = new QPushButton(u"Upload"_s, header);
    m_uploadButton->setAutoDefault(false);
    m_uploadButton->setIcon(Icon::icon(IconName::imageUpload, palette().color(QPalette::ButtonText), 14));
    m_uploadButton->setIconSize(QSize(14, 14));
    m_uploadButton->setToolTip(u"Upload images · or drag and drop them here"_s);
    connect(m_uploadButton, &QPushButton::clicked, this, &MediaLibrarySheet::openUploadPanel);
    row->addWidget(m_uploadButton);
    return header;
}

QWidget *MediaLibrarySheet::buildFooter()
{
    auto *footer = new QWidget(this);
    footer->setFixedHeight(48);
    auto *row = new QHBoxLayout(footer);
    row->setContentsMargins(16, 0, 16, 0);
    row->setSpacing(12);

    const QFont caption = sizedFont(font(), 11);
    QPalette secondary = palette();
    secondary.setColor(QPalette::WindowText, Icon::secondaryColor(palette()));
    const auto captionLabel = [&](const QString &text, QWidget *parent) {
        auto *label = new QLabel(text, parent);
        label->setFont(caption);
        label->setPalette(secondary);
        return label;
    };

    m_footerStatus = new QStackedWidget(footer);
    m_footerStatus->setObjectName(u"mediaFooterStatus"_s);
    m_footerStatus->addWidget(
        captionLabel(u"Pick an image to insert it into the current document."_s, m_footerStatus));

    auto *progress = new QWidget(m_footerStatus);
    auto *progressRow = new QHBoxLayout(progress);
    progressRow->setContentsMargins(0, 0, 0, 0);
    progressRow->setSpacing(12);
    progressRow->addWidget(new ActivitySpinner(12, progress));
    m_progressText = captionLabel({}, progress);
    progressRow->addWidget(m_progressText, 1);
    m_footerStatus->addWidget(progress);

    auto *failure = new QWidget(m_footerStatus);
    auto *failureRow = new QHBoxLayout(failure);
    failureRow->setContentsMargins(0, 0, 0, 0);
    failureRow->setSpacing(12);
    auto *alert = new Icon(IconName::alert, 14, failure);
    alert->setColor(QColor(0xE5, 0x48, 0x4D));
    failureRow->addWidget(alert);
    m_errorText = captionLabel({}, failure);
    m_errorText->setWordWrap(true);
    m_errorText->setMaximumHeight(2 * QFontMetrics(caption).lineSpacing());
    failureRow->addWidget(m_errorText, 1);
    m_footerStatus->addWidget(failure);
    m_footerStatus->setGraphicsEffect(new QGraphicsOpacityEffect(m_footerStatus));
    row->addWidget(m_footerStatus, 1);

    auto *cancel = new QPushButton(u"Cancel"_s, footer);
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    row->addWidget(cancel);
    return footer;
}

QWidget *MediaLibrarySheet::placeholder(IconName icon, const QString &title, const QString &message,
                                        QPushButton *accessory)
{
    auto *page = new QWidget(m_content);
    auto *outer = new QVBoxLayout(page);
    outer->setContentsMargins(24, 24, 24, 24);
    outer->addStretch(1);
    auto *column = new QVBoxLayout;
    column->setSpacing(8);
    auto *iconView = new Icon(icon, 30, page);
    iconView->setColor(Icon::tertiaryColor(palette()));
    column->addWidget(iconView, 0, Qt::AlignHCenter);
    auto *titleLabel = new QLabel(title, page);
    titleLabel->setTextFormat(Qt::PlainText);
    titleLabel->setFont(sizedFont(font(), 13, QFont::DemiBold));
    titleLabel->setAlignment(Qt::AlignCenter);
    column->addWidget(titleLabel, 0, Qt::AlignHCenter);
    auto *messageLabel = new QLabel(message, page);
    messageLabel->setTextFormat(Qt::PlainText);
    messageLabel->setFont(sizedFont(font(), 12));
    QPalette secondary = palette();
    secondary.setColor(QPalette::WindowText, Icon::secondaryColor(palette()));
    messageLabel->setPalette(secondary);
    messageLabel->setAlignment(Qt::AlignCenter);
    messageLabel->setWordWrap(true);
    // Wrapped labels size themselves poorly in a centring layout: as wide as
    // the text, at most 360, and as high as that width needs.
    const int width = std::min(360, QFontMetrics(messageLabel->font()).horizontalAdvance(message) + 2);
    messageLabel->setFixedSize(width, messageLabel->heightForWidth(width));
    column->addWidget(messageLabel, 0, Qt::AlignHCenter);
    if (accessory) {
        accessory->setParent(page);
        accessory->setAutoDefault(false);
        column->addSpacing(4);
        column->addWidget(accessory, 0, Qt::AlignHCenter);
    }
    outer->addLayout(column);
    outer->addStretch(1);
    return page;
}

void MediaLibrarySheet::refreshContent()
{
    const Content state = m_state->content();
    if (state == Content::loading) {
        m_content->setCurrentWidget(m_loadingPage);
        return;
    }
    if (state == Content::grid) {
        m_model->setAssets(m_state->matches());
        m_content->setCurrentWidget(m_grid);
        return;
    }
    QWidget *page = nullptr;
    if (state == Content::loadError) {
        auto *retry = new QPushButton(u"Try Again"_s);
        connect(retry, &QPushButton::clicked, m_library, [library = m_library] { library->load(true); });
        page = placeholder(IconName::alert, u"Couldn't load your media library"_s,
                           m_library->error().value_or(QString()), retry);
    } else if (state == Content::noMatches) {
        page = placeholder(IconName::search, u"No matches"_s,
                           u"No image names match \u201C"_s + query() + u"\u201D."_s, nullptr);
    } else {
        auto *upload = new QPushButton(u"Upload Images…"_s);
        connect(upload, &QPushButton::clicked, this, &MediaLibrarySheet::openUploadPanel);
        page = placeholder(IconName::image, u"No images yet"_s,
                           u"Upload one, or drop an image here or into the editor."_s, upload);
    }
    m_content->addWidget(page);
    m_content->setCurrentWidget(page);
    // The old page may be the one whose button started this change.
    if (m_placeholderPage) {
        m_content->removeWidget(m_placeholderPage);
        m_placeholderPage->deleteLater();
    }
    m_placeholderPage = page;
}

void MediaLibrarySheet::refreshFooter()
{
    const std::optional<Progress> &uploading = m_state->uploading();
    const std::optional<QString> &failure = m_state->uploadError();
    m_uploadButton->setEnabled(!uploading);
    int page = 0;
    if (uploading) {
        m_progressText->setText(MediaLibraryModel::progressText(*uploading));
        page = 1;
    } else if (failure) {
        page = 2;
    }
    // A new status (an upload starting or ending, another failure) fades in.
    const bool changed = page != m_footerStatus->currentIndex() ||
                         (page == 2 && m_errorText->text() != failure.value_or(QString()));
    m_errorText->setText(failure.value_or(QString()));
    m_footerStatus->setCurrentIndex(page);
    if (changed) {
        auto *effect = qobject_cast<QGraphicsOpacityEffect *>(m_footerStatus->graphicsEffect());
        effect->setOpacity(Motion::enabled() ? 0.0 : 1.0);
        Motion::animate(effect, "opacity", 1.0, statusFadeMs, Motion::easeOut());
    }
}

void MediaLibrarySheet::insertFirstMatch()
{
    const QList<ImageAsset> found = m_state->matches();
    if (!found.isEmpty())
        pick(found.first());
}

void MediaLibrarySheet::pick(const ImageAsset &asset)
{
    // Hidden first, closed (finished()) only after the insertion: the
    // presenter forgets where the sheet was asked for when it closes.
    hide();
    if (m_onInsert)
        m_onInsert(asset);
    accept();
}

void MediaLibrarySheet::openUploadPanel()
{
    auto *dialog = new QFileDialog(this, u"Choose images to add to your media library."_s);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    QStringList types = ImageTypes::allowedTypes();
    types.removeAll(u"image/*"_s);
    dialog->setMimeTypeFilters(types);
    // One filter that offers every allowed type at once.
    QStringList patterns;
    for (const QString &filter : dialog->nameFilters()) {
        const qsizetype open = filter.indexOf(u'(');
        if (open >= 0)
            patterns << filter.mid(open + 1).chopped(1);
    }
    dialog->setNameFilter(u"Images ("_s + patterns.join(u' ') + u')');
    // Read once the dialog is accepted: the dialogs a platform may give do
    // not all report their choice through the same signal.
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        QList<QUrl> files;
        for (const QString &path : dialog->selectedFiles())
            files << QUrl::fromLocalFile(path);
        uploadFiles(files);
    });
    dialog->open();
}

void MediaLibrarySheet::setDropTargeted(bool targeted)
{
    if (m_dropTargeted == targeted)
        return;
    m_dropTargeted = targeted;
    m_dropOverlay->setGeometry(rect().adjusted(6, 6, -6, -6));
    m_dropOverlay->raise();
    Motion::fade(m_dropOverlay, targeted, statusFadeMs, Motion::easeOut());
}

void MediaLibrarySheet::dragEnterEvent(QDragEnterEvent *event)
{
    if (localFiles(event->mimeData()).isEmpty())
        return;
    event->acceptProposedAction();
    setDropTargeted(true);
}

void MediaLibrarySheet::dragLeaveEvent(QDragLeaveEvent *event)
{
    QDialog::dragLeaveEvent(event);
    setDropTargeted(false);
}

void MediaLibrarySheet::dropEvent(QDropEvent *event)
{
    setDropTargeted(false);
    const QList<QUrl> files = localFiles(event->mimeData());
    event->acceptProposedAction();
    uploadFiles(files);
}

void MediaLibrarySheet::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    m_dropOverlay->setGeometry(rect().adjusted(6, 6, -6, -6));
}

void MediaLibrarySheet::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_library->load(false);
    QTimer::singleShot(0, m_search, [search = m_search] { search->setFocus(Qt::OtherFocusReason); });
}
