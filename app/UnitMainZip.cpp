// The "Multiple ZIP" page of the main window: the items list, the create
// method and options, and the creation run with its progress.
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QVBoxLayout>

#include "app/UnitMain.h"
#include "ui/Text.h"
#include "app/Unitselectbyfilter.h"
#include "engine/ZipExceptions.h"
#include "platform/Files.h"
#include "platform/Hooks.h"

namespace {

// The part sizes of the blocked method, in the order of the combo box.
struct PartSize {
    const char* text;
    int64_t bytes;
};
const PartSize PartSizes[] = {
    {"1.2M", 1213952},           {"1.44M", 1457664},          {"2.88M", 2915328},
    {"5M", 5242880},             {"Zip 100M Disk", 100000000}, {"Zip 250M Disk", 250000000},
    {"CD-ROM 650M", 650000000},  {"Other Size", 0},
};
constexpr int64_t DefaultPartSize = 1213952;

QString Megabytes(double bytes)
{
    return QString::number(bytes / 1e6, 'f', 1) + " MB";
}

}  // namespace

QWidget* TFormMain::BuildZipPage()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);

    auto* toolbar = new QHBoxLayout;
    btnZip = Button("btnZip", "Create ZIP", "Create ZIP", "archive-insert", QStyle::SP_DialogSaveButton);
    QFont bold = btnZip->font();
    bold.setBold(true);
    btnZip->setFont(bold);
    btnViewLastZip =
        Button("btnViewLastZip", "View ZIP", "View Last Created ZIP Archives", "document-open", QStyle::SP_DirOpenIcon);
    btnViewLastZip->hide();
    spZipCancel = Button("spZipCancel", "Cancel", "Cancel Operation", "process-stop", QStyle::SP_BrowserStop);
    spZipCancel->hide();
    toolbar->addWidget(btnZip);
    toolbar->addWidget(btnViewLastZip);
    toolbar->addWidget(spZipCancel);
    toolbar->addStretch(1);
    AddMenuHelpExit(toolbar, "SpMenu", "Sphelp", "SpExit", 61);
    layout->addLayout(toolbar);

    auto* middle = new QHBoxLayout;
    // The items.
    G1 = new QGroupBox(page);
    G1->setObjectName("G1");
    auto* items = new QVBoxLayout(G1);
    ListboxZIP = new ui::ItemList(G1);
    ListboxZIP->setObjectName("ListboxZIP");
    ListboxZIP->setAcceptDrops(true);
    ListboxZIP->viewport()->setAcceptDrops(true);
    ListboxZIP->viewport()->installEventFilter(this);
    ListboxZIP->installEventFilter(this);
    items->addWidget(ListboxZIP, 1);
    auto* itemButtons = new QGridLayout;
    QPushButton* addFiles =
        Button("btnSelectFile", "Add Files...", "Add items by filename", "document-new", QStyle::SP_FileIcon);
    QPushButton* addWildcard =
        Button("btnSelectFolder", "Add Wildcard...", "Add item by wildcard", "folder-new", QStyle::SP_DirIcon);
    QPushButton* up = Button("btnUp", "Up", "Move item up", "go-up", QStyle::SP_ArrowUp);
    QPushButton* down = Button("btnDown", "Down", "Move item down ", "go-down", QStyle::SP_ArrowDown);
    QPushButton* remove = Button("btnRemoveZip", "Remove", "Remove a item", "list-remove", QStyle::SP_DialogNoButton);
    QPushButton* removeAll =
        Button("btnRemoveAllZip", "Remove All", "Remove all items", "edit-clear", QStyle::SP_DialogResetButton);
    itemButtons->addWidget(addFiles, 0, 0);
    itemButtons->addWidget(addWildcard, 0, 1);
    itemButtons->addWidget(up, 1, 0);
    itemButtons->addWidget(down, 1, 1);
    itemButtons->addWidget(remove, 2, 0);
    itemButtons->addWidget(removeAll, 2, 1);
    items->addLayout(itemButtons);
    middle->addWidget(G1, 1);

    auto* options = new QVBoxLayout;
    // Create method.
    auto* method = new QGroupBox("Create Method", page);
    auto* methodGrid = new QGridLayout(method);
    RaSingle = new QRadioButton("Single ZIP for all items", method);
    RaSingle->setObjectName("RaSingle");
    RaBlock = new QRadioButton("Blocked ZIP, part size", method);
    RaBlock->setObjectName("RaBlock");
    RaMultipleZIP = new QRadioButton("Multiple ZIPs, per", method);
    RaMultipleZIP->setObjectName("RaMultipleZIP");
    cbSplitSize = new QComboBox(method);
    cbSplitSize->setObjectName("cbSplitSize");
    for (const PartSize& size : PartSizes)
        cbSplitSize->addItem(size.text);
    spinEditSplitSize = new QSpinBox(method);
    spinEditSplitSize->setObjectName("spinEditSplitSize");
    spinEditSplitSize->setRange(1, 1000000000);
    cbsplitType = new QComboBox(method);
    cbsplitType->setObjectName("cbsplitType");
    cbsplitType->addItems({"Bytes", "Kb", "Mb"});
    cbsplitType->setCurrentIndex(-1);
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
    methodGrid->addWidget(new QLabel("Items ", method), 2, 2);
    methodGrid->setColumnStretch(4, 1);
    methodGrid->setVerticalSpacing(2);
    options->addWidget(method);

    // Destination and names.
    auto* naming = new QGroupBox("Filename Options", page);
    auto* namingGrid = new QGridLayout(naming);
    TargetDirectory = new ui::FolderEdit("Please select directory", naming);
    TargetDirectory->setObjectName("TargetDirectory");
    TargetDirectory->setText(QDir::homePath());
    RaAutoName = new QRadioButton("Auto generate ZIP filename", naming);
    RaAutoName->setObjectName("RaAutoName");
    RaManuName = new QRadioButton("Manually generate filename", naming);
    RaManuName->setObjectName("RaManuName");
    EditName = new QLineEdit("FileName", naming);
    EditName->setObjectName("EditName");
    RxSpintAdd0 = new QSpinBox(naming);
    RxSpintAdd0->setObjectName("RxSpintAdd0");
    RxSpintAdd0->setRange(2, 20);
    namingGrid->addWidget(new QLabel("Destination Directory", naming), 0, 0);
    namingGrid->addWidget(TargetDirectory, 0, 1, 1, 3);
    namingGrid->addWidget(RaAutoName, 1, 0);
    namingGrid->addWidget(RaManuName, 2, 0);
    namingGrid->addWidget(EditName, 2, 1, 1, 3);
    auto* width = new QHBoxLayout;
    width->setSpacing(6);
    width->addWidget(new QLabel("plus number, append 0 when less then", naming));
    width->addWidget(RxSpintAdd0);
    width->addWidget(new QLabel("number width", naming));
    width->addStretch(1);
    namingGrid->addLayout(width, 3, 1, 1, 3);
    namingGrid->setColumnStretch(3, 1);
    namingGrid->setVerticalSpacing(2);
    options->addWidget(naming);

    // Compression.
    auto* prefs = new QGroupBox("Compress Preferences", page);
    auto* prefsGrid = new QGridLayout(prefs);
    chStorePath = new QCheckBox("Store full path information", prefs);
    chStorePath->setObjectName("chStorePath");
    ChIncludeSunFolder = new QCheckBox("Include subfolder", prefs);
    ChIncludeSunFolder->setObjectName("ChIncludeSunFolder");
    ChIncludeSunFolder->setToolTip(
        "This is only valid in the items which are created by Select Files by Wildcard method");
    ChIncludeSystemAndHide = new QCheckBox("Include system and hidden attribute files ", prefs);
    ChIncludeSystemAndHide->setObjectName("ChIncludeSystemAndHide");
    SpinCompressRate = new QSpinBox(prefs);
    SpinCompressRate->setObjectName("SpinCompressRate");
    SpinCompressRate->setRange(0, 9);
    SpinCompressRate->setToolTip("A value of 9 has the highest compression ratio");
    ChPassword = new QCheckBox("Add password to protect Zip file", prefs);
    ChPassword->setObjectName("ChPassword");
    EditPassword = new QLineEdit(prefs);
    EditPassword->setObjectName("EditPassword");
    EditPassword->setEchoMode(QLineEdit::Password);
    EditConfirmPassword = new QLineEdit(prefs);
    EditConfirmPassword->setObjectName("EditConfirmPassword");
    EditConfirmPassword->setEchoMode(QLineEdit::Password);
    CbEncryption = new QComboBox(prefs);
    CbEncryption->setObjectName("CbEncryption");
    CbEncryption->addItems({"ZIP 2.0 (compatible)", "AES-256 (strong)"});
    CbEncryption->setToolTip("ZIP 2.0: every tool opens it, but it is weak. AES-256: 7-Zip, WinZip and most "
                             "current tools open it; Info-ZIP unzip does not");
    ChComment = new QCheckBox("Add comment", prefs);
    ChComment->setObjectName("ChComment");
    Editcomment = new QLineEdit(prefs);
    Editcomment->setObjectName("Editcomment");
    prefsGrid->addWidget(chStorePath, 0, 0, 1, 2);
    prefsGrid->addWidget(ChIncludeSunFolder, 0, 2, 1, 2);
    prefsGrid->addWidget(ChIncludeSystemAndHide, 1, 0, 1, 2);
    auto* rate = new QHBoxLayout;
    rate->setSpacing(6);
    rate->addWidget(new QLabel("Compression ratio", prefs));
    rate->addWidget(SpinCompressRate);
    rate->addStretch(1);
    prefsGrid->addLayout(rate, 1, 2, 1, 2);
    prefsGrid->addWidget(ChPassword, 2, 0, 1, 2);
    auto* encryption = new QHBoxLayout;
    encryption->setSpacing(6);
    encryption->addWidget(new QLabel("Encryption:", prefs));
    encryption->addWidget(CbEncryption, 1);
    prefsGrid->addLayout(encryption, 2, 2, 1, 2);
    prefsGrid->addWidget(new QLabel("Password", prefs), 3, 0);
    prefsGrid->addWidget(EditPassword, 3, 1);
    prefsGrid->addWidget(new QLabel("Confirm", prefs), 3, 2);
    prefsGrid->addWidget(EditConfirmPassword, 3, 3);
    prefsGrid->addWidget(ChComment, 4, 0);
    prefsGrid->addWidget(Editcomment, 4, 1, 1, 3);
    prefsGrid->setColumnStretch(1, 1);
    prefsGrid->setColumnStretch(3, 1);
    prefsGrid->setVerticalSpacing(2);
    options->addWidget(prefs);
    options->addStretch(1);
    middle->addLayout(options, 2);
    layout->addLayout(middle, 1);

    // What the run under way, or the last one, did.
    auto* progress = new QGroupBox("Progress", page);
    auto* progressGrid = new QGridLayout(progress);
    ProgressZip = new QProgressBar(progress);
    ProgressZip->setObjectName("ProgressZip");
    ProgressZip->setRange(0, 1000);
    ProgressZip->setValue(0);
    ProgressZip->setTextVisible(false);
    LabelZipStatus = new QLabel(progress);
    LabelZipStatus->setObjectName("LabelZipStatus");
    LabelZipStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LabelZipStatus->setMinimumWidth(1);
    ListZipReport = new QListWidget(progress);
    ListZipReport->setObjectName("ListZipReport");
    ListZipReport->setToolTip("Files skipped in the last run");
    ListZipReport->setMaximumHeight(3 * fontMetrics().height());
    progressGrid->addWidget(ProgressZip, 0, 0);
    progressGrid->addWidget(LabelZipStatus, 0, 1);
    progressGrid->addWidget(ListZipReport, 1, 0, 1, 2);
    progressGrid->setColumnStretch(0, 1);
    progressGrid->setColumnStretch(1, 2);
    layout->addWidget(progress);

    connect(addFiles, &QPushButton::clicked, this, &TFormMain::btnSelectFileClick);
    connect(addWildcard, &QPushButton::clicked, this, &TFormMain::btnSelectFolderClick);
    connect(up, &QPushButton::clicked, this, [this] { MoveItem(-1); });
    connect(down, &QPushButton::clicked, this, [this] { MoveItem(1); });
    connect(remove, &QPushButton::clicked, this, &TFormMain::btnRemoveZipClick);
    connect(removeAll, &QPushButton::clicked, this, &TFormMain::btnRemoveAllZipClick);
    connect(btnZip, &QPushButton::clicked, this, &TFormMain::btnZipClick);
    connect(spZipCancel, &QPushButton::clicked, this, &TFormMain::spZipCancelClick);
    connect(btnViewLastZip, &QPushButton::clicked, this, &TFormMain::btnViewLastZipClick);
    connect(ChPassword, &QCheckBox::clicked, this, &TFormMain::ChPasswordClick);
    connect(ChComment, &QCheckBox::clicked, this, &TFormMain::ChCommentClick);
    for (QRadioButton* r : {RaAutoName, RaManuName})
        connect(r, &QRadioButton::clicked, this, &TFormMain::RaAutoNameClick);
    for (QRadioButton* r : {RaSingle, RaBlock, RaMultipleZIP})
        connect(r, &QRadioButton::clicked, this, &TFormMain::RaSingleClick);
    connect(cbSplitSize, &QComboBox::activated, this, &TFormMain::cbSplitSizeChange);
    connect(cbsplitType, &QComboBox::activated, this, &TFormMain::cbsplitTypeChange);
    return page;
}

