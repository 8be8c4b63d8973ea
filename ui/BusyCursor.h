// The busy cursor (arrow with hourglass) of one page while it runs: set once
// when its run starts and restored once when it ends, so that two pages that
// run at once each restore only their own.
#pragma once

#include <QApplication>

namespace ui {

class BusyCursor {
public:
    BusyCursor() = default;
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
    ~BusyCursor() { Set(false); }

    void Set(bool busy)
    {
        if (busy == on_)
            return;
        on_ = busy;
        if (busy)
            QApplication::setOverrideCursor(Qt::BusyCursor);
        else
            QApplication::restoreOverrideCursor();
    }

private:
    bool on_ = false;
};

}  // namespace ui
