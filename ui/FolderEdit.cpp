#include "ui/FolderEdit.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QStyle>

namespace ui {

FolderEdit::FolderEdit(const QString& dialogText, QWidget* parent)
    : QWidget(parent), dialogText_(dialogText), edit_(new QLineEdit(this)), browse_(new QToolButton(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(edit_, 1);
    layout->addWidget(browse_);
    browse_->setIcon(QIcon::fromTheme("folder-open", style()->standardIcon(QStyle::SP_DirOpenIcon)));
    browse_->setToolTip(dialogText);
    setFocusProxy(edit_);
    connect(browse_, &QToolButton::clicked, this, &FolderEdit::Browse);
}

void FolderEdit::SetLabel(QLabel* label)
{
    label->setBuddy(edit_);
    QString name = label->text().remove('&');
    if (name.endsWith(':'))
        name.chop(1);
    edit_->setAccessibleName(name);
    browse_->setAccessibleName(tr("Browse for %1").arg(name));
}

QString ExpandFolder(const QString& typed)
{
    QString path = typed.trimmed();
    if (path == "~" || path.startsWith("~/"))
        path = QDir::homePath() + path.mid(1);
    return path;
}

void FolderEdit::Browse()
{
    const QString chosen = QFileDialog::getExistingDirectory(this, dialogText_, folder());
    if (!chosen.isEmpty())
        edit_->setText(chosen);
}

}  // namespace ui
