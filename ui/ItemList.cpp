#include "ui/ItemList.h"

#include <QStyle>
#include <QTimerEvent>

#include "jobs/UnitZip.h"

namespace ui {

namespace {

class GlyphDelegate : public QStyledItemDelegate {
public:
    explicit GlyphDelegate(QWidget* list)
        : QStyledItemDelegate(list),
          glyphs_{QIcon::fromTheme("text-x-generic", list->style()->standardIcon(QStyle::SP_FileIcon)),
                  QIcon::fromTheme("folder-saved-search", list->style()->standardIcon(QStyle::SP_DirIcon))}
    {
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->icon = glyphs_[ItemGlyph(index.data().toString())];
        option->features |= QStyleOptionViewItem::HasDecoration;
    }

private:
    QIcon glyphs_[2];
};

}  // namespace

int ItemGlyph(const QString& item)
{
    return TZipFile::IsReadableFile(item.toStdString()) ? 0 : 1;
}

ItemList::ItemList(QWidget* parent) : QListWidget(parent)
{
    setItemDelegate(new GlyphDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
}

void ItemList::showEvent(QShowEvent* event)
{
    QListWidget::showEvent(event);
    if (!timer_)
        timer_ = startTimer(1000);
}

void ItemList::hideEvent(QHideEvent* event)
{
    QListWidget::hideEvent(event);
    if (timer_)
        killTimer(timer_);
    timer_ = 0;
}

void ItemList::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == timer_)
        viewport()->update();
    else
        QListWidget::timerEvent(event);
}

}  // namespace ui
