#include "ui/ItemList.h"

#include <QStyle>
#include <QTimerEvent>
#include <QtConcurrent/QtConcurrentRun>

#include "jobs/UnitZip.h"

namespace ui {

int ItemGlyph(const QString& item)
{
    return TZipFile::IsReadableFile(item.toStdString()) ? 0 : 1;
}

ItemList::ItemList(QWidget* parent)
    : QListWidget(parent),
      icons_{QIcon::fromTheme("text-x-generic", style()->standardIcon(QStyle::SP_FileIcon)),
             QIcon::fromTheme("folder-saved-search", style()->standardIcon(QStyle::SP_DirIcon))}
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    // Items added while a check was under way are checked at once after it.
    connect(&check_, &QFutureWatcher<Glyphs>::finished, this, [this] {
        glyphs_ = check_.result();
        if (!ShowGlyphs())
            Check();
    });
}

void ItemList::SetItems(const QStringList& items)
{
    bool same = count() == items.size();
    for (int i = 0; same && i < count(); ++i)
        same = item(i)->text() == items[i];
    if (same)
        return;
    clear();
    for (const QString& text : items) {
        auto* row = new QListWidgetItem(text, this);
        row->setToolTip(text);
    }
    ShowGlyphs();
    Check();
}

void ItemList::Check()
{
    if (check_.isRunning() || count() == 0)
        return;
    QStringList items;
    for (int i = 0; i < count(); ++i)
        items << item(i)->text();
    check_.setFuture(QtConcurrent::run([items] {
        Glyphs glyphs;
        for (const QString& item : items)
            glyphs.insert(item, ItemGlyph(item));
        return glyphs;
    }));
}

bool ItemList::ShowGlyphs()
{
    bool known = true;
    for (int i = 0; i < count(); ++i) {
        QListWidgetItem* row = item(i);
        known = known && glyphs_.contains(row->text());
        const int glyph = glyphs_.value(row->text(), 1);
        if (row->data(GlyphRole) != glyph) {
            row->setData(GlyphRole, glyph);
            row->setIcon(icons_[glyph]);
        }
    }
    return known;
}

void ItemList::showEvent(QShowEvent* event)
{
    QListWidget::showEvent(event);
    if (!timer_)
        timer_ = startTimer(1000);
    Check();
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
        Check();
    else
        QListWidget::timerEvent(event);
}

}  // namespace ui
