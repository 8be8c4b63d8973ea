#include "ui/QtHooks.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

#include "platform/Hooks.h"
#include "ui/EngineText.h"
#include "ui/RunBridge.h"

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
    // Runs call these on their own threads: each is asked on the GUI thread
    // while the run waits. No message pump: runs never share the GUI thread.
    hooks.MessageBox = [owner](const std::string& text, const std::string& caption, unsigned flags) {
        return OnGuiThread<int>(
            [&] { return ShowMessage(owner, EngineText(text), EngineText(caption), flags); },
            platform::DefaultButton(flags));
    };
    // The answer of a file or folder dialog, or empty when it was cancelled.
    const auto choose = [](std::string& name, const std::function<QString()>& dialog) {
        const QString chosen = OnGuiThread<QString>(dialog, QString());
        if (chosen.isEmpty())
            return false;
        name = chosen.toStdString();
        return true;
    };
    hooks.OpenFileDialog = [owner, choose](std::string& fileName) {
        return choose(fileName, [&] {
            return QFileDialog::getOpenFileName(owner, QCoreApplication::translate("ui", "Open"),
                                                QString::fromStdString(fileName));
        });
    };
    hooks.FolderDialog = [owner, choose](std::string& folder) {
        return choose(folder, [&] {
            return QFileDialog::getExistingDirectory(owner, QCoreApplication::translate("ui", "Please select directory"),
                                              QString::fromStdString(folder));
        });
    };
}

}  // namespace ui
