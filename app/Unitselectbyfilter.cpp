#include "app/Unitselectbyfilter.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

#include "app/UnitAddWildcard.h"
#include "app/Wildcards.h"
#include "platform/Hooks.h"

TFormselectbyfilter::TFormselectbyfilter(const QString& settingsPath, std::function<void(int)> help,
                                         QWidget* parent)
    : QDialog(parent), settingsPath_(settingsPath), help_(std::move(help))
{
    setObjectName("TFormselectbyfilter");
    setWindowTitle(tr("Select files by wildcard"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    folders_ = new QFileSystemModel(this);
    folders_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    folders_->setRootPath("/");
    ShellTree1 = new QTreeView(this);
    ShellTree1->setObjectName("ShellTree1");
    ShellTree1->setModel(folders_);
    for (int c = 1; c < folders_->columnCount(); ++c)
        ShellTree1->hideColumn(c);
    ShellTree1->header()->hide();
    ShellTree1->setRootIndex(folders_->index("/"));
    ShellTree1->setMinimumSize(360, 300);
    labFolder = new QLabel(this);
    labFolder->setObjectName("labFolder");
    labFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    auto* edit = new QToolButton(this);
    edit->setObjectName("SpeedButton1");
    edit->setToolTip(tr("Edit Wildcard"));
    edit->setIcon(QIcon::fromTheme("document-edit", style()->standardIcon(QStyle::SP_FileDialogDetailedView)));
    auto* helpButton = new QToolButton(this);
    helpButton->setObjectName("Sphelp");
    helpButton->setToolTip(tr("Help"));
    helpButton->setIcon(QIcon::fromTheme("help-contents", style()->standardIcon(QStyle::SP_MessageBoxQuestion)));
    EditInputWild = new QLineEdit(this);
    EditInputWild->setObjectName("EditInputWild");
    auto* ok = new QPushButton(tr("&Ok"), this);
    ok->setObjectName("Button1");
    ok->setDefault(true);
    auto* cancel = new QPushButton(tr("Can&cel"), this);
    cancel->setObjectName("Button2");

    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(tr("Folder selected:"), this), 0, 0);
    layout->addWidget(labFolder, 0, 1, 1, 3);
    layout->addWidget(ShellTree1, 1, 0, 1, 4);
    layout->addWidget(new QLabel(tr("Wildcard:"), this), 2, 0);
    layout->addWidget(ComboBox1, 2, 1);
    layout->addWidget(edit, 2, 2);
    layout->addWidget(helpButton, 2, 3);
    layout->addWidget(new QLabel(tr("Result:"), this), 3, 0);
    layout->addWidget(EditInputWild, 3, 1, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons, 4, 0, 1, 4);
    layout->setColumnStretch(1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The folder is the one the user selected: the tree's current row alone,
    // which the tree sets itself when it first takes the focus, is no choice.
    connect(ShellTree1->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        labFolder->setText(ChosenFolder());
        UpdateResult();
    });
    connect(ComboBox1, &QComboBox::currentTextChanged, this, &TFormselectbyfilter::UpdateResult);
    connect(edit, &QToolButton::clicked, this, &TFormselectbyfilter::SpeedButton1Click);
    connect(helpButton, &QToolButton::clicked, this, [this] { help_(63); });
    connect(ok, &QPushButton::clicked, this, &TFormselectbyfilter::Button1Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    LoadWildcardList();
}

QString TFormselectbyfilter::ChosenFolder() const
{
    const QModelIndexList selected = ShellTree1->selectionModel()->selectedRows();
    return selected.isEmpty() ? QString() : folders_->filePath(selected.first());
}

void TFormselectbyfilter::SelectFolder(const QString& folder)
{
    const QModelIndex index = folders_->index(folder);
    ShellTree1->setCurrentIndex(index);
    ShellTree1->scrollTo(index);
}

void TFormselectbyfilter::LoadWildcardList()
{
    const QSignalBlocker quiet(ComboBox1);
    ComboBox1->clear();
    for (const std::string& w : LoadWildcards(settingsPath_.toStdString()))
        ComboBox1->addItem(QString::fromStdString(w));
    if (ComboBox1->count() == 0)
        ComboBox1->setEditText("*.*");
    else
        ComboBox1->setCurrentIndex(0);
    UpdateResult();
}

void TFormselectbyfilter::UpdateResult()
{
    QString result = ChosenFolder();
    if (!result.isEmpty() && !result.endsWith('/'))
        result += '/';
    EditInputWild->setText(result + ComboBox1->currentText());
}

void TFormselectbyfilter::SpeedButton1Click()
{
    TFormWildcard editor(settingsPath_, help_, this);
    if (editor.exec() == QDialog::Accepted)
        LoadWildcardList();
}

void TFormselectbyfilter::Button1Click()
{
    const QString result = EditInputWild->text().trimmed();
    if (result.isEmpty() || result == ComboBox1->currentText().trimmed()) {
        platform::MessageBox(tr("Please select a folder!").toStdString(), tr("Select files by wildcard").toStdString(), platform::mbOK | 0x30);
        return;
    }
    accept();
}

void TFormselectbyfilter::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1)
        help_(302);
    else
        QDialog::keyPressEvent(event);
}
