// TFormMain: the main window with its two pages, "Multiple ZIP" and
// "Multiple UnZIP", the three counter captions, the settings file, help and
// the about box. The window owns the page state (the archive list, the rows
// of the entry list, the archives of the last creation run) and the job of
// the action under way.
#pragma once

#include <QButtonGroup>
#include <QStyle>
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jobs/UnitViewFile.h"
#include "jobs/UnitZip.h"
#include "ui/EntryList.h"
#include "ui/FolderEdit.h"
#include "ui/ItemList.h"

class THelpWindow;

class TFormMain : public QWidget {
    Q_OBJECT
public:
    // settingsPath: the settings file, read now and written at close;
    // helpFolder: where the help pages lie.
    TFormMain(const QString& settingsPath, const QString& helpFolder, QWidget* parent = nullptr);
    ~TFormMain() override;

    // Adds archives to the "Multiple UnZIP" page and shows it, as if they
    // had been chosen in its file dialog.
    void AddArchives(const QStringList& files);
    // Adds items to the "Multiple ZIP" page and shows it: files as they are,
    // folders as the wildcard item folder/*.
    void AddItems(const QStringList& paths);

    // The questions the window asks, each a dialog unless replaced (tests
    // answer them): the archives to add; the files to add as items; whether to replace an existing
    // file (a QMessageBox::StandardButton: Yes, YesToAll, No or NoToAll);
    // another password for an entry, or none to skip it.
    std::function<QStringList()> AskArchives;
    std::function<QStringList()> AskFiles;
    std::function<int(const QString& text)> AskOverwrite;
    std::function<std::optional<QString>(const QString& text)> AskPassword;

    // ---- Page state ----
    std::vector<std::string> ZipList;      // archives of the "Multiple UnZIP" page
    ParArrayOfFileDetail FileDetails;      // row i of the entry list is element i
    std::vector<std::string> LastCreated;  // archives of the last creation run

