#include "app/UnZipPage.h"

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QVBoxLayout>

#include "app/UnZipQuestions.h"
#include "ui/Buttons.h"
#include "ui/Drops.h"
#include "platform/CodePage.h"
#include "ui/Text.h"

UnZipPage::UnZipPage(UnZipPageController& controller, QWidget* parent) : QWidget(parent), c_(controller)
{
    auto* layout = new QVBoxLayout(this);

    // Toolbar.
    toolbar_ = new QHBoxLayout;
    btnExtractAll = ui::PushButton(this, "btnExtractAll", tr("Extr&act All"), tr("Extract all compressed files in ZIP archives"),
                                   "archive-extract", QStyle::SP_ArrowDown);
    btnExtractSelected = ui::PushButton(this, "btnExtractSelected", tr("&Extract Selected"),
                                        tr("Extract all selected compressed files in ZIP archives"), "document-save",
                                        QStyle::SP_DialogSaveButton);
    btnUnZipCancel =
        ui::PushButton(this, "btnUnZipCancel", tr("Ca&ncel"), tr("Cancel Operation"), "process-stop", QStyle::SP_BrowserStop);
    btnUnZipCancel->hide();
    btnTest = ui::PushButton(this, "btnTest", tr("Te&st"),
                             tr("Test the archives of the selected entries, or all: every entry decoded and checked"),
                             "tools-check-spelling", QStyle::SP_DialogApplyButton);
    toolbar_->addWidget(btnExtractAll);
    toolbar_->addWidget(btnExtractSelected);
    toolbar_->addWidget(btnTest);
    toolbar_->addWidget(btnUnZipCancel);
    toolbar_->addStretch(1);
    layout->addLayout(toolbar_);

    // The archive list and the entry list side by side.
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    G2 = new QGroupBox(splitter);
    G2->setObjectName("G2");
    auto* archives = new QVBoxLayout(G2);
    ListBoxZipList = new QListWidget(G2);
    ListBoxZipList->setObjectName("ListBoxZipList");
    ListBoxZipList->setAccessibleName(tr("ZIP Archives"));
    ListBoxZipList->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBoxZipList->setAcceptDrops(true);
    ListBoxZipList->viewport()->setAcceptDrops(true);
    ListBoxZipList->viewport()->installEventFilter(this);
    ListBoxZipList->installEventFilter(this);
    archives->addWidget(ListBoxZipList, 1);
    auto* archiveButtons = new QGridLayout;
    btnSelectZIP =
        ui::PushButton(this, "btnSelectZIP", tr("A&dd..."), tr("Add ZIP files by filename"), "list-add", QStyle::SP_FileIcon);
    btnDisplayDetails = ui::PushButton(this, "btnDisplayDetails", tr("Displa&y"), tr("Display compressed files in ZIP archives"),
                                       "view-list-details", QStyle::SP_FileDialogDetailedView);
    btnRemoveUnZip =
        ui::PushButton(this, "btnRemoveUnZip", tr("&Remove"), tr("Remove a item"), "list-remove", QStyle::SP_DialogNoButton);
    btnRemoveAllUnZip = ui::PushButton(this, "btnRemoveAllUnZip", tr("Remo&ve All"), tr("Remove all items"), "edit-clear",
                                       QStyle::SP_DialogResetButton);
    archiveButtons->addWidget(btnSelectZIP, 0, 0);
    archiveButtons->addWidget(btnDisplayDetails, 0, 1);
    archiveButtons->addWidget(btnRemoveUnZip, 1, 0);
    archiveButtons->addWidget(btnRemoveAllUnZip, 1, 1);
    archives->addLayout(archiveButtons);

    G3 = new QGroupBox(splitter);
    G3->setObjectName("G3");
    auto* entries = new QVBoxLayout(G3);
    EditFilter = new QLineEdit(G3);
    EditFilter->setObjectName("EditFilter");
    EditFilter->setPlaceholderText(tr("Filter by name or folder"));
    EditFilter->setClearButtonEnabled(true);
    EditFilter->setToolTip(tr("Shows only the entries whose stored name holds this text, whatever its case"));
    auto* filterRow = new QHBoxLayout;
    auto* filterLabel = new QLabel(tr("&Filter:"), G3);
    filterLabel->setBuddy(EditFilter);
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(EditFilter, 1);
    LabelShown = new QLabel(G3);
    LabelShown->setObjectName("LabelShown");
    filterRow->addWidget(LabelShown);
    entries->addLayout(filterRow);
    model_ = new ui::FileDetailModel(c_.Rows(), this);
    ListBoxFileDetail = new ui::EntryListView(model_, G3);
    ListBoxFileDetail->setAccessibleName(tr("Compressed Files To UnZIP"));
    entries->addWidget(ListBoxFileDetail, 1);
    auto* entryButtons = new QHBoxLayout;
    btnSelectall = ui::PushButton(this, "btnSelectall", tr("Sele&ct All"), tr("Select all  items"), "edit-select-all",
                                  QStyle::SP_DialogApplyButton);
    btnUnselectAll = ui::PushButton(this, "btnUnselectAll", tr("&Unselect All"), tr("Unselect all items"), "edit-select-none",
                                    QStyle::SP_DialogCancelButton);
    btnDeleteSelectedFiles =
        ui::PushButton(this, "btnDeleteSelectedFiles", tr("De&lete..."), tr("Delete selected compressed files in ZIP archives"),
                       "edit-delete", QStyle::SP_TrashIcon);
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

    auto* display = new QGroupBox(tr("Display Options"), this);
    auto* displayBox = new QVBoxLayout(display);
    ChAotoDisplay = new QCheckBox(
        tr("Automatically display compressed files list after you have selected  one or multiple &ZIP archives"), display);
    ChAotoDisplay->setObjectName("ChAotoDisplay");
    displayBox->addWidget(ChAotoDisplay);
    // Names without the UTF-8 flag are read in this code page by listing,
    // extraction, test and deletion alike.
    CodePage = new QComboBox(display);
    CodePage->setObjectName("CodePage");
    for (const char* page : {"CP437", "CP850", "CP852", "CP855", "CP857", "CP860", "CP861", "CP862", "CP863",
                             "CP865", "CP866", "CP869", "CP874", "CP932", "CP936", "CP949", "CP950", "CP1250",
                             "CP1251", "CP1252", "CP1253", "CP1254", "CP1255", "CP1256", "CP1257", "CP1258"})
        if (platform::KnownCodePage(page) || std::string_view(page) == "CP437")
            CodePage->addItem(page);
    auto* codePageRow = new QHBoxLayout;
    auto* codePageLabel = new QLabel(tr("Names in archives from &Windows tools:"), display);
    codePageLabel->setBuddy(CodePage);
    codePageRow->addWidget(codePageLabel);
    codePageRow->addWidget(CodePage);
    codePageRow->addStretch(1);
    displayBox->addLayout(codePageRow);
    layout->addWidget(display);

    // What the run under way, or the last one, did.
    auto* progress = new QGroupBox(tr("Progress"), this);
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
    ListUnZipReport->setAccessibleName(tr("Report"));
    ListUnZipReport->setToolTip(tr("Entries skipped or failed in the last run"));
    progressBox->addWidget(ProgressUnZip);
    progressBox->addWidget(LabelUnZipStatus);
    progressBox->addWidget(ListUnZipReport, 1);
    btnOpenDestination = ui::PushButton(this, "btnOpenDestination", tr("O&pen destination"),
                                        tr("Open the folder the last extraction wrote to"), "folder-open",
                                        QStyle::SP_DirOpenIcon);
    progressBox->addWidget(btnOpenDestination, 0, Qt::AlignLeft);
    ui::WrapLines(ListUnZipReport);

    auto* prefs = new QGroupBox(tr("Uncompress Preferences"), this);
    auto* grid = new QGridLayout(prefs);
    ExtractFolder = new ui::FolderEdit(tr("Please select directory"), prefs);
    ExtractFolder->setObjectName("ExtractFolder");
    ExtractFolder->setText(c_.options.extractFolder);
    ChCreateSubFolder =
        new QCheckBox(tr("Auto create new su&bfolder under destination folder for each ZIP archive"), prefs);
    ChCreateSubFolder->setObjectName("ChCreateSubFolder");
    ChUseOrigPath = new QCheckBox(tr("Use ori&ginal directory name which is stored in ZIP archive"), prefs);
    ChUseOrigPath->setObjectName("ChUseOrigPath");
    ChGoOn = new QCheckBox(tr("Go on &with the next archive when one fails"), prefs);
    ChGoOn->setObjectName("ChGoOn");
    ChGoOn->setToolTip(tr("Off: an extraction or deletion stops at the first archive that fails"));
    EditPWD = new QLineEdit(prefs);
    EditPWD->setObjectName("EditPWD");
    EditPWD->setEchoMode(QLineEdit::Password);
    auto* extractLabel = new QLabel(tr("Ex&tract to:"), prefs);
    ExtractFolder->SetLabel(extractLabel);
    grid->addWidget(extractLabel, 0, 0);
    grid->addWidget(ExtractFolder, 0, 1, 1, 2);
    grid->addWidget(ChCreateSubFolder, 1, 0, 1, 3);
    grid->addWidget(ChUseOrigPath, 2, 0, 1, 3);
    grid->addWidget(ChGoOn, 5, 0, 1, 3);
    auto* passwordLabel = new QLabel(tr("&Input Password ( If has )"), prefs);
    passwordLabel->setBuddy(EditPWD);
    grid->addWidget(passwordLabel, 3, 0);
    grid->setColumnMinimumWidth(0, passwordLabel->sizeHint().width());
    grid->addWidget(EditPWD, 3, 1, 1, 2);
    // The modes are reached by the label's key and picked with the arrows.
    auto* modeLabel = new QLabel(tr("&Overwrite Mode:"), prefs);
    grid->addWidget(modeLabel, 4, 0);
    overwrite_ = new QButtonGroup(this);
    const char* const modes[] = {QT_TR_NOOP("Prompt before overwrite"), QT_TR_NOOP("Always without prompt"),
                                 QT_TR_NOOP("Never"), QT_TR_NOOP("If newer file"), QT_TR_NOOP("If older file")};
    auto* modeBox = new QGridLayout;
    for (int k = 0; k < 5; ++k) {
        auto* radio = new QRadioButton(tr(modes[k]), prefs);
        radio->setObjectName(QString("R%1").arg(k));
        overwrite_->addButton(radio, k);
        modeBox->addWidget(radio, k % 3, k / 3);
        if (k == 0)
            modeLabel->setBuddy(radio);
    }
    grid->addLayout(modeBox, 4, 1, 1, 2);
    grid->setColumnStretch(2, 1);
    grid->setVerticalSpacing(2);
    auto* options = new QHBoxLayout;
    options->addWidget(prefs, 5);
    options->addWidget(progress, 3);
    layout->addLayout(options);

    AskArchives = [this] {
        const std::vector<std::string>& listed = c_.Archives();
        const QString folder =
            listed.empty() ? ExtractFolder->folder() : QFileInfo(ui::FromUtf8(listed.back())).path();
        return QFileDialog::getOpenFileNames(this, tr("Select one or multiple ZIP files by filename"), folder,
                                             tr("All ZIP files (*.zip)"));
    };

    // The questions of a run, asked while it waits.
    AskWithDialogs(c_, this);

    // The user's actions go to the controller.
    connect(btnSelectZIP, &QPushButton::clicked, this, [this] {
        const QStringList files = AskArchives();
        if (!files.isEmpty())
            c_.AddArchives(files);
    });
    connect(btnDisplayDetails, &QPushButton::clicked, &c_, &UnZipPageController::ShowFileDetails);
    connect(btnRemoveUnZip, &QPushButton::clicked, &c_, &UnZipPageController::RemoveArchive);
    connect(btnRemoveAllUnZip, &QPushButton::clicked, &c_, &UnZipPageController::RemoveAllArchives);
    connect(btnSelectall, &QPushButton::clicked, ListBoxFileDetail, &QAbstractItemView::selectAll);
    connect(btnUnselectAll, &QPushButton::clicked, ListBoxFileDetail, &QAbstractItemView::clearSelection);
    connect(btnDeleteSelectedFiles, &QPushButton::clicked, this,
            [this] { c_.DeleteSelected(ListBoxFileDetail->SelectedRows()); });
    connect(btnExtractAll, &QPushButton::clicked, &c_, &UnZipPageController::ExtractAll);
    connect(btnExtractSelected, &QPushButton::clicked, this,
            [this] { c_.ExtractSelected(ListBoxFileDetail->SelectedRows()); });
    connect(btnUnZipCancel, &QPushButton::clicked, &c_, &UnZipPageController::Cancel);
    connect(btnTest, &QPushButton::clicked, this, [this] { c_.Test(ListBoxFileDetail->SelectedRows()); });
    connect(btnOpenDestination, &QPushButton::clicked, &c_, &UnZipPageController::OpenDestination);
    connect(CodePage, &QComboBox::currentTextChanged, this, [this](const QString& page) {
        if (page == c_.options.namesCodePage)
            return;
        c_.options.namesCodePage = page;
        if (!c_.RowsHidden() && !c_.Archives().empty())
            c_.ShowFileDetails();  // the names as the new code page reads them
    });
    connect(EditFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
        ListBoxFileDetail->SetFilter(text);
        ShowRows();
    });
    connect(ListBoxFileDetail, &ui::EntryListView::OpenRequested, &c_, &UnZipPageController::OpenEntry);
    connect(ListBoxFileDetail, &ui::EntryListView::DragRequested, this, &UnZipPage::DragOut);
    connect(ListBoxFileDetail, &QWidget::customContextMenuRequested, this, &UnZipPage::ShowEntryMenu);
    connect(ListBoxZipList, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> selected = ListBoxZipList->selectedItems();
        c_.SetCurrentArchive(selected.isEmpty() ? -1 : ListBoxZipList->row(selected.front()));
    });
    connect(ChAotoDisplay, &QCheckBox::toggled, this, [this](bool on) { c_.options.autoDisplay = on; });
    connect(ChCreateSubFolder, &QCheckBox::toggled, this, [this](bool on) { c_.options.subfolderPerArchive = on; });
    connect(ChUseOrigPath, &QCheckBox::toggled, this, [this](bool on) { c_.options.useStoredPaths = on; });
    connect(ChGoOn, &QCheckBox::toggled, this, [this](bool on) { c_.options.goOnAfterFailure = on; });
    connect(EditPWD, &QLineEdit::textChanged, this, [this](const QString& text) { c_.options.password = text; });
    connect(ExtractFolder->lineEdit(), &QLineEdit::textChanged, this,
            [this] { c_.options.extractFolder = ExtractFolder->folder(); });
    connect(overwrite_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on)
            c_.options.overwriteMode = id;
    });

    // The controller's state comes back to the widgets.
    connect(&c_, &UnZipPageController::Changed, this, &UnZipPage::Refresh);
    connect(&c_, &UnZipPageController::RowsChanged, this, &UnZipPage::ShowRows);
    connect(&c_, &UnZipPageController::Progress, this, &UnZipPage::ShowProgress);
    Refresh();
    ShowRows();
}

