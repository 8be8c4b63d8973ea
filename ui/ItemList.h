// The items list of the "Multiple ZIP" page: each item drawn with glyph 0
// when it is a readable existing file, glyph 1 otherwise (a wildcard item, or
// a file that has gone), decided each time the row is drawn.
#pragma once

#include <QListWidget>
#include <QStyledItemDelegate>

namespace ui {

// 0 for a readable existing file, 1 for anything else.
int ItemGlyph(const QString& item);

class ItemList : public QListWidget {
    Q_OBJECT
public:
    explicit ItemList(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    int timer_ = 0;  // redraws the glyphs while shown, so a file that goes is seen
};

}  // namespace ui
