#include "ui/EntryList.h"

#include "ui/Text.h"

#include <QApplication>
#include <QCollator>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPalette>
#include <QStyle>
#include <QStyledItemDelegate>

namespace ui {

namespace {

const char* const Captions[] = {QT_TRANSLATE_NOOP("ui::FileDetailModel", "ZIP Archive"),
                                QT_TRANSLATE_NOOP("ui::FileDetailModel", "Name"),
                                QT_TRANSLATE_NOOP("ui::FileDetailModel", "Date"),
                                QT_TRANSLATE_NOOP("ui::FileDetailModel", "Size (kb)"),
                                QT_TRANSLATE_NOOP("ui::FileDetailModel", "Path")};
const int Widths[] = {170, 220, 125, 90, 180};

// The archive's path, cut in the middle where the column is too narrow: its
// folder's start and its file name stay in sight.
class ArchiveColumnDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideMiddle;
    }
};

// Names in the order of the desktop's collation, whatever their case, and
// numbers by their value ("file2" before "file10"); dates and sizes as numbers.
class EntrySortProxy : public QSortFilterProxyModel {
public:
    // The C locale collates bytes and knows no numbers: the common order
    // of Unicode (that of English) stands in for it.
    explicit EntrySortProxy(QObject* parent)
        : QSortFilterProxyModel(parent),
          collator_(QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale())
    {
        collator_.setCaseSensitivity(Qt::CaseInsensitive);
        collator_.setNumericMode(true);
    }

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        const QVariant a = left.data(sortRole()), b = right.data(sortRole());
        if (a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString)
            return collator_.compare(a.toString(), b.toString()) < 0;
        return QSortFilterProxyModel::lessThan(left, right);
    }

private:
    QCollator collator_;
};

// The name a folder entry ("docs/img/", no file name) shows: its last folder.
QString FolderName(const std::string& path)
{
    const QString folder = FromUtf8(path).chopped(1);
    return folder.mid(folder.lastIndexOf('/') + 1);
}

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

QIcon FileDetailModel::FileIcon(const QString& name) const
{
    const QString suffix = name.contains('.') ? name.mid(name.lastIndexOf('.') + 1).toLower() : QString();
    auto icon = icons_.find(suffix);
    if (icon == icons_.end()) {
        const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
        const QIcon fallback = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
        icon = icons_.insert(suffix, QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fallback)));
    }
    return *icon;
}

QVariant FileDetailModel::data(const QModelIndex& index, int role) const
{
    // A row is drawn only with an element behind it, whatever happened to
    // the rows since the last Reset.
    if (!index.isValid() || size_t(index.row()) >= rows_.size())
        return {};
    const ParFileDetail& row = rows_[size_t(index.row())];
    const bool folder = row.fileName.empty() && !row.path.empty();
    const int column = index.column();
    switch (role) {
    case Qt::TextAlignmentRole: return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::DecorationRole:
        if (column != 1)
            return {};
        return folder ? QIcon::fromTheme("folder", QApplication::style()->standardIcon(QStyle::SP_DirIcon))
                      : FileIcon(FromUtf8(row.fileName));
    case SortRole:
        if (column == 2)
            return qint64(row.time);
        if (column == 3)
            return qulonglong(row.bytes);
        return data(index, Qt::DisplayRole);
    case StoredNameRole: return FromUtf8(row.path + row.fileName);
    case Qt::ToolTipRole:
        if (column == 0)
            return FromUtf8(row.archive);
        if (column == 3)
            return tr("%1 bytes").arg(QLocale().toString(qulonglong(row.bytes)));
        return data(index, Qt::DisplayRole);
    case Qt::DisplayRole:
        switch (column) {
        case 0: return FromUtf8(row.archive);
        case 1: return folder ? FolderName(row.path) : FromUtf8(row.fileName);
        case 2: return FromUtf8(row.date);
        case 3: return FromUtf8(row.size);
        default: return FromUtf8(row.path);
        }
    default: return {};
    }
}

QVariant FileDetailModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 5)
        return tr(Captions[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

EntryListView::EntryListView(FileDetailModel* model, QWidget* parent)
    : QTableView(parent), proxy_(new EntrySortProxy(this))
{
    proxy_->setSourceModel(model);
    proxy_->setSortRole(FileDetailModel::SortRole);
    proxy_->setFilterRole(FileDetailModel::StoredNameRole);
    proxy_->setFilterKeyColumn(1);
    proxy_->setFilterCaseSensitivity(Qt::CaseInsensitive);
    setModel(proxy_);
    setObjectName("ListBoxFileDetail");
    horizontalHeader()->setObjectName("mytherdercontrol");
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    for (int c = 0; c < 5; ++c)
        horizontalHeader()->resizeSection(c, Widths[c]);
    // The rows keep the listing's order until a header is clicked.
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(std::max(18, fontMetrics().height() + 4));
    setShowGrid(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);  // a column's text is cut at its edge
    setItemDelegateForColumn(0, new ArchiveColumnDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Rows are picked whole, so Tab has no cell to go to: it leaves the list.
    setTabKeyNavigation(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setToolTip(tr("Shift+Click or Ctrl+Click to select multi-file"));
    // The selection colours of the list, the one colour set here.
    QPalette colours = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        colours.setColor(group, QPalette::Highlight, QColor(10, 95, 137));
        colours.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    setPalette(colours);
}

int EntryListView::SourceRow(const QModelIndex& index) const
{
    const QModelIndex source = proxy_->mapToSource(index);
    return source.isValid() && source.row() < proxy_->sourceModel()->rowCount() ? source.row() : -1;
}

std::vector<int> EntryListView::SelectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        if (const int row = SourceRow(index); row >= 0)
            rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    return rows;
}

int EntryListView::CurrentRow() const
{
    return currentIndex().isValid() ? SourceRow(currentIndex()) : -1;
}

void EntryListView::SetFilter(const QString& text)
{
    proxy_->setFilterFixedString(text);
}

int EntryListView::ShownRows() const
{
    return proxy_->rowCount();
}

QModelIndex EntryListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    // Rows are picked whole: Home and End go to the first and last row, not
    // to the first and last column of the row.
    if (action == MoveHome || action == MoveEnd)
        modifiers |= Qt::ControlModifier;
    return QTableView::moveCursor(action, modifiers);
}

void EntryListView::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && CurrentRow() >= 0) {
        emit OpenRequested(CurrentRow());
        return;
    }
    QTableView::keyPressEvent(event);
}

void EntryListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTableView::mouseDoubleClickEvent(event);
    if (const int row = CurrentRow(); row >= 0 && indexAt(event->position().toPoint()).isValid())
        emit OpenRequested(row);
}

void EntryListView::startDrag(Qt::DropActions)
{
    const std::vector<int> rows = SelectedRows();
    if (!rows.empty())
        emit DragRequested(rows);
}

}  // namespace ui
