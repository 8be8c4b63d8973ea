#include "app/UnitMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSplitter>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/HelpWindow.h"
#include "app/IniFile.h"
#include "app/myabout.h"
#include "platform/Hooks.h"
#include "ui/QtHooks.h"

namespace {

const char* const ZipSection = "Zip Options";
const char* const UnZipSection = "UnZip Options";
const QString Website = "https://zamblok.example.org/";

}  // namespace

TFormMain::TFormMain(const QString& settingsPath, const QString& helpFolder, QWidget* parent)
    : QWidget(parent), settingsPath_(settingsPath), helpFolder_(helpFolder)
{
    setObjectName("TFormMain");
    setWindowTitle("Zamblok");
    setWindowFlags(Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint);
    Q_INIT_RESOURCE(zamblok);
    setWindowIcon(QIcon::fromTheme("zamblok", QIcon(":/zamblok.svg")));
    resize(882, 643);

    PM_Options = new QMenu(this);
    PM_Options->setObjectName("PM_Options");
    QAction* visit = PM_Options->addAction("Visits Website...", this, &TFormMain::PM_VisitsWebsiteClick);
    visit->setObjectName("PM_VisitsWebsite");
    QAction* about = PM_Options->addAction("About...", this, &TFormMain::Pm_AboutClick);
    about->setObjectName("Pm_About");

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setStyleSheet("QTabBar::tab { min-width: 130px; }");
    QWidget* zipPage = BuildZipPage();
    zipPage->setObjectName("TabSheet1");
    QWidget* unzipPage = BuildUnZipPage();
    unzipPage->setObjectName("TabSheet3");
    PageControl1->addTab(zipPage, "Multiple ZIP");
    PageControl1->addTab(unzipPage, "Multiple UnZIP");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(PageControl1);

    ui::InstallQtHooks(this);
    AskArchives = [this] {
        const QString folder = ZipList.empty() ? ExtractFolder->folder() : QFileInfo(QString::fromStdString(ZipList.back())).path();
        return QFileDialog::getOpenFileNames(this, "Select one or multiple ZIP files by filename", folder,
                                             "All ZIP files (*.zip)");
    };
    AskFiles = [this] {
        return QFileDialog::getOpenFileNames(this, "Select one or multiple files by filename",
                                             TargetDirectory->folder(), "All ZIP files (*.*)");
    };
    AskOverwrite = [this](const QString& text) {
        using B = QMessageBox::StandardButton;
        QMessageBox box(QMessageBox::Question, "File Exists Alert", text, B::Yes | B::YesToAll | B::No | B::NoToAll,
                        this);
        box.setEscapeButton(B::No);
        return box.exec();
    };
    AskPassword = [this](const QString& text) -> std::optional<QString> {
        bool ok = false;
        const QString answer = QInputDialog::getText(this, "Password", text, QLineEdit::Password, QString(), &ok);
        return ok ? std::optional<QString>(answer) : std::nullopt;
    };
    PageControl1->setCurrentIndex(0);
    LoadSettings();
    RefreshG1();
    RefreshG2();
    RefreshG3();

    // Centred, and never more than 3 pixels above the top of the screen.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move((area.width() - width()) / 2, std::max(-3, (area.height() - height()) / 2 - 17));
    }
}

TFormMain::~TFormMain() = default;

// ---- Controls -------------------------------------------------------------------

QToolButton* TFormMain::ToolButton(const QString& name, const QString& text, const QString& hint,
                                   const QString& icon, QStyle::StandardPixmap fallback)
{
    auto* button = new QToolButton(this);
    button->setObjectName(name);
    button->setText(text);
    button->setToolTip(hint);
    button->setIcon(QIcon::fromTheme(icon, style()->standardIcon(fallback)));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    return button;
}

QPushButton* TFormMain::Button(const QString& name, const QString& text, const QString& hint, const QString& icon,
                               QStyle::StandardPixmap fallback)
{
    auto* button = new QPushButton(QIcon::fromTheme(icon, style()->standardIcon(fallback)), text, this);
    button->setObjectName(name);
    button->setToolTip(hint);
    return button;
}

