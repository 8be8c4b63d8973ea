// Text between the engine (UTF-8 std::string) and Qt.
#pragma once

#include <QFileInfo>
#include <QListWidget>
#include <QString>
#include <string>

namespace ui {

// Names in memory are UTF-8; bytes that are not show as replacement characters.
inline QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The file-name part of path.
inline QString FileNameOf(const std::string& path)
{
    return QFileInfo(FromUtf8(path)).fileName();
}

// Moves the selected row of list step rows up (negative) or down, the
// selection with it; nothing for no selection or a move past either end.
inline void MoveSelectedRow(QListWidget* list, int step)
{
    const int row = list->currentRow();
    const int to = row + step;
    if (row < 0 || !list->currentItem()->isSelected() || to < 0 || to >= list->count())
        return;
    QListWidgetItem* item = list->takeItem(row);
    list->insertItem(to, item);
    list->setCurrentRow(to);
}

// A report list: long lines wrap instead of running out of sight, and the
// list takes the height its layout leaves rather than asking for its own.
inline void WrapLines(QListWidget* list)
{
    list->setWordWrap(true);
    list->setTextElideMode(Qt::ElideNone);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setResizeMode(QListView::Adjust);
    list->setSizePolicy(list->sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
}

}  // namespace ui