void UnZipPage::Refresh()
{
    // The archive list, when it differs from the controller's.
    const std::vector<std::string>& archives = c_.Archives();
    bool same = ListBoxZipList->count() == int(archives.size());
    for (int i = 0; same && i < ListBoxZipList->count(); ++i)
        same = ListBoxZipList->item(i)->text() == ui::FromUtf8(archives[size_t(i)]);
    {
        const QSignalBlocker block(ListBoxZipList);
        if (!same) {
            ListBoxZipList->clear();
            for (const std::string& name : archives) {
                ListBoxZipList->addItem(ui::FromUtf8(name));
                ListBoxZipList->item(ListBoxZipList->count() - 1)->setToolTip(ui::FromUtf8(name));  // when cut
            }
        }
        if (c_.CurrentArchive() >= 0)
            ListBoxZipList->setCurrentRow(c_.CurrentArchive());
        else
            ListBoxZipList->clearSelection();
    }
    G2->setTitle(tr("ZIP Archives: %1").arg(archives.size()));

    // The options.
    const UnZipOptions& o = c_.options;
    for (const auto& [box, on] : {std::pair{ChAotoDisplay, o.autoDisplay}, {ChCreateSubFolder, o.subfolderPerArchive},
                                  {ChUseOrigPath, o.useStoredPaths}, {ChGoOn, o.goOnAfterFailure}}) {
        const QSignalBlocker block(box);
        box->setChecked(on);
    }
    {
        const QSignalBlocker block(overwrite_);
        overwrite_->setExclusive(false);  // a stored mode out of range checks none
        for (QAbstractButton* button : overwrite_->buttons())
            button->setChecked(overwrite_->id(button) == o.overwriteMode);
        overwrite_->setExclusive(true);
    }
    if (EditPWD->text() != o.password)
        EditPWD->setText(o.password);
    if (ExtractFolder->folder() != o.extractFolder)
        ExtractFolder->setText(o.extractFolder);
    {
        const QSignalBlocker block(CodePage);
        if (CodePage->findText(o.namesCodePage) < 0)
            CodePage->addItem(o.namesCodePage);  // one the settings name beyond the usual list
        CodePage->setCurrentText(o.namesCodePage);
    }

    // What may be done now.
    const bool busy = c_.Busy();
    for (QWidget* w : std::initializer_list<QWidget*>{btnExtractAll, btnExtractSelected, btnTest, btnSelectZIP,
                                                      btnRemoveUnZip, btnRemoveAllUnZip, btnDeleteSelectedFiles})
        w->setEnabled(!busy);
    btnOpenDestination->setEnabled(!busy && !c_.LastDestination().isEmpty());
    btnUnZipCancel->setVisible(c_.CancelShown());
    cursor_.Set(c_.Running());
}