    // ---- Operations ----
    void LoadSettings();
    void SaveSettings();
    void RefreshG1();
    void RefreshG2();
    void RefreshG3();
    void ShowFileDetails();
    void HideFileDetails();
    void SetUnZipBusy(bool busy);
    void SetZipBusy(bool busy);
    // The part size of the blocked method, in bytes.
    int64_t GetBlockSize() const;
    ParUnCompress ReadUnCompressOptions() const;
    ParArrayOfToUnZip CollectSelected() const;
    void ShowHelp(int context);
    // A listing, extraction or deletion is under way.
    bool Running() const { return listJob_ || unzipJob_ || zipJob_ || deleting_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* BuildZipPage();
    QWidget* BuildUnZipPage();
    QToolButton* ToolButton(const QString& name, const QString& text, const QString& hint, const QString& icon,
                            QStyle::StandardPixmap fallback);
    QPushButton* Button(const QString& name, const QString& text, const QString& hint, const QString& icon,
                        QStyle::StandardPixmap fallback);
    void AddMenuHelpExit(QLayout* toolbar, const QString& menuName, const QString& helpName, const QString& exitName,
                         int helpContext);
    void AfterAdd();
    void RefillZipList();

    // Button handlers.
    void btnSelectZIPClick();
    void btnDisplayDetailsClick();
    void btnRemoveUnZipClick();
    void btnRemoveAllUnZipClick();
    void btnSelectallClick();
    void btnUnselectAllClick();
    void btnDeleteSelectedFilesClick();
    void btnExtractAllClick();
    void btnExtractSelectedClick();
    void btnUnZipCancelClick();
    void btnSelectFileClick();
    void btnSelectFolderClick();
    void MoveItem(int step);
    void btnRemoveZipClick();
    void btnRemoveAllZipClick();
    void btnZipClick();
    void spZipCancelClick();
    void btnViewLastZipClick();
    // The enabling rules of the "Multiple ZIP" page.
    void ChPasswordClick();
    void ChCommentClick();
    void RaAutoNameClick();
    void RaSingleClick();
    void cbSplitSizeChange();
    void cbsplitTypeChange();
    void Pm_AboutClick();
    void PM_VisitsWebsiteClick();

    // Runs an extraction of the page with progress, questions and report.
    void RunExtraction(bool selected);
    // Follows the engine and the job of an extraction run on the page.
    void WatchExtraction(TExtractAndView& job);
    void Report(const QString& line);
    // Follows the writer and the job of a creation run.
    void WatchCreation(TZipFile& job);
    void ZipReport(const QString& line);
    // Appends items not listed yet (letter case ignored), selects the first
    // item and refreshes the counter.
    void AppendItems(const QStringList& items);
    // Shows an error that reached the window.
    void ShowError(const QString& text);
    void Information(const QString& text);
    // After a run: closes the window when a close waited for it.
    void RunEnded();

    QString settingsPath_;
    QString helpFolder_;
    THelpWindow* help_ = nullptr;

    // Jobs under way: a listing may run during an extraction, each with its
    // own job; Cancel follows the extraction's.
    std::unique_ptr<TExtractAndView> listJob_;
    std::unique_ptr<TExtractAndView> unzipJob_;
    std::unique_ptr<TZipFile> zipJob_;
    bool deleting_ = false;
    bool closePending_ = false;

    // What an extraction run came to, for its summary.
    struct RunTally {
        int extracted = 0, skipped = 0, failed = 0;
        size_t archive = 0, archives = 0;
        bool replaceAll = false, replaceNone = false;
        bool cancelled = false;
    } tally_;
    // What a creation run came to.
    struct ZipTally {
        int files = 0, skipped = 0;
        size_t archive = 0, archives = 0;
        int64_t archiveBytes = 0;
        qint64 startedMs = 0;
        int percent = 0;
        QString file;
        bool cancelled = false;
    } zipTally_;

    QTabWidget* PageControl1;
    QMenu* PM_Options;
    // "Multiple ZIP"
    QPushButton* btnZip;
    QPushButton* btnViewLastZip;
    QPushButton* spZipCancel;
    QGroupBox* G1;
    ui::ItemList* ListboxZIP;
    QRadioButton* RaSingle;
    QRadioButton* RaBlock;
    QRadioButton* RaMultipleZIP;
    QComboBox* cbSplitSize;
    QSpinBox* spinEditSplitSize;
    QComboBox* cbsplitType;
    QSpinBox* RxSpinPerItem;
    ui::FolderEdit* TargetDirectory;
    QRadioButton* RaAutoName;
    QRadioButton* RaManuName;
    QLineEdit* EditName;
    QSpinBox* RxSpintAdd0;
    QCheckBox* chStorePath;
    QCheckBox* ChIncludeSunFolder;
    QCheckBox* ChIncludeSystemAndHide;
    QSpinBox* SpinCompressRate;
    QCheckBox* ChPassword;
    QLineEdit* EditPassword;
    QLineEdit* EditConfirmPassword;
    QComboBox* CbEncryption;
    QCheckBox* ChComment;
    QLineEdit* Editcomment;
    QProgressBar* ProgressZip;
    QLabel* LabelZipStatus;
    QListWidget* ListZipReport;
    // "Multiple UnZIP"
    QPushButton* btnExtractAll;
    QPushButton* btnExtractSelected;
    QPushButton* btnUnZipCancel;
    QGroupBox* G2;
    QListWidget* ListBoxZipList;
    QPushButton* btnSelectZIP;
    QPushButton* btnDisplayDetails;
    QPushButton* btnRemoveUnZip;
    QPushButton* btnRemoveAllUnZip;
    QGroupBox* G3;
    ui::FileDetailModel* model_;
    ui::EntryListView* ListBoxFileDetail;
    QPushButton* btnSelectall;
    QPushButton* btnUnselectAll;
    QPushButton* btnDeleteSelectedFiles;
    QCheckBox* ChAotoDisplay;
    ui::FolderEdit* ExtractFolder;
    QCheckBox* ChCreateSubFolder;
    QCheckBox* ChUseOrigPath;
    QLineEdit* EditPWD;
    QButtonGroup* overwrite_;
    QProgressBar* ProgressUnZip;
    QLabel* LabelUnZipStatus;
    QListWidget* ListUnZipReport;
};