void TFormMain::AddMenuHelpExit(QLayout* toolbar, const QString& menuName, const QString& helpName,
                                const QString& exitName, int helpContext)
{
    QToolButton* menu = ToolButton(menuName, "Menu", "Menu", "open-menu", QStyle::SP_FileDialogContentsView);
    connect(menu, &QToolButton::clicked, this,
            [this, menu] { PM_Options->exec(menu->mapToGlobal(QPoint(0, menu->height()))); });
    QToolButton* help = ToolButton(helpName, "Help", "Help", "help-contents", QStyle::SP_MessageBoxQuestion);
    connect(help, &QToolButton::clicked, this, [this, helpContext] { ShowHelp(helpContext); });
    QToolButton* exit = ToolButton(exitName, "Exit", "Exit", "application-exit", QStyle::SP_DialogCloseButton);
    connect(exit, &QToolButton::clicked, this, &QWidget::close);
    toolbar->addWidget(menu);
    toolbar->addWidget(help);
    toolbar->addWidget(exit);
}

QWidget* TFormMain::BuildUnZipPage()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);

    // Toolbar.
    auto* toolbar = new QHBoxLayout;
    btnExtractAll = Button("btnExtractAll", "Extract All", "Extract all compressed files in ZIP archives",
                           "archive-extract", QStyle::SP_ArrowDown);
    btnExtractSelected = Button("btnExtractSelected", "Extract Selected",
                                "Extract all selected compressed files in ZIP archives", "document-save",
                                QStyle::SP_DialogSaveButton);
    btnUnZipCancel = Button("btnUnZipCancel", "Cancel", "Cancel Operation", "process-stop", QStyle::SP_BrowserStop);
    btnUnZipCancel->hide();
    toolbar->addWidget(btnExtractAll);
    toolbar->addWidget(btnExtractSelected);
    toolbar->addWidget(btnUnZipCancel);
    toolbar->addStretch(1);
    AddMenuHelpExit(toolbar, "RxSpeedButton2", "SpeedButton21", "SpeedButton24", 62);
    layout->addLayout(toolbar);

    // The archive list and the entry list side by side.
    auto* splitter = new QSplitter(Qt::Horizontal, page);
    G2 = new QGroupBox(splitter);
    G2->setObjectName("G2");
    auto* archives = new QVBoxLayout(G2);
    ListBoxZipList = new QListWidget(G2);
    ListBoxZipList->setObjectName("ListBoxZipList");
    ListBoxZipList->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBoxZipList->setAcceptDrops(true);
    ListBoxZipList->viewport()->setAcceptDrops(true);
    ListBoxZipList->viewport()->installEventFilter(this);
    ListBoxZipList->installEventFilter(this);
    archives->addWidget(ListBoxZipList, 1);
    auto* archiveButtons = new QGridLayout;
    btnSelectZIP = Button("btnSelectZIP", "Add...", "Add ZIP files by filename", "list-add", QStyle::SP_FileIcon);
    btnDisplayDetails = Button("btnDisplayDetails", "Display", "Display compressed files in ZIP archives",
                               "view-list-details", QStyle::SP_FileDialogDetailedView);
    btnRemoveUnZip = Button("btnRemoveUnZip", "Remove", "Remove a item", "list-remove", QStyle::SP_DialogNoButton);
    btnRemoveAllUnZip =
        Button("btnRemoveAllUnZip", "Remove All", "Remove all items", "edit-clear", QStyle::SP_DialogResetButton);
    archiveButtons->addWidget(btnSelectZIP, 0, 0);
    archiveButtons->addWidget(btnDisplayDetails, 0, 1);
    archiveButtons->addWidget(btnRemoveUnZip, 1, 0);
    archiveButtons->addWidget(btnRemoveAllUnZip, 1, 1);
    archives->addLayout(archiveButtons);

    G3 = new QGroupBox(splitter);
    G3->setObjectName("G3");
    auto* entries = new QVBoxLayout(G3);
    model_ = new ui::FileDetailModel(FileDetails, this);
    ListBoxFileDetail = new ui::EntryListView(model_, G3);
    entries->addWidget(ListBoxFileDetail, 1);
    auto* entryButtons = new QHBoxLayout;
    btnSelectall = Button("btnSelectall", "Select All", "Select all  items", "edit-select-all",
                          QStyle::SP_DialogApplyButton);
    btnUnselectAll = Button("btnUnselectAll", "Unselect All", "Unselect all items", "edit-select-none",
                            QStyle::SP_DialogCancelButton);
    btnDeleteSelectedFiles = Button("btnDeleteSelectedFiles", "Delete...",
                                    "Delete selected compressed files in ZIP archives", "edit-delete",
                                    QStyle::SP_TrashIcon);
    entryButtons->addWidget(btnSelectall);
    entryButtons->addWidget(btnUnselectAll);
    entryButtons->addStretch(1);
    entryButtons->addWidget(btnDeleteSelectedFiles);
    entries->addLayout(entryButtons);
    splitter->addWidget(G2);
    splitter->addWidget(G3);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({230, 620});
    layout->addWidget(splitter, 1);

    auto* display = new QGroupBox("Display Options", page);
    auto* displayBox = new QVBoxLayout(display);
    ChAotoDisplay = new QCheckBox(
        "Automatically display compressed files list after you have selected  one or multiple ZIP archives", display);
    ChAotoDisplay->setObjectName("ChAotoDisplay");
    ChAotoDisplay->setChecked(true);
    displayBox->addWidget(ChAotoDisplay);
    layout->addWidget(display);

    // What the run under way, or the last one, did.
    auto* progress = new QGroupBox("Progress", page);
    auto* progressBox = new QVBoxLayout(progress);
    ProgressUnZip = new QProgressBar(progress);
    ProgressUnZip->setObjectName("ProgressUnZip");
    ProgressUnZip->setRange(0, 1000);
    ProgressUnZip->setValue(0);
    ProgressUnZip->setTextVisible(false);
    LabelUnZipStatus = new QLabel(progress);
    LabelUnZipStatus->setObjectName("LabelUnZipStatus");
    LabelUnZipStatus->setWordWrap(true);
    LabelUnZipStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ListUnZipReport = new QListWidget(progress);
    ListUnZipReport->setObjectName("ListUnZipReport");
    ListUnZipReport->setToolTip("Entries skipped or failed in the last run");
    progressBox->addWidget(ProgressUnZip);
    progressBox->addWidget(LabelUnZipStatus);
    progressBox->addWidget(ListUnZipReport, 1);
    // The report keeps to a few lines; the entry list above gets the room.
    ListUnZipReport->setMaximumHeight(5 * fontMetrics().height());

    auto* prefs = new QGroupBox("Uncompress Preferences", page);
    auto* grid = new QGridLayout(prefs);
    ExtractFolder = new ui::FolderEdit("Please select directory", prefs);
    ExtractFolder->setObjectName("ExtractFolder");
    ExtractFolder->setText(QDir::homePath());
    ChCreateSubFolder = new QCheckBox(
        "Auto create new subfolder under destination folder for each ZIP archive", prefs);
    ChCreateSubFolder->setObjectName("ChCreateSubFolder");
    ChUseOrigPath = new QCheckBox("Use original directory name which is stored in ZIP archive", prefs);
    ChUseOrigPath->setObjectName("ChUseOrigPath");
    ChUseOrigPath->setChecked(true);
    EditPWD = new QLineEdit(prefs);
    EditPWD->setObjectName("EditPWD");
    EditPWD->setEchoMode(QLineEdit::Password);
    grid->addWidget(new QLabel("Extract to:", prefs), 0, 0);
    grid->addWidget(ExtractFolder, 0, 1, 1, 2);
    grid->addWidget(ChCreateSubFolder, 1, 0, 1, 3);
    grid->addWidget(ChUseOrigPath, 2, 0, 1, 3);
    auto* passwordLabel = new QLabel("Input Password ( If has )", prefs);
    grid->addWidget(passwordLabel, 3, 0);
    grid->setColumnMinimumWidth(0, passwordLabel->sizeHint().width());
    grid->addWidget(EditPWD, 3, 1, 1, 2);
    grid->addWidget(new QLabel("Overwrite Mode:", prefs), 4, 0);
    overwrite_ = new QButtonGroup(this);
    const char* const modes[] = {"Prompt before overwrite", "Always without prompt", "Never", "If newer file",
                                 "If older file"};
    auto* modeBox = new QGridLayout;
    for (int k = 0; k < 5; ++k) {
        auto* radio = new QRadioButton(modes[k], prefs);
        radio->setObjectName(QString("R%1").arg(k));
        overwrite_->addButton(radio, k);
        modeBox->addWidget(radio, k % 3, k / 3);
    }
    grid->addLayout(modeBox, 4, 1, 1, 2);
    grid->setColumnStretch(2, 1);
    grid->setVerticalSpacing(2);
    auto* options = new QHBoxLayout;
    options->addWidget(prefs, 5);
    options->addWidget(progress, 3);
    layout->addLayout(options);

    connect(btnSelectZIP, &QPushButton::clicked, this, &TFormMain::btnSelectZIPClick);
    connect(btnDisplayDetails, &QPushButton::clicked, this, &TFormMain::btnDisplayDetailsClick);
    connect(btnRemoveUnZip, &QPushButton::clicked, this, &TFormMain::btnRemoveUnZipClick);
    connect(btnRemoveAllUnZip, &QPushButton::clicked, this, &TFormMain::btnRemoveAllUnZipClick);
    connect(btnSelectall, &QPushButton::clicked, this, &TFormMain::btnSelectallClick);
    connect(btnUnselectAll, &QPushButton::clicked, this, &TFormMain::btnUnselectAllClick);
    connect(btnDeleteSelectedFiles, &QPushButton::clicked, this, &TFormMain::btnDeleteSelectedFilesClick);
    connect(btnExtractAll, &QPushButton::clicked, this, &TFormMain::btnExtractAllClick);
    connect(btnExtractSelected, &QPushButton::clicked, this, &TFormMain::btnExtractSelectedClick);
    connect(btnUnZipCancel, &QPushButton::clicked, this, &TFormMain::btnUnZipCancelClick);
    return page;
}