void UnZipPage::ShowRows()
{
    model_->Reset();
    // The caption counts every listed entry, the filter those it shows.
    G3->setTitle(c_.RowsHidden() ? tr("Compressed Files To UnZIP: Hidden")
                                 : tr("Compressed Files To UnZIP: %1").arg(c_.Rows().size()));
    LabelShown->setText(EditFilter->text().isEmpty() ? QString()
                                                     : tr("%1 shown").arg(ListBoxFileDetail->ShownRows()));
}

void UnZipPage::ShowEntryMenu(const QPoint& pos)
{
    const int row = ListBoxFileDetail->CurrentRow();
    if (!ListBoxFileDetail->indexAt(pos).isValid() || row < 0)
        return;
    const bool busy = c_.Busy();
    QMenu menu(this);
    menu.setObjectName("EntryMenu");
    menu.addAction(tr("&Open"), this, [this, row] { c_.OpenEntry(row); })->setEnabled(!busy);
    menu.addAction(tr("&Extract Selected"), btnExtractSelected, &QPushButton::click)->setEnabled(!busy);
    menu.addAction(tr("&Delete..."), btnDeleteSelectedFiles, &QPushButton::click)->setEnabled(!busy);
    menu.addAction(tr("&Copy name"), this, [this] {
        QStringList names;
        for (const int r : ListBoxFileDetail->SelectedRows())
            names << ui::FromUtf8(c_.Rows()[size_t(r)].path + c_.Rows()[size_t(r)].fileName);
        QApplication::clipboard()->setText(names.join('\n'));
    });
    menu.exec(ListBoxFileDetail->viewport()->mapToGlobal(pos));
}

