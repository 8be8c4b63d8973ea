// Files dropped from a file manager onto a list: the drag is taken when it
// carries addresses, and the drop hands over the local paths it carries.
#pragma once

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
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

// Files dragged out of the window while a run still writes them: the drag
// carries their addresses from its start, and a drop target that asks for
// them waits, with the window answering, until written() says the run is over.
class PendingFiles : public QMimeData {
public:
    PendingFiles(const QStringList& paths, std::function<bool()> written) : written_(std::move(written))
    {
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        setUrls(urls);
    }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override
    {
        while (!written_())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        return QMimeData::retrieveData(mimeType, type);
    }

private:
    std::function<bool()> written_;
};

}  // namespace ui
