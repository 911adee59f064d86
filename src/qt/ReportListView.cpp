#include "qt/ReportListView.h"

#include "app/ListColumns.h"
#include "qt/CutTextTips.h"
#include "qt/DroppedFiles.h"
#include "qt/KeyDownFilter.h"
#include "qt/VirtualKeys.h"

#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QResizeEvent>
#include <QUrl>

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr int kColumnCount = static_cast<int>(kListColumns.size());

// Local files among the dropped URLs, as the file system spells their paths.
std::vector<std::string> DroppedPaths(const QMimeData* mime) {
    std::vector<std::string> paths;
    if (!mime || !mime->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) {
            paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
        }
    }
    return paths;
}

} // namespace

TReportListModel::TReportListModel(QObject* parent) : QAbstractTableModel(parent) {}

void TReportListModel::SetDataHandler(DataHandler handler) {
    FOnData = std::move(handler);
    RowsChanged();
}

void TReportListModel::SetRowCount(int count) {
    count = std::max(count, 0);
    if (count < FRowCount) {
        beginRemoveRows(QModelIndex(), count, FRowCount - 1);
        FRowCount = count;
        endRemoveRows();
    } else if (count > FRowCount) {
        beginInsertRows(QModelIndex(), FRowCount, count - 1);
        FRowCount = count;
        endInsertRows();
    }
    RowsChanged();
}

void TReportListModel::RowsChanged() {
    if (FRowCount > 0) {
        emit dataChanged(index(0, 0), index(FRowCount - 1, kColumnCount - 1));
    }
}

std::string TReportListModel::Text(int row, int column) const {
    if (!FOnData || row < 0 || row >= FRowCount || column < 0 || column >= kColumnCount) {
        return {};
    }
    TReportRow texts;
    FOnData(row, texts);
    return column == 0 ? texts.Caption : texts.SubItems[column - 1];
}

int TReportListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FRowCount;
}

int TReportListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TReportListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) {
        return {};
    }
    return QString::fromStdString(Text(index.row(), index.column()));
}

QVariant TReportListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= kColumnCount) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    return QString::fromLatin1(kListColumns[static_cast<std::size_t>(section)].Caption);
}

TReportListView::TReportListView(QWidget* parent)
    : QTableView(parent), FModel(new TReportListModel(this)),
      FKeyDownFilter(new TKeyDownFilter(this)), FWindowProc(DefaultWindowProc()) {
    setModel(FModel);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setWordWrap(false);
    new TCutTextTips(this);
    // An offset too wide for its column keeps its last digits in view.
    setTextElideMode(Qt::ElideMiddle);
    setCornerButtonEnabled(false);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalHeader()->hide();
    // Uniform rows, so that the rows that fit are the viewport's height in rows.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    // A column that gives way to the others at the first run may be narrow.
    horizontalHeader()->setMinimumSectionSize(kCellMargin * 2);
    // Each column as wide as the text it commonly holds, in the font in use (saved widths
    // still apply).
    for (int c = 0; c < kColumnCount; ++c) {
        const TListColumn& column = kListColumns[static_cast<std::size_t>(c)];
        horizontalHeader()->resizeSection(
            c, std::max(fontMetrics().horizontalAdvance(QLatin1String(column.Caption)),
                        fontMetrics().horizontalAdvance(QLatin1String(column.Widest))) +
                   kCellMargin);
    }
    // The selection stays visible when the list loses the focus.
    QPalette colours = palette();
    colours.setColor(QPalette::Inactive, QPalette::Highlight,
                     colours.color(QPalette::Active, QPalette::Highlight));
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     colours.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(colours);
    viewport()->installEventFilter(this);
}

TWindowProc TReportListView::DefaultWindowProc() {
    return [](TMessage&) {};
}

void TReportListView::SetDataHandler(TReportListModel::DataHandler handler) {
    FModel->SetDataHandler(std::move(handler));
}

void TReportListView::SetKeyDownHandler(KeyDownHandler handler) {
    FKeyDownFilter->SetHandler(std::move(handler));
}

void TReportListView::SetKeyUpHandler(KeyDownHandler handler) {
    FOnKeyUp = std::move(handler);
}

void TReportListView::SetMouseDownHandler(NotifyHandler handler) {
    FOnMouseDown = std::move(handler);
}

void TReportListView::SetPageHeightHandler(NotifyHandler handler) {
    FOnPageHeight = std::move(handler);
}

void TReportListView::SetRowCount(int count) {
    // A row that goes takes its selection along; Qt would select a neighbour instead.
    if (currentIndex().row() >= count) {
        selectionModel()->clear();
    }
    FModel->SetRowCount(count);
}

int TReportListView::RowCount() const {
    return FModel->RowCountValue();
}

int TReportListView::RowsPerPage() const {
    const int rowHeight = verticalHeader()->defaultSectionSize();
    return rowHeight > 0 ? std::max(viewport()->height(), 0) / rowHeight : 0;
}

