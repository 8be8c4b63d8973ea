#include "app/ZipPage.h"

#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QSignalBlocker>
#include <QSplitter>
#include <QVBoxLayout>
#include <vector>

#include "app/Unitselectbyfilter.h"
#include "ui/Buttons.h"
#include "ui/Drops.h"
#include "ui/Text.h"

namespace {

// Sets a text only when it differs, so that the cursor of an edit being typed in stays.
void ShowText(QLineEdit* edit, const QString& text)
{
    if (edit->text() != text)
        edit->setText(text);
}

}  // namespace

ZipPage::ZipPage(ZipPageController& controller, std::function<void(int)> help, QWidget* parent)
    : QWidget(parent), c_(controller), help_(std::move(help))
{
    auto* layout = new QVBoxLayout(this);

    toolbar_ = new QHBoxLayout;
    btnZip = ui::PushButton(this, "btnZip", tr("&Create ZIP"), tr("Create ZIP"), "archive-insert", QStyle::SP_DialogSaveButton);
    QFont bold = btnZip->font();
    bold.setBold(true);
    btnZip->setFont(bold);
    btnViewLastZip = ui::PushButton(this, "btnViewLastZip", tr("&View ZIP"), tr("View Last Created ZIP Archives"),
                                    "document-open", QStyle::SP_DirOpenIcon);
    spZipCancel =
        ui::PushButton(this, "spZipCancel", tr("Cance&l"), tr("Cancel Operation"), "process-stop", QStyle::SP_BrowserStop);
    toolbar_->addWidget(btnZip);
    toolbar_->addWidget(btnViewLastZip);
    toolbar_->addWidget(spZipCancel);
    toolbar_->addStretch(1);
    layout->addLayout(toolbar_);

    // The items beside the options; the user moves the line between them.
    auto* middle = new QSplitter(Qt::Horizontal, this);
    middle->setChildrenCollapsible(false);
    // The items.
    G1 = new QGroupBox(this);
    G1->setObjectName("G1");
    auto* items = new QVBoxLayout(G1);
    ListboxZIP = new ui::ItemList(G1);
    ListboxZIP->setObjectName("ListboxZIP");
    ListboxZIP->setAccessibleName(tr("Items To ZIP"));
    ListboxZIP->setAcceptDrops(true);
    ListboxZIP->viewport()->setAcceptDrops(true);
    ListboxZIP->viewport()->installEventFilter(this);
    ListboxZIP->installEventFilter(this);
    items->addWidget(ListboxZIP, 1);
    auto* itemButtons = new QGridLayout;
    QPushButton* addFiles = ui::PushButton(this, "btnSelectFile", tr("Add &Files..."), tr("Add items by filename"),
                                           "document-new", QStyle::SP_FileIcon);
    QPushButton* addWildcard = ui::PushButton(this, "btnSelectFolder", tr("Add &Wildcard..."), tr("Add item by wildcard"),
                                              "folder-new", QStyle::SP_DirIcon);
    QPushButton* up = ui::PushButton(this, "btnUp", tr("&Up"), tr("Move item up"), "go-up", QStyle::SP_ArrowUp);
    QPushButton* down = ui::PushButton(this, "btnDown", tr("&Down"), tr("Move item down "), "go-down", QStyle::SP_ArrowDown);
    QPushButton* remove =
        ui::PushButton(this, "btnRemoveZip", tr("&Remove"), tr("Remove a item"), "list-remove", QStyle::SP_DialogNoButton);
    QPushButton* removeAll = ui::PushButton(this, "btnRemoveAllZip", tr("Remove &All"), tr("Remove all items"), "edit-clear",
                                            QStyle::SP_DialogResetButton);
    itemButtons->addWidget(addFiles, 0, 0);
    itemButtons->addWidget(addWildcard, 0, 1);
    itemButtons->addWidget(up, 1, 0);
    itemButtons->addWidget(down, 1, 1);
    itemButtons->addWidget(remove, 2, 0);
    itemButtons->addWidget(removeAll, 2, 1);
    items->addLayout(itemButtons);
    // The items, and under them what the last run did.
    auto* itemsPane = new QWidget(middle);
    auto* itemsColumn = new QVBoxLayout(itemsPane);
    itemsColumn->setContentsMargins(0, 0, 0, 0);
    itemsColumn->addWidget(G1, 1);
    middle->addWidget(itemsPane);

    auto* optionsPane = new QWidget(middle);
    auto* options = new QVBoxLayout(optionsPane);
    options->setContentsMargins(0, 0, 0, 0);
    // Create method.
    auto* method = new QGroupBox(tr("Create Method"), this);
    auto* methodGrid = new QGridLayout(method);
    RaSingle = new QRadioButton(tr("&Single ZIP for all items"), method);
    RaSingle->setObjectName("RaSingle");
    RaBlock = new QRadioButton(tr("&Blocked ZIP, part size"), method);
    RaBlock->setObjectName("RaBlock");
    RaMultipleZIP = new QRadioButton(tr("Multiple &ZIPs, per"), method);
    RaMultipleZIP->setObjectName("RaMultipleZIP");
    method_ = new QButtonGroup(this);
    method_->addButton(RaSingle, 0);
    method_->addButton(RaBlock, 1);
    method_->addButton(RaMultipleZIP, 2);
    cbSplitSize = new QComboBox(method);
    cbSplitSize->setObjectName("cbSplitSize");
    cbSplitSize->addItems(ZipPageController::PartSizeNames());
    spinEditSplitSize = new QSpinBox(method);
    spinEditSplitSize->setObjectName("spinEditSplitSize");
    spinEditSplitSize->setRange(1, 1000000000);
    cbsplitType = new QComboBox(method);
    cbsplitType->setObjectName("cbsplitType");
    cbsplitType->addItems({tr("Bytes"), "Kb", "Mb"});
    RxSpinPerItem = new QSpinBox(method);
    RxSpinPerItem->setObjectName("RxSpinPerItem");
    RxSpinPerItem->setRange(1, 2147483647);
    methodGrid->addWidget(RaSingle, 0, 0, 1, 4);
    methodGrid->addWidget(RaBlock, 1, 0);
    methodGrid->addWidget(cbSplitSize, 1, 1);
    methodGrid->addWidget(spinEditSplitSize, 1, 2);
    methodGrid->addWidget(cbsplitType, 1, 3);
    methodGrid->addWidget(RaMultipleZIP, 2, 0);
    methodGrid->addWidget(RxSpinPerItem, 2, 1);
    auto* itemsLabel = new QLabel(tr("Items "), method);
    itemsLabel->setBuddy(RxSpinPerItem);
    methodGrid->addWidget(itemsLabel, 2, 2);
    spinEditSplitSize->setAccessibleName(tr("Other Size"));
    ChZipPartNames = new QCheckBox(tr("Name the parts x.zip.z01, x.zip.z02, ... (&older form)"), method);
    ChZipPartNames->setObjectName("ChZipPartNames");
    ChZipPartNames->setToolTip(tr("Unchecked, the parts of x.zip are x.z01, x.z02, ..., x.zip, as Info-ZIP's "
                                  "zip -s names them and 7-Zip reads them"));
    methodGrid->addWidget(ChZipPartNames, 3, 0, 1, 4);
    methodGrid->setColumnStretch(4, 1);
    methodGrid->setVerticalSpacing(2);
    options->addWidget(method);

    // Destination and names.
    auto* naming = new QGroupBox(tr("Filename Options"), this);
    auto* namingGrid = new QGridLayout(naming);
    TargetDirectory = new ui::FolderEdit(tr("Please select directory"), naming);
    TargetDirectory->setObjectName("TargetDirectory");
    RaAutoName = new QRadioButton(tr("Auto &generate ZIP filename"), naming);
    RaAutoName->setObjectName("RaAutoName");
    RaManuName = new QRadioButton(tr("Ma&nually generate filename"), naming);
    RaManuName->setObjectName("RaManuName");
    EditName = new QLineEdit(naming);
    EditName->setObjectName("EditName");
    RxSpintAdd0 = new QSpinBox(naming);
    RxSpintAdd0->setObjectName("RxSpintAdd0");
    RxSpintAdd0->setRange(2, 20);
    auto* destinationLabel = new QLabel(tr("Destination Directory"), naming);
    TargetDirectory->SetLabel(destinationLabel);
    EditName->setAccessibleName(tr("Filename"));
    namingGrid->addWidget(destinationLabel, 0, 0);
    namingGrid->addWidget(TargetDirectory, 0, 1, 1, 3);
    namingGrid->addWidget(RaAutoName, 1, 0);
    namingGrid->addWidget(RaManuName, 2, 0);
    namingGrid->addWidget(EditName, 2, 1, 1, 3);
    auto* width = new QHBoxLayout;
    width->setSpacing(6);
    width->addWidget(new QLabel(tr("plus number, append 0 when less then"), naming));
    width->addWidget(RxSpintAdd0);
    auto* widthLabel = new QLabel(tr("number width"), naming);
    widthLabel->setBuddy(RxSpintAdd0);
    width->addWidget(widthLabel);
    width->addStretch(1);
    namingGrid->addLayout(width, 3, 1, 1, 3);
    namingGrid->setColumnStretch(3, 1);
    namingGrid->setVerticalSpacing(2);
    options->addWidget(naming);

    // Compression.
    auto* prefs = new QGroupBox(tr("Compress Preferences"), this);
    auto* prefsGrid = new QGridLayout(prefs);
    chStorePath = new QCheckBox(tr("Store full &path information"), prefs);
    chStorePath->setObjectName("chStorePath");
    ChIncludeSunFolder = new QCheckBox(tr("&Include subfolder"), prefs);
    ChIncludeSunFolder->setObjectName("ChIncludeSunFolder");
    ChIncludeSunFolder->setToolTip(
        tr("This is only valid in the items which are created by Select Files by Wildcard method"));
    ChIncludeSystemAndHide = new QCheckBox(tr("Include s&ystem and hidden attribute files "), prefs);
    ChIncludeSystemAndHide->setObjectName("ChIncludeSystemAndHide");
    SpinCompressRate = new QSpinBox(prefs);
    SpinCompressRate->setObjectName("SpinCompressRate");
    SpinCompressRate->setRange(0, 9);
    SpinCompressRate->setToolTip(tr("A value of 9 has the highest compression ratio"));
    ChPassword = new QCheckBox(tr("Add password &to protect Zip file"), prefs);
    ChPassword->setObjectName("ChPassword");
    EditPassword = new QLineEdit(prefs);
    EditPassword->setObjectName("EditPassword");
    EditPassword->setEchoMode(QLineEdit::Password);
    EditConfirmPassword = new QLineEdit(prefs);
    EditConfirmPassword->setObjectName("EditConfirmPassword");
    EditConfirmPassword->setEchoMode(QLineEdit::Password);
    CbEncryption = new QComboBox(prefs);
    CbEncryption->setObjectName("CbEncryption");
    CbEncryption->addItems({tr("ZIP 2.0 (compatible)"), tr("AES-256 (strong)")});
    CbEncryption->setToolTip(tr("ZIP 2.0: every tool opens it, but it is weak. AES-256: 7-Zip, WinZip and most "
                                "current tools open it; Info-ZIP unzip does not"));
    ChComment = new QCheckBox(tr("Add comm&ent"), prefs);
    ChComment->setObjectName("ChComment");
    Editcomment = new QLineEdit(prefs);
    Editcomment->setObjectName("Editcomment");
    prefsGrid->addWidget(chStorePath, 0, 0, 1, 2);
    prefsGrid->addWidget(ChIncludeSunFolder, 0, 2, 1, 2);
    prefsGrid->addWidget(ChIncludeSystemAndHide, 1, 0, 1, 2);
    auto* rate = new QHBoxLayout;
    rate->setSpacing(6);
    auto* rateLabel = new QLabel(tr("Compression ratio"), prefs);
    rateLabel->setBuddy(SpinCompressRate);
    rate->addWidget(rateLabel);
    rate->addWidget(SpinCompressRate);
    rate->addStretch(1);
    prefsGrid->addLayout(rate, 1, 2, 1, 2);
    prefsGrid->addWidget(ChPassword, 2, 0, 1, 2);
    auto* encryption = new QHBoxLayout;
    encryption->setSpacing(6);
    auto* encryptionLabel = new QLabel(tr("Encryption:"), prefs);
    encryptionLabel->setBuddy(CbEncryption);
    encryption->addWidget(encryptionLabel);
    encryption->addWidget(CbEncryption, 1);
    prefsGrid->addLayout(encryption, 2, 2, 1, 2);
    auto* passwordLabel = new QLabel(tr("Password"), prefs);
    passwordLabel->setBuddy(EditPassword);
    auto* confirmLabel = new QLabel(tr("Confirm"), prefs);
    confirmLabel->setBuddy(EditConfirmPassword);
    Editcomment->setAccessibleName(tr("Comment"));
    prefsGrid->addWidget(passwordLabel, 3, 0);
    prefsGrid->addWidget(EditPassword, 3, 1);
    prefsGrid->addWidget(confirmLabel, 3, 2);
    prefsGrid->addWidget(EditConfirmPassword, 3, 3);
    prefsGrid->addWidget(ChComment, 4, 0);
    prefsGrid->addWidget(Editcomment, 4, 1, 1, 3);
    prefsGrid->setColumnStretch(1, 1);
    prefsGrid->setColumnStretch(3, 1);
    prefsGrid->setVerticalSpacing(2);
    options->addWidget(prefs);
    options->addStretch(1);

    // What the run under way, or the last one, did.
    auto* progress = new QGroupBox(tr("Progress"), itemsPane);
    auto* progressGrid = new QGridLayout(progress);
    ProgressZip = new QProgressBar(progress);
    ProgressZip->setObjectName("ProgressZip");
    ProgressZip->setRange(0, 1000);
    ProgressZip->setTextVisible(false);
    LabelZipStatus = new QLabel(progress);
    LabelZipStatus->setObjectName("LabelZipStatus");
    LabelZipStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LabelZipStatus->setMinimumWidth(1);
    ListZipReport = new QListWidget(progress);
    ListZipReport->setObjectName("ListZipReport");
    ListZipReport->setAccessibleName(tr("Report"));
    ListZipReport->setToolTip(tr("Files skipped in the last run"));
    ui::WrapLines(ListZipReport);
    // The column is narrow: the status line goes under the bar and wraps.
    LabelZipStatus->setWordWrap(true);
    progressGrid->addWidget(ProgressZip, 0, 0);
    progressGrid->addWidget(LabelZipStatus, 1, 0);
    progressGrid->addWidget(ListZipReport, 2, 0);
    progressGrid->setRowStretch(2, 1);
    itemsColumn->addWidget(progress, 1);
    middle->addWidget(optionsPane);
    middle->setStretchFactor(0, 1);
    middle->setStretchFactor(1, 2);
    layout->addWidget(middle, 1);

    AskFiles = [this] {
        return QFileDialog::getOpenFileNames(this, tr("Select one or multiple files by filename"),
                                             TargetDirectory->folder(), tr("All ZIP files (*.*)"));
    };

    // The user's actions go to the controller; its state comes back through Refresh.
    connect(addFiles, &QPushButton::clicked, this, [this] {
        const QStringList files = AskFiles();
        if (!files.isEmpty())
            c_.AddItems(files);
    });
    connect(addWildcard, &QPushButton::clicked, this, &ZipPage::AddWildcard);
    connect(up, &QPushButton::clicked, &c_, [this] { c_.Move(-1); });
    connect(down, &QPushButton::clicked, &c_, [this] { c_.Move(1); });
    connect(remove, &QPushButton::clicked, &c_, &ZipPageController::Remove);
    connect(removeAll, &QPushButton::clicked, &c_, &ZipPageController::RemoveAll);
    // The run takes the options as the controls show them.
    connect(btnZip, &QPushButton::clicked, this, [this] {
        c_.SetOptions(Shown());
        c_.Create();
    });
    connect(spZipCancel, &QPushButton::clicked, &c_, &ZipPageController::Cancel);
    connect(btnViewLastZip, &QPushButton::clicked, &c_, &ZipPageController::View);
    connect(ListboxZIP, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> selected = ListboxZIP->selectedItems();
        c_.Select(selected.isEmpty() ? -1 : ListboxZIP->row(selected.first()));
    });
    const auto edited = [this] { c_.SetOptions(Shown()); };
    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{RaSingle, RaBlock, RaMultipleZIP, RaAutoName,
                                                                     RaManuName, chStorePath, ChIncludeSunFolder,
                                                                     ChIncludeSystemAndHide, ChPassword, ChComment,
                                                                     ChZipPartNames})
        connect(b, &QAbstractButton::toggled, this, edited);
    for (QLineEdit* e : {EditPassword, EditConfirmPassword, Editcomment, EditName, TargetDirectory->lineEdit()})
        connect(e, &QLineEdit::textChanged, this, edited);
    for (QSpinBox* s : {spinEditSplitSize, RxSpinPerItem, RxSpintAdd0, SpinCompressRate})
        connect(s, &QSpinBox::valueChanged, this, edited);
    for (QComboBox* c : {cbSplitSize, cbsplitType, CbEncryption})
        connect(c, &QComboBox::currentIndexChanged, this, edited);
    connect(&c_, &ZipPageController::Changed, this, &ZipPage::Refresh);
    connect(&c_, &ZipPageController::Progress, this, &ZipPage::ShowProgress);
    Refresh();
    ShowProgress();
}

