// Files dropped from a file manager onto a list: the drag is taken when it
// carries addresses, and the drop hands over the local paths it carries.
#pragma once

#include <QDropEvent>
#include <QMimeData>
#include <QStringList>
#include <functional>

namespace ui {

// Handles event when it is a drag or a drop of addresses, calling take with
// the local paths of a drop (when there are any); true when handled.
inline bool TakeDrop(QEvent* event, const std::function<void(const QStringList&)>& take)
{
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!drag->mimeData()->hasUrls())
            return false;
        drag->acceptProposedAction();
        return true;
    }
    if (event->type() != QEvent::Drop)
        return false;
    auto* drop = static_cast<QDropEvent*>(event);
    QStringList paths;
    for (const QUrl& url : drop->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    drop->acceptProposedAction();
    if (!paths.isEmpty())
        take(paths);
    return true;
}

}  // namespace ui