// ---- Enabling rules --------------------------------------------------------------------

void TFormMain::ChPasswordClick()
{
    EditPassword->setEnabled(ChPassword->isChecked());
    EditConfirmPassword->setEnabled(ChPassword->isChecked());
    CbEncryption->setEnabled(ChPassword->isChecked());
}

void TFormMain::ChCommentClick()
{
    Editcomment->setEnabled(ChComment->isChecked());
}

void TFormMain::RaAutoNameClick()
{
    EditName->setEnabled(!RaAutoName->isChecked());
    RxSpintAdd0->setEnabled(!RaAutoName->isChecked());
}

void TFormMain::RaSingleClick()
{
    RxSpinPerItem->setEnabled(!RaSingle->isChecked());
    cbSplitSize->setCurrentIndex(0);
    cbSplitSizeChange();
    cbSplitSize->setEnabled(RaBlock->isChecked());
}

void TFormMain::cbSplitSizeChange()
{
    const bool other = cbSplitSize->currentText() == "Other Size";
    spinEditSplitSize->setVisible(other);
    cbsplitType->setVisible(other);
    if (other) {
        if (cbsplitType->currentIndex() < 0)
            cbsplitType->setCurrentText("Mb");
        cbsplitTypeChange();
    }
}

void TFormMain::cbsplitTypeChange()
{
    const int minimum = cbsplitType->currentText() == "Bytes" ? 65536 : cbsplitType->currentText() == "Kb" ? 64 : 1;
    spinEditSplitSize->setMinimum(minimum);  // raises a smaller value to it
}