int TReportListView::SelectedIndex() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

std::string TReportListView::SelectedCaption() const {
    const int index = SelectedIndex();
    return index < 0 ? std::string() : FModel->Text(index, 0);
}

void TReportListView::Select(int index) {
    if (index < 0 || index >= RowCount()) {
        ClearSelection();
        return;
    }
    const int column = std::max(currentIndex().column(), 0);
    selectionModel()->setCurrentIndex(FModel->index(index, column),
                                      QItemSelectionModel::ClearAndSelect |
                                          QItemSelectionModel::Rows);
}

void TReportListView::ClearSelection() {
    selectionModel()->clearSelection();
}

void TReportListView::SetFocus() {
    setFocus(Qt::OtherFocusReason);
}

void TReportListView::Invalidate() {
    FModel->RowsChanged();
    viewport()->update();
}

int TReportListView::ColumnWidth(int column) const {
    if (column < 0 || column >= kColumnCount) {
        return 0;
    }
    // A hidden column answers the width it comes back with.
    return isColumnHidden(column) ? FHiddenWidths[static_cast<std::size_t>(column)]
                                  : columnWidth(column);
}

void TReportListView::SetColumnWidth(int column, int width) {
    if (column < 0 || column >= kColumnCount) {
        return;
    }
    if (isColumnHidden(column)) {
        FHiddenWidths[static_cast<std::size_t>(column)] = std::max(width, 0);
    } else {
        horizontalHeader()->resizeSection(column, std::max(width, 0));
    }
}

void TReportListView::SetColumnVisible(int column, bool visible) {
    if (column < 0 || column >= kColumnCount || isColumnHidden(column) == !visible) {
        return;
    }
    if (visible) {
        setColumnHidden(column, false);
        horizontalHeader()->resizeSection(column, FHiddenWidths[static_cast<std::size_t>(column)]);
    } else {
        FHiddenWidths[static_cast<std::size_t>(column)] = columnWidth(column);
        setColumnHidden(column, true);
    }
    // The horizontal bar comes or goes now, not at the next layout: the rows a page holds
    // depend on it.
    updateGeometries();
}

TWindowProc TReportListView::WindowProc() const {
    return FWindowProc;
}

void TReportListView::SetWindowProc(TWindowProc proc) {
    FWindowProc = proc ? std::move(proc) : DefaultWindowProc();
}

void TReportListView::SetAcceptDrops(bool accept) {
    viewport()->setAcceptDrops(accept);
}

bool TReportListView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == viewport() && event->type() == QEvent::Resize) {
        const auto* resize = static_cast<QResizeEvent*>(event);
        if (resize->oldSize().height() != resize->size().height() && FOnPageHeight) {
            FOnPageHeight();
        }
    }
    return QTableView::eventFilter(watched, event);
}

void TReportListView::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    }
}

void TReportListView::keyReleaseEvent(QKeyEvent* event) {
    QTableView::keyReleaseEvent(event);
    if (!event->isAutoRepeat() && FOnKeyUp) {
        FOnKeyUp(VirtualKeyOf(event->key()));
    }
}

void TReportListView::NotifyMouseDown() {
    if (FOnMouseDown) {
        FOnMouseDown();
    }
}

void TReportListView::mousePressEvent(QMouseEvent* event) {
    QTableView::mousePressEvent(event);
    NotifyMouseDown();
}

void TReportListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    NotifyMouseDown();
}

// A report list moves by whole rows: Home and Page Up go to the first row, End and Page
// Down to the last, whatever the modifiers (a table would move along the columns).
QModelIndex TReportListView::moveCursor(CursorAction cursorAction,
                                        Qt::KeyboardModifiers modifiers) {
    const int rows = RowCount();
    const int column = std::max(currentIndex().column(), 0);
    if (rows > 0) {
        switch (cursorAction) {
        case MoveHome:
        case MovePageUp:
            return FModel->index(0, column);
        case MoveEnd:
        case MovePageDown:
            return FModel->index(rows - 1, column);
        default:
            break;
        }
    }
    return QTableView::moveCursor(cursorAction, modifiers);
}

void TReportListView::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);
}

void TReportListView::dragMoveEvent(QDragMoveEvent* event) {
    if (viewport()->acceptDrops() && !DroppedPaths(event->mimeData()).empty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void TReportListView::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths = DroppedPaths(event->mimeData());
    if (!viewport()->acceptDrops() || paths.empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    TDroppedFiles drop(std::move(paths));
    TMessage message{kWmDropFiles, &drop};
    // The routine in force now: the window's wrapper once it stands in front.
    const TWindowProc proc = FWindowProc;
    proc(message);
}

void TReportListView::wheelEvent(QWheelEvent* event) {
    if (!FWheel.Deliver(event, FOnWheel)) {
        QTableView::wheelEvent(event);
    }
}
