#include "ui/EntryList.h"

#include "ui/Text.h"

#include <QHeaderView>
#include <QPalette>

namespace ui {

namespace {

const char* const Captions[] = {"ZIP Archive", "Name", "Date", "Size (kb)", "Path"};
const int Widths[] = {170, 220, 125, 90, 180};

}  // namespace

FileDetailModel::FileDetailModel(const ParArrayOfFileDetail& rows, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows)
{
}

void FileDetailModel::Reset()
{
    beginResetModel();
    shown_ = int(rows_.size());
    endResetModel();
}

int FileDetailModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : shown_;
}

int FileDetailModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 5;
}

QVariant FileDetailModel::data(const QModelIndex& index, int role) const
{
    // A row is drawn only with an element behind it, whatever happened to
    // the rows since the last Reset.
    if (!index.isValid() || size_t(index.row()) >= rows_.size())
        return {};
    const ParFileDetail& row = rows_[size_t(index.row())];
    if (role == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case 0: return FromUtf8(row.archive);
    case 1: return FromUtf8(row.fileName);
    case 2: return FromUtf8(row.date);
    case 3: return FromUtf8(row.size);
    default: return FromUtf8(row.path);
    }
}

QVariant FileDetailModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 5)
        return Captions[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

EntryListView::EntryListView(FileDetailModel* model, QWidget* parent) : QTableView(parent)
{
    setModel(model);
    setObjectName("ListBoxFileDetail");
    horizontalHeader()->setObjectName("mytherdercontrol");
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    for (int c = 0; c < 5; ++c)
        horizontalHeader()->resizeSection(c, Widths[c]);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(std::max(18, fontMetrics().height() + 4));
    setShowGrid(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);  // a column's text is cut at its edge
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setToolTip("Shift+Click or Ctrl+Click to select multi-file");
    // The selection colours of the list, the one colour set here.
    QPalette colours = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        colours.setColor(group, QPalette::Highlight, QColor(10, 95, 137));
        colours.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    setPalette(colours);
}

std::vector<int> EntryListView::SelectedRows() const
{
    std::vector<int> rows;
    const int count = model()->rowCount();
    for (const QModelIndex& index : selectionModel()->selectedRows())
        if (index.row() < count)
            rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace ui