// ---- Settings -------------------------------------------------------------------

void TFormMain::LoadSettings()
{
    const TIniFile ini(settingsPath_.toStdString());
    ChPassword->setChecked(ini.ReadBool(ZipSection, "AddPassword", false));
    CbEncryption->setCurrentIndex(ini.ReadInteger(ZipSection, "Encryption", 0) == 1 ? 1 : 0);
    ChComment->setChecked(ini.ReadBool(ZipSection, "AddComment", false));
    ChPasswordClick();
    ChCommentClick();
    // A method outside 0 to 2 leaves every method unchecked; a run then
    // makes "Multiple ZIPs, per" archives.
    const int method = ini.ReadInteger(ZipSection, "ZIP Method", 2);
    RaSingle->setAutoExclusive(false);
    RaBlock->setAutoExclusive(false);
    RaMultipleZIP->setAutoExclusive(false);
    RaSingle->setChecked(method == 0);
    RaBlock->setChecked(method == 1);
    RaMultipleZIP->setChecked(method == 2);
    for (QRadioButton* r : {RaSingle, RaBlock, RaMultipleZIP})
        r->setAutoExclusive(true);
    RaAutoName->setChecked(ini.ReadBool(ZipSection, "IsAutoName", true));
    RaManuName->setChecked(!RaAutoName->isChecked());
    RaAutoNameClick();
    RxSpinPerItem->setValue(ini.ReadInteger(ZipSection, "PerItem", 1));
    RaSingleClick();
    EditName->setText(QString::fromStdString(ini.ReadString(ZipSection, "Manual Filename", "Filename")));
    RxSpintAdd0->setValue(ini.ReadInteger(ZipSection, "Suff", 2));
    ChIncludeSunFolder->setChecked(ini.ReadBool(ZipSection, "InCludeSubFolder", true));
    chStorePath->setChecked(ini.ReadBool(ZipSection, "StorePath", true));
    ChIncludeSystemAndHide->setChecked(ini.ReadBool(ZipSection, "IncludeSysAndHide", true));
    SpinCompressRate->setValue(ini.ReadInteger(ZipSection, "Rate", 7));

    ChAotoDisplay->setChecked(ini.ReadBool(UnZipSection, "Auto Display Details", true));
    ChCreateSubFolder->setChecked(ini.ReadBool(UnZipSection, "Create SubFolder", false));
    const int mode = ini.ReadInteger(UnZipSection, "Overwite", 2);
    // A value outside 0 to 4 leaves every mode unchecked.
    overwrite_->setExclusive(false);
    for (QAbstractButton* button : overwrite_->buttons())
        button->setChecked(overwrite_->id(button) == mode);
    overwrite_->setExclusive(true);
}

