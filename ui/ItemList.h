// The items list of the "Multiple ZIP" page: each item drawn with glyph 0
// when it is a readable existing file, glyph 1 otherwise (a wildcard item, or
// a file that has gone). The glyphs are worked out on a thread of the pool,
// never on the GUI thread, where a stalled file system would hang the
// window: when the items change and once a second while the list is shown.
#pragma once

#include <QFutureWatcher>
#include <QHash>
#include <QIcon>
#include <QListWidget>

namespace ui {

// 0 for a readable existing file, 1 for anything else. Touches the disk.
int ItemGlyph(const QString& item);

class ItemList : public QListWidget {
    Q_OBJECT
public:
    explicit ItemList(QWidget* parent = nullptr);

    // Shows items as the rows, keeping the rows that are the same.
    void SetItems(const QStringList& items);
    // The glyph a row shows, in the item's data under this role.
    static constexpr int GlyphRole = Qt::UserRole;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    using Glyphs = QHash<QString, int>;
    // Starts working out the glyphs of the items, unless a check is under way.
    void Check();
    // Shows the glyphs known, an item not checked yet with glyph 1; false
    // when there was such an item.
    bool ShowGlyphs();

    QIcon icons_[2];
    Glyphs glyphs_;
    QFutureWatcher<Glyphs> check_;
    int timer_ = 0;  // checks again while shown, so a file that goes is seen
};

}  // namespace ui