ZipOptions ZipPage::Shown() const
{
    ZipOptions o = c_.Options();
    o.addPassword = ChPassword->isChecked();
    o.password = EditPassword->text();
    o.confirm = EditConfirmPassword->text();
    o.encryption = CbEncryption->currentIndex();
    o.addComment = ChComment->isChecked();
    o.comment = Editcomment->text();
    // No method checked (a setting out of range) stays so until one is chosen.
    if (method_->checkedId() >= 0)
        o.method = method_->checkedId();
    o.perItem = RxSpinPerItem->value();
    o.partSize = cbSplitSize->currentIndex();
    o.otherSize = spinEditSplitSize->value();
    o.otherUnit = cbsplitType->currentIndex();
    o.destination = TargetDirectory->text();
    o.autoName = RaAutoName->isChecked();
    o.baseName = EditName->text();
    o.numberWidth = RxSpintAdd0->value();
    o.storePaths = chStorePath->isChecked();
    o.subfolders = ChIncludeSunFolder->isChecked();
    o.sysAndHidden = ChIncludeSystemAndHide->isChecked();
    o.level = SpinCompressRate->value();
    o.zipPartNames = ChZipPartNames->isChecked();
    return o;
}

void ZipPage::Refresh()
{
    // Only the signals that report the user's edits are held back.
    std::vector<QSignalBlocker> quiet;
    for (QObject* control : std::initializer_list<QObject*>{
             ListboxZIP,  cbSplitSize,  spinEditSplitSize, cbsplitType,   RxSpinPerItem,  TargetDirectory->lineEdit(),
             EditName,    RxSpintAdd0,  SpinCompressRate,  EditPassword,  EditConfirmPassword, CbEncryption,
             Editcomment, RaSingle,     RaBlock,           RaMultipleZIP, RaAutoName,     RaManuName,
             chStorePath, ChIncludeSunFolder, ChIncludeSystemAndHide, ChPassword, ChComment, ChZipPartNames})
        quiet.emplace_back(control);
    const ZipOptions& o = c_.Options();

    G1->setTitle(tr("Items To ZIP: %1").arg(c_.Items().size()));
    ListboxZIP->SetItems(c_.Items());
    if (c_.Selected() < 0)
        ListboxZIP->clearSelection();
    ListboxZIP->setCurrentRow(c_.Selected());

    // A method out of range leaves every method unchecked.
    method_->setExclusive(false);
    for (QAbstractButton* button : method_->buttons())
        button->setChecked(method_->id(button) == o.method);
    method_->setExclusive(true);
    cbSplitSize->setCurrentIndex(o.partSize);
    cbSplitSize->setEnabled(c_.SplitSizeEnabled());
    spinEditSplitSize->setVisible(c_.OtherSizeShown());
    spinEditSplitSize->setMinimum(c_.OtherSizeMinimum());
    spinEditSplitSize->setValue(o.otherSize);
    cbsplitType->setVisible(c_.OtherSizeShown());
    cbsplitType->setCurrentIndex(o.otherUnit);
    RxSpinPerItem->setValue(o.perItem);
    RxSpinPerItem->setEnabled(c_.PerItemEnabled());
    ChZipPartNames->setChecked(o.zipPartNames);
    ChZipPartNames->setEnabled(c_.PartNamesEnabled());

    ShowText(TargetDirectory->lineEdit(), o.destination);
    RaAutoName->setChecked(o.autoName);
    RaManuName->setChecked(!o.autoName);
    ShowText(EditName, o.baseName);
    EditName->setEnabled(c_.NameFieldsEnabled());
    RxSpintAdd0->setValue(o.numberWidth);
    RxSpintAdd0->setEnabled(c_.NameFieldsEnabled());

    chStorePath->setChecked(o.storePaths);
    ChIncludeSunFolder->setChecked(o.subfolders);
    ChIncludeSystemAndHide->setChecked(o.sysAndHidden);
    SpinCompressRate->setValue(o.level);
    ChPassword->setChecked(o.addPassword);
    ShowText(EditPassword, o.password);
    ShowText(EditConfirmPassword, o.confirm);
    CbEncryption->setCurrentIndex(o.encryption);
    for (QWidget* w : std::initializer_list<QWidget*>{EditPassword, EditConfirmPassword, CbEncryption})
        w->setEnabled(c_.PasswordFieldsEnabled());
    ChComment->setChecked(o.addComment);
    ShowText(Editcomment, o.comment);
    Editcomment->setEnabled(c_.CommentEnabled());

    btnZip->setEnabled(c_.CreateEnabled());
    spZipCancel->setVisible(c_.CancelShown());
    btnViewLastZip->setVisible(c_.ViewShown());
    cursor_.Set(c_.Running());
}

void ZipPage::ShowProgress()
{
    ProgressZip->setValue(c_.ProgressValue());
    LabelZipStatus->setText(c_.Status());
    const QStringList& report = c_.Report();
    if (ListZipReport->count() > report.size())
        ListZipReport->clear();
    if (ListZipReport->count() < report.size()) {
        ListZipReport->addItems(report.mid(ListZipReport->count()));
        ListZipReport->scrollToBottom();
    }
}


void ZipPage::AddWildcard()
{
    TFormselectbyfilter dialog(c_.SettingsFile(), help_, this);
    if (dialog.exec() == QDialog::Accepted)
        c_.AddWildcard(dialog.Result());
}

bool ZipPage::eventFilter(QObject* watched, QEvent* event)
{
    // Files and folders dropped from a file manager become items.
    if (watched == ListboxZIP->viewport() &&
        ui::TakeDrop(event, [this](const QStringList& paths) { c_.AddItems(paths); }))
        return true;
    if (watched == ListboxZIP && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete) {
            c_.Remove();
            return true;
        }
        if (key->modifiers() & Qt::ControlModifier && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
            c_.Move(key->key() == Qt::Key_Up ? -1 : 1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
