#pragma once

#include "qt/WheelNotches.h"
#include "toolkit/Toolkit.h"

#include <QAbstractTableModel>
#include <QTableView>

#include <array>
#include <functional>
#include <string>

class TKeyDownFilter;

// The rows of the NAL list: it stores only their count and asks for the texts of each
// row the view draws.
class TReportListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    using DataHandler = std::function<void(int index, TReportRow& row)>;

    explicit TReportListModel(QObject* parent);
    void SetDataHandler(DataHandler handler);
    // Keeps the rows below count, and with them the selection; only their texts change.
    void SetRowCount(int count);
    int RowCountValue() const { return FRowCount; }
    // Every row's texts may have changed.
    void RowsChanged();
    // Text of one cell, asked of the data handler.
    std::string Text(int row, int column) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    int FRowCount = 0;
    DataHandler FOnData;
};

// ListView1: the NAL list, a virtual report list. It never holds more rows than fit, so
// it has no vertical scroll bar of its own; ScrollBar1 beside it moves through the file.
class TReportListView : public QTableView, public IReportList {
    Q_OBJECT
  public:
    // Takes the wheel's notches instead of scrolling the view.
    void SetWheelHandler(TWheelNotches::Handler handler) { FOnWheel = std::move(handler); }
    explicit TReportListView(QWidget* parent = nullptr);

    void SetDataHandler(TReportListModel::DataHandler handler);
    // Before the list's own handling of the key.
    void SetKeyDownHandler(KeyDownHandler handler);
    // After the list handled the release; auto-repeat releases are not reported.
    void SetKeyUpHandler(KeyDownHandler handler);
    // After the list moved its selection to the pressed row; any mouse button.
    void SetMouseDownHandler(NotifyHandler handler);
    // Whenever the height that shows rows changes.
    void SetPageHeightHandler(NotifyHandler handler);
    TReportListModel* Model() const { return FModel; }

    // IReportList
    void SetRowCount(int count) override;
    int RowCount() const override;
    int RowsPerPage() const override;
    int SelectedIndex() const override;
    std::string SelectedCaption() const override;
    void Select(int index) override;
    void ClearSelection() override;
    void SetFocus() override;
    void Invalidate() override;
    int ColumnWidth(int column) const override;
    void SetColumnWidth(int column, int width) override;
    void SetColumnVisible(int column, bool visible) override;
    TWindowProc WindowProc() const override;
    void SetWindowProc(TWindowProc proc) override;
    void SetAcceptDrops(bool accept) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void NotifyMouseDown();
    // The list's own message routine: the drop was handled by the time it gets there.
    TWindowProc DefaultWindowProc();

    TReportListModel* FModel;
    TKeyDownFilter* FKeyDownFilter;
    KeyDownHandler FOnKeyUp;
    NotifyHandler FOnMouseDown;
    NotifyHandler FOnPageHeight;
    TWindowProc FWindowProc;
    // The widths hidden columns come back with.
    std::array<int, 8> FHiddenWidths{};

  protected:
    void wheelEvent(QWheelEvent* event) override;

  private:
    TWheelNotches::Handler FOnWheel;
    TWheelNotches FWheel;
};