void TFormMain::SaveSettings()
{
    TIniFile ini(settingsPath_.toStdString());
    ini.WriteBool(ZipSection, "AddPassword", ChPassword->isChecked());
    ini.WriteInteger(ZipSection, "Encryption", CbEncryption->currentIndex());
    ini.WriteBool(ZipSection, "AddComment", ChComment->isChecked());
    ini.WriteInteger(ZipSection, "ZIP Method", RaMultipleZIP->isChecked() ? 2 : RaBlock->isChecked() ? 1 : 0);
    ini.WriteBool(ZipSection, "IsAutoName", RaAutoName->isChecked());
    ini.WriteInteger(ZipSection, "PerItem", RxSpinPerItem->value());
    ini.WriteString(ZipSection, "Manual Filename", EditName->text().toStdString());
    ini.WriteInteger(ZipSection, "Suff", RxSpintAdd0->value());
    ini.WriteBool(ZipSection, "InCludeSubFolder", ChIncludeSunFolder->isChecked());
    ini.WriteBool(ZipSection, "StorePath", chStorePath->isChecked());
    ini.WriteBool(ZipSection, "IncludeSysAndHide", ChIncludeSystemAndHide->isChecked());
    ini.WriteInteger(ZipSection, "Rate", SpinCompressRate->value());

    ini.WriteBool(UnZipSection, "Auto Display Details", ChAotoDisplay->isChecked());
    ini.WriteBool(UnZipSection, "Create SubFolder", ChCreateSubFolder->isChecked());
    const int mode = overwrite_->checkedId();
    ini.WriteInteger(UnZipSection, "Overwite", mode < 0 ? 0 : mode);
    if (!ini.UpdateFile())
        ShowError("The settings could not be saved to " + settingsPath_);
}

