// The entry list of the "Multiple UnZIP" page: a table view over the rows of
// a listing (row i shows element i), under a header with the columns "ZIP
// Archive", "Name", "Date", "Size (kb)" and "Path".
#pragma once

#include <QAbstractTableModel>
#include <QTableView>

#include "jobs/UnitViewFile.h"

namespace ui {

class FileDetailModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The model reads rows and holds nothing of its own: Reset() after
    // every change of rows.
    FileDetailModel(const ParArrayOfFileDetail& rows, QObject* parent = nullptr);
    void Reset();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const ParArrayOfFileDetail& rows_;
    int shown_ = 0;  // rows announced to the view
};

class EntryListView : public QTableView {
    Q_OBJECT
public:
    explicit EntryListView(FileDetailModel* model, QWidget* parent = nullptr);
    // Selected rows, first to last.
    std::vector<int> SelectedRows() const;
};

}  // namespace ui
