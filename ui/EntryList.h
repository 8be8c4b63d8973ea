// The entry list of the "Multiple UnZIP" page: a table view over the rows of
// a listing, under a header with the columns "ZIP Archive", "Name", "Date",
// "Size (kb)" and "Path". A click on a header sorts by that column; a filter
// narrows the rows shown to those whose stored name holds a text.
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QSortFilterProxyModel>
#include <QTableView>

#include "jobs/UnitViewFile.h"

namespace ui {

class FileDetailModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // What the proxy sorts and filters by: names as text, dates and sizes
    // as numbers; the stored name (folder and file name) in column 1.
    static constexpr int SortRole = Qt::UserRole;
    static constexpr int StoredNameRole = Qt::UserRole + 1;

    // The model reads rows and holds nothing of its own but icons: Reset()
    // after every change of rows.
    FileDetailModel(const ParArrayOfFileDetail& rows, QObject* parent = nullptr);
    void Reset();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    // The icon of a file of this name's type, looked up once per extension.
    QIcon FileIcon(const QString& name) const;

    const ParArrayOfFileDetail& rows_;
    int shown_ = 0;  // rows announced to the view
    mutable QHash<QString, QIcon> icons_;
};

class EntryListView : public QTableView {
    Q_OBJECT
public:
    explicit EntryListView(FileDetailModel* model, QWidget* parent = nullptr);
    // Selected rows of the listing (rows of the model), first to last.
    std::vector<int> SelectedRows() const;
    // The row of the listing under the current row of the view, or -1.
    int CurrentRow() const;
    // Shows only the rows whose stored name holds text, whatever its case.
    void SetFilter(const QString& text);
    // Rows shown after the filter.
    int ShownRows() const;

signals:
    // A double click or Enter on the row of the listing.
    void OpenRequested(int row);
    // The selected rows are dragged out of the list.
    void DragRequested(const std::vector<int>& rows);

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    int SourceRow(const QModelIndex& index) const;

    QSortFilterProxyModel* proxy_;
};

}  // namespace ui