int64_t TFormMain::GetBlockSize() const
{
    const QString text = cbSplitSize->currentText();
    if (text == "Other Size") {
        const int unit = cbsplitType->currentIndex();
        if (unit < 0)
            return DefaultPartSize;
        const int64_t factors[] = {1, 1024, 1048576};
        return int64_t(spinEditSplitSize->value()) * factors[unit];
    }
    for (const PartSize& size : PartSizes)
        if (text == size.text)
            return size.bytes;
    return DefaultPartSize;
}

// ---- The items list --------------------------------------------------------------------

void TFormMain::AppendItems(const QStringList& items)
{
    for (const QString& item : items) {
        bool listed = false;
        for (int i = 0; i < ListboxZIP->count() && !listed; ++i)
            listed = ListboxZIP->item(i)->text().compare(item, Qt::CaseInsensitive) == 0;
        if (!listed) {
            ListboxZIP->addItem(item);
            ListboxZIP->item(ListboxZIP->count() - 1)->setToolTip(item);
        }
    }
    if (ListboxZIP->count() > 0)
        ListboxZIP->setCurrentRow(0);
    RefreshG1();
}

void TFormMain::AddItems(const QStringList& paths)
{
    QStringList items;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        items << (info.isDir() ? QDir(info.absoluteFilePath()).filePath("*") : info.absoluteFilePath());
    }
    PageControl1->setCurrentIndex(0);
    AppendItems(items);
}

