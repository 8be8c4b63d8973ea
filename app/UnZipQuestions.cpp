#include "app/UnZipQuestions.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

void AskWithDialogs(UnZipPageController& c, QWidget* parent)
{
    c.AskOverwrite = [parent](const QString& text) {
        using B = QMessageBox::StandardButton;
        // The question first, what tells the two files apart below it.
        const qsizetype split = text.indexOf("\n\n");
        QMessageBox box(QMessageBox::Question, QCoreApplication::translate("UnZipQuestions", "File Exists Alert"),
                        text.left(split), B::Yes | B::No | B::YesToAll | B::NoToAll, parent);
        if (split >= 0)
            box.setInformativeText(text.mid(split + 2));
        box.setObjectName("OverwriteQuestion");
        QPushButton* rename =
            box.addButton(QCoreApplication::translate("UnZipQuestions", "Re&name"), QMessageBox::AcceptRole);
        rename->setToolTip(QCoreApplication::translate(
            "UnZipQuestions", "Write the file from the archive under a free name beside the existing one"));
        box.exec();
        return box.clickedButton() == rename ? UnZipPageController::RenameAnswer
                                             : int(box.standardButton(box.clickedButton()));
    };
    c.AskPassword = [parent](const QString& text) {
        QDialog dialog(parent);
        dialog.setObjectName("PasswordQuestion");
        dialog.setWindowTitle("Zamblok");
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(new QLabel(text, &dialog));
        auto* edit = new QLineEdit(&dialog);
        edit->setEchoMode(QLineEdit::Password);
        layout->addWidget(edit);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
        QPushButton* skipEntry = buttons->addButton(
            QCoreApplication::translate("UnZipQuestions", "Skip this &entry"), QDialogButtonBox::RejectRole);
        QPushButton* skipArchive = buttons->addButton(
            QCoreApplication::translate("UnZipQuestions", "Skip this &archive"), QDialogButtonBox::RejectRole);
        layout->addWidget(buttons);
        QAbstractButton* clicked = nullptr;
        QObject::connect(buttons, &QDialogButtonBox::clicked, &dialog, [&](QAbstractButton* b) {
            clicked = b;
            b == skipEntry || b == skipArchive ? dialog.reject() : dialog.accept();
        });
        const bool ok = dialog.exec() == QDialog::Accepted;
        using Kind = PasswordAnswer::Kind;
        if (ok)
            return PasswordAnswer{Kind::Password, edit->text()};
        return PasswordAnswer{clicked == skipArchive ? Kind::SkipArchive : Kind::SkipEntry, {}};
    };
}
