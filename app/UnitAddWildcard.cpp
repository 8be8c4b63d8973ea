#include "app/UnitAddWildcard.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/Wildcards.h"
#include "platform/Hooks.h"
#include "ui/Text.h"

namespace {

QToolButton* Tool(QWidget* parent, const char* name, const QString& hint, const char* icon,
                  QStyle::StandardPixmap fallback)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setToolTip(hint);
    button->setIcon(QIcon::fromTheme(icon, parent->style()->standardIcon(fallback)));
    return button;
}

}  // namespace

TFormWildcard::TFormWildcard(const QString& settingsPath, std::function<void(int)> help, QWidget* parent)
    : QDialog(parent), settingsPath_(settingsPath), help_(std::move(help))
{
    setObjectName("TFormWildcard");
    setWindowTitle(tr("Edit Wildcard"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName("ListBox1");
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName("Edit1");
    Edit1->setToolTip(tr("Please enter a new  wildcard"));
    QToolButton* remove = Tool(this, "Button4", tr("Delete a item"), "list-remove", QStyle::SP_DialogNoButton);
    QToolButton* removeAll = Tool(this, "SpeedButton1", tr("Delete all items"), "edit-clear", QStyle::SP_DialogResetButton);
    QToolButton* up = Tool(this, "SpeedButton3", tr("Up a item"), "go-up", QStyle::SP_ArrowUp);
    QToolButton* down = Tool(this, "SpeedButton2", tr("Down a item"), "go-down", QStyle::SP_ArrowDown);
    QToolButton* add = Tool(this, "SpNew", tr("Add wildcard"), "list-add", QStyle::SP_FileDialogNewFolder);
    auto* helpButton = new QPushButton(tr("Help"), this);
    helpButton->setObjectName("Button1");
    auto* ok = new QPushButton(tr("&Ok"), this);
    ok->setObjectName("btnOk");
    ok->setDefault(true);
    auto* cancel = new QPushButton(tr("Can&cel"), this);
    cancel->setObjectName("Button3");

    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(tr("Wildcard list:"), this), 0, 0);
    layout->addWidget(ListBox1, 1, 0);
    auto* side = new QVBoxLayout;
    for (QToolButton* b : {remove, removeAll, up, down})
        side->addWidget(b);
    side->addStretch(1);
    layout->addLayout(side, 1, 1);
    layout->addWidget(new QLabel(tr("Add wildcard:"), this), 2, 0);
    layout->addWidget(Edit1, 3, 0);
    layout->addWidget(add, 3, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(helpButton);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons, 4, 0, 1, 2);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    for (const std::string& w : LoadWildcards(settingsPath_.toStdString()))
        ListBox1->addItem(QString::fromStdString(w));
    if (ListBox1->count() > 0)
        ListBox1->setCurrentRow(0);

    connect(add, &QToolButton::clicked, this, &TFormWildcard::SpNewClick);
    connect(Edit1, &QLineEdit::returnPressed, this, &TFormWildcard::SpNewClick);
    connect(remove, &QToolButton::clicked, this, &TFormWildcard::Button4Click);
    connect(removeAll, &QToolButton::clicked, this, &TFormWildcard::SpeedButton1Click);
    connect(up, &QToolButton::clicked, this, &TFormWildcard::SpeedButton3Click);
    connect(down, &QToolButton::clicked, this, &TFormWildcard::SpeedButton2Click);
    connect(helpButton, &QPushButton::clicked, this, [this] { help_(63); });
    connect(ok, &QPushButton::clicked, this, &TFormWildcard::btnOkClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    // Enter in the edit adds the wildcard; it does not close the dialog.
    ok->setAutoDefault(false);
    ok->setDefault(false);
}

void TFormWildcard::SpNewClick()
{
    const QString text = Edit1->text().trimmed();
    if (text.isEmpty())
        return;
    bool listed = false;
    for (int i = 0; i < ListBox1->count(); ++i)
        listed = listed || ListBox1->item(i)->text().compare(text, Qt::CaseInsensitive) == 0;
    if (!listed)
        ListBox1->addItem(text);
    Edit1->clear();
}

void TFormWildcard::Button4Click()
{
    QListWidgetItem* item = ListBox1->currentItem();
    if (!item || !item->isSelected()) {
        platform::MessageBox(tr("Please select a item by clicking").toStdString(), tr("Edit Wildcard").toStdString(), platform::mbOK | 0x40);
        return;
    }
    delete ListBox1->takeItem(ListBox1->row(item));
}

void TFormWildcard::SpeedButton1Click()
{
    ListBox1->clear();
}

void TFormWildcard::SpeedButton3Click()
{
    ui::MoveSelectedRow(ListBox1, -1);
}

void TFormWildcard::SpeedButton2Click()
{
    ui::MoveSelectedRow(ListBox1, 1);
}

void TFormWildcard::btnOkClick()
{
    std::vector<std::string> list;
    for (int i = 0; i < ListBox1->count(); ++i)
        list.push_back(ListBox1->item(i)->text().toStdString());
    if (!SaveWildcards(settingsPath_.toStdString(), list)) {
        platform::MessageBox(tr("The wildcards could not be saved to %1").arg(settingsPath_).toStdString(),
                             tr("Edit Wildcard").toStdString(), platform::mbOK | 0x10);
        return;
    }
    accept();
}

void TFormWildcard::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1)
        help_(801);
    else
        QDialog::keyPressEvent(event);
}