void TFormMain::btnSelectFileClick()
{
    const QStringList files = AskFiles();
    if (!files.isEmpty())
        AppendItems(files);
}

void TFormMain::btnSelectFolderClick()
{
    TFormselectbyfilter dialog(settingsPath_, QDir::homePath(), [this](int context) { ShowHelp(context); }, this);
    if (dialog.exec() == QDialog::Accepted)
        AppendItems({dialog.Result().trimmed()});
}

void TFormMain::MoveItem(int step)
{
    ui::MoveSelectedRow(ListboxZIP, step);
}

void TFormMain::btnRemoveZipClick()
{
    if (ListboxZIP->count() == 0)
        return;
    const int row = ListboxZIP->currentRow();
    if (row < 0 || !ListboxZIP->currentItem()->isSelected()) {
        Information("Please select a item by clicking");
        return;
    }
    delete ListboxZIP->takeItem(row);
    if (ListboxZIP->count() > 0)
        ListboxZIP->setCurrentRow(row < ListboxZIP->count() ? row : 0);
    RefreshG1();
}

void TFormMain::btnRemoveAllZipClick()
{
    ListboxZIP->clear();
    RefreshG1();
}

// ---- Creating ---------------------------------------------------------------------------

void TFormMain::SetZipBusy(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else if (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    btnZip->setEnabled(!busy);
    spZipCancel->setVisible(busy);
    btnViewLastZip->setVisible(!LastCreated.empty());
}

void TFormMain::btnZipClick()
{
    // Cancel ends the busy state at once; the run it stopped may still be
    // winding down, and a new one must wait for it.
    if (zipJob_) {
        LabelZipStatus->setText("The previous run is still stopping; try again in a moment.");
        return;
    }
    if (ListboxZIP->count() == 0) {
        Information("No item for ZIP, please select files first!");
        return;
    }
    const QString typed = TargetDirectory->text();
    const QString folder = TargetDirectory->folder();
    if (folder.isEmpty()) {
        ShowError("Unable to create directory");
        return;
    }
    if (!QFileInfo(folder).isDir() && !platform::ForceDirectories(folder.toStdString())) {
        ShowError("Can not create the folder '" + typed + "', the operation will be aborted!");
        return;
    }
    ParCompress compress;
    compress.storePaths = chStorePath->isChecked();
    compress.includeSubfolders = ChIncludeSunFolder->isChecked();
    compress.level = SpinCompressRate->value();
    compress.includeSysAndHidden = ChIncludeSystemAndHide->isChecked();
    EditPassword->setText(EditPassword->text().trimmed());
    if (ChPassword->isChecked()) {
        if (EditPassword->text() != EditConfirmPassword->text()) {
            platform::MessageBox("The Confirm password is not matching", "Zamblok", platform::mbOK | 0x30);
            return;
        }
        compress.password = EditPassword->text().toStdString();
        compress.encryption = CbEncryption->currentIndex() == 1 ? TEncryption::Aes256 : TEncryption::Traditional;
    }
    if (ChComment->isChecked())
        compress.comment = Editcomment->text().trimmed().toStdString();

    ParZipName naming;
    naming.single = RaSingle->isChecked() || RaBlock->isChecked();
    naming.itemsPerArchive = RxSpinPerItem->value();
    compress.blocked = RaBlock->isChecked();
    if (compress.blocked)
        compress.blockSize = GetBlockSize();
    naming.destination = folder.toStdString();
    if (naming.destination.back() != '/')
        naming.destination += '/';
    naming.autoName = RaAutoName->isChecked();
    QString base = EditName->text().trimmed();
    if (base.isEmpty())
        base = "Zamblok";
    if (base.toUpper().endsWith(".ZIP"))
        base.chop(4);
    naming.baseName = base.toStdString();
    naming.numberWidth = RxSpintAdd0->value();

    // The run works on the items as they are now; the list stays editable.
    std::vector<std::string> items;
    for (int i = 0; i < ListboxZIP->count(); ++i)
        items.push_back(ListboxZIP->item(i)->text().toStdString());

    LastCreated.clear();
    SetZipBusy(true);
    zipJob_ = std::make_unique<TZipFile>();
    zipTally_ = {};
    ListZipReport->clear();
    ProgressZip->setValue(0);
    WatchCreation(*zipJob_);
    QString ending;
    try {
        zipJob_->CreateArchives(items, naming, compress);
        zipJob_->CopyCreatedArchives(LastCreated);
        ProgressZip->setValue(ProgressZip->maximum());
    } catch (const std::exception& e) {
        LastCreated.clear();
        ending = dynamic_cast<const EUserCanceled*>(&e) || dynamic_cast<const EAbort*>(&e)
                     ? QString(" Cancelled.")
                     : QString(" Stopped: %1").arg(e.what());
        Information(e.what());
    }
    if (ending.isEmpty() && zipTally_.cancelled)
        ending = " Cancelled.";
    const size_t written = LastCreated.size();
    LabelZipStatus->setText(QString("Wrote %1 %2 with %3 %4; skipped %5.%6")
                                .arg(written)
                                .arg(written == 1 ? "archive" : "archives")
                                .arg(zipTally_.files)
                                .arg(zipTally_.files == 1 ? "file" : "files")
                                .arg(zipTally_.skipped)
                                .arg(ending));
    zipJob_.reset();
    SetZipBusy(false);
    RunEnded();
}

void TFormMain::spZipCancelClick()
{
    SetZipBusy(false);
    if (zipJob_) {
        zipTally_.cancelled = true;
        zipJob_->Cancel();
    }
}

void TFormMain::btnViewLastZipClick()
{
    PageControl1->setCurrentIndex(1);
    ZipList = LastCreated;
    RefillZipList();
    AfterAdd();
}

void TFormMain::ZipReport(const QString& line)
{
    ListZipReport->addItem(line);
    ListZipReport->scrollToBottom();
}

void TFormMain::WatchCreation(TZipFile& job)
{
    TZipWriter& engine = job.Engine();
    job.OnArchive = [this](const ParArchiveProgress& p) {
        zipTally_.archive = p.index;
        zipTally_.archives = p.count;
        if (p.state == ParArchiveProgress::State::Started)
            LabelZipStatus->setText(
                QString("Archive %1 of %2: %3").arg(p.index + 1).arg(p.count).arg(ui::FileNameOf(p.archive)));
    };
    engine.OnStartZipInfo = [this](TZipWriter&, int, int64_t totalBytes, TEndCentral*, bool&) {
        zipTally_.archiveBytes = totalBytes;
        zipTally_.percent = 0;
        zipTally_.startedMs = QDateTime::currentMSecsSinceEpoch();
    };
    // "Archive k of n: file, p%, rate", the rate over the archive so far.
    const auto status = [this](int percent) {
        const double seconds = double(QDateTime::currentMSecsSinceEpoch() - zipTally_.startedMs) / 1000;
        const double done = double(zipTally_.archiveBytes) * percent / 100;
        LabelZipStatus->setText(QString("Archive %1 of %2: %3, %4%%5")
                                    .arg(zipTally_.archive + 1)
                                    .arg(zipTally_.archives)
                                    .arg(zipTally_.file)
                                    .arg(percent)
                                    .arg(seconds > 0.5 ? ", " + Megabytes(done / seconds) + "/s" : QString()));
    };
    engine.OnStartZip = [this, status](TZipWriter&, const std::string& file, TZipHeaderInfo&, bool&) {
        zipTally_.file = ui::FileNameOf(file);
        status(zipTally_.percent);
    };
    engine.OnTotalPercentDone = [this, status](TZipReader&, int percent) {
        const size_t archives = std::max<size_t>(zipTally_.archives, 1);
        ProgressZip->setValue(int((zipTally_.archive * 1000 + size_t(percent) * 10) / archives));
        if (percent != zipTally_.percent) {
            zipTally_.percent = percent;
            status(percent);
        }
    };
    engine.OnEndZip = [this](TZipWriter&, const std::string&, int64_t, int64_t, int64_t) { ++zipTally_.files; };
    engine.OnNoSuchFile = [this](TZipWriter& sender, const std::string& file) {
        ++zipTally_.skipped;
        ZipReport(ui::FileNameOf(sender.ZipName()) + ": " + ui::FromUtf8(file) + ": " + ui::FromUtf8(TZipFile::LeftOutReason(file)) +
                  "; skipped");
    };
    engine.OnSkippingFile = [this](TZipReader& sender, TSkipReason reason, const std::string& file, int, bool&) {
        ++zipTally_.skipped;
        const std::string& error = static_cast<TZipWriter&>(sender).SourceError();
        ZipReport(ui::FileNameOf(sender.ZipName()) + ": " + ui::FromUtf8(file) + ": " +
                  ui::FromUtf8(TZipFile::SkippedReason(reason, error)) + "; skipped");
    };
}
