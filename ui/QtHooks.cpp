#include "ui/QtHooks.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

#include "platform/Hooks.h"

namespace ui {

int ShowMessage(QWidget* parent, const QString& text, const QString& caption, unsigned flags)
{
    using B = QMessageBox::StandardButton;
    struct Set {
        QMessageBox::StandardButtons buttons;
        B fallback;
    };
    static const Set sets[] = {
        {B::Ok, B::Ok},
        {B::Ok | B::Cancel, B::Cancel},
        {B::Abort | B::Retry | B::Ignore, B::Abort},
        {B::Yes | B::No | B::Cancel, B::Cancel},
        {B::Yes | B::No, B::No},
        {B::Retry | B::Cancel, B::Cancel},
    };
    const Set& set = sets[(flags & 0xF) < 6 ? flags & 0xF : 0];
    // The kind in the next four bits: 1 stop, 2 question, 3 warning, 4 information.
    static const QMessageBox::Icon icons[] = {QMessageBox::NoIcon, QMessageBox::Critical, QMessageBox::Question,
                                              QMessageBox::Warning, QMessageBox::Information};
    const unsigned kind = (flags >> 4) & 0xF;
    QMessageBox box(kind < 5 ? icons[kind] : QMessageBox::NoIcon, caption.isEmpty() ? "Zamblok" : caption, text,
                    set.buttons, parent);
    box.setEscapeButton(set.fallback);
    switch (box.exec()) {
    case B::Ok: return platform::idOK;
    case B::Cancel: return platform::idCancel;
    case B::Abort: return platform::idAbort;
    case B::Retry: return platform::idRetry;
    case B::Ignore: return platform::idIgnore;
    case B::Yes: return platform::idYes;
    case B::No: return platform::idNo;
    default: return platform::DefaultButton(flags);
    }
}

void InstallQtHooks(QWidget* parent)
{
    QPointer<QWidget> owner(parent);
    platform::Hooks& hooks = platform::InstalledHooks();
    hooks.PumpMessages = [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };
    hooks.MessageBox = [owner](const std::string& text, const std::string& caption, unsigned flags) {
        return ShowMessage(owner, QString::fromStdString(text), QString::fromStdString(caption), flags);
    };
    hooks.OpenFileDialog = [owner](std::string& fileName) {
        const QString chosen = QFileDialog::getOpenFileName(owner, "Open", QString::fromStdString(fileName));
        if (chosen.isEmpty())
            return false;
        fileName = chosen.toStdString();
        return true;
    };
    hooks.FolderDialog = [owner](std::string& folder) {
        const QString chosen =
            QFileDialog::getExistingDirectory(owner, "Please select directory", QString::fromStdString(folder));
        if (chosen.isEmpty())
            return false;
        folder = chosen.toStdString();
        return true;
    };
}

}  // namespace ui