void UnZipPage::DragOut(const std::vector<int>& rows)
{
    const QStringList paths = c_.ExtractPrivately(rows, {});
    if (paths.isEmpty())
        return;
    auto* drag = new QDrag(ListBoxFileDetail);
    drag->setMimeData(new ui::PendingFiles(paths, [this] { return !c_.Busy(); }));
    drag->exec(Qt::CopyAction);
}

void UnZipPage::ShowProgress()
{
    ProgressUnZip->setValue(c_.Permille());
    LabelUnZipStatus->setText(c_.Status());
    const QStringList& report = c_.Report();
    if (report.size() < ListUnZipReport->count())
        ListUnZipReport->clear();
    if (report.size() > ListUnZipReport->count()) {
        ListUnZipReport->addItems(report.mid(ListUnZipReport->count()));
        ListUnZipReport->scrollToBottom();
    }
}


bool UnZipPage::eventFilter(QObject* watched, QEvent* event)
{
    // Archives dropped from a file manager are added as if chosen.
    if (watched == ListBoxZipList->viewport() && ui::TakeDrop(event, [this](const QStringList& dropped) {
            QStringList files;
            for (const QString& path : dropped)
                if (QFileInfo(path).isFile())
                    files << path;
            if (!files.isEmpty())
                c_.AddArchives(files);
        }))
        return true;
    if (watched == ListBoxZipList && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete) {
            if (btnRemoveUnZip->isEnabled())
                c_.RemoveArchive();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            c_.ShowFileDetails();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