// ---- Counters -------------------------------------------------------------------

void TFormMain::RefreshG1()
{
    G1->setTitle(QString("Items To ZIP: %1").arg(ListboxZIP->count()));
}

void TFormMain::RefreshG2()
{
    G2->setTitle(QString("ZIP Archives: %1").arg(ZipList.size()));
}

void TFormMain::RefreshG3()
{
    G3->setTitle(QString("Compressed Files To UnZIP: %1").arg(model_->rowCount()));
}

// ---- Help, about, messages --------------------------------------------------------

void TFormMain::ShowHelp(int context)
{
    if (!help_)
        help_ = new THelpWindow(helpFolder_, this);
    help_->ShowTopic(context);
}

void TFormMain::Pm_AboutClick()
{
    Taboutform about(Website, this);
    connect(&about, &Taboutform::helpRequested, this, [this] { ShowHelp(30); });
    about.exec();
}

void TFormMain::PM_VisitsWebsiteClick()
{
    QDesktopServices::openUrl(QUrl(Website));
}

void TFormMain::Information(const QString& text)
{
    platform::MessageBox(text.toStdString(), "Zamblok", platform::mbOK | 0x40);
}

void TFormMain::ShowError(const QString& text)
{
    platform::MessageBox(text.toStdString(), "Zamblok", platform::mbOK | 0x10);
}

void TFormMain::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1) {
        ShowHelp(PageControl1->currentIndex() == 0 ? 61 : 62);
        return;
    }
    QWidget::keyPressEvent(event);
}

// ---- Closing --------------------------------------------------------------------

void TFormMain::closeEvent(QCloseEvent* event)
{
    // A run under way is cancelled first; the window closes once it has
    // ended, so nothing it uses is freed under it.
    if (Running()) {
        closePending_ = true;
        if (unzipJob_)
            unzipJob_->Cancel();
        if (listJob_)
            listJob_->Cancel();
        if (zipJob_)
            zipJob_->Cancel();
        event->ignore();
        return;
    }
    LastCreated.clear();
    SaveSettings();
    if (help_)
        help_->close();
    event->accept();
}

void TFormMain::RunEnded()
{
    if (closePending_ && !Running())
        QTimer::singleShot(0, this, &QWidget::close);
}
