// TFormMain: the main window with its two pages, "Multiple ZIP" and
// "Multiple UnZIP", the three counter captions, the settings file, help and
// the about box. The window owns the page state (the archive list, the rows
// of the entry list, the archives of the last creation run) and the job of
// the action under way.
#pragma once

#include <QButtonGroup>
#include <QStyle>
#include <QCheckBox>
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
#include "ui/EntryList.h"
#include "ui/FolderEdit.h"

class THelpWindow;

// The values of section "Zip Options", kept from start to close.
struct TZipOptions {
    bool addPassword = false;
    bool addComment = false;
    int zipMethod = 2;  // 0 single, 1 blocked, 2 per N items
    bool isAutoName = true;
    int perItem = 1;
    std::string manualFilename = "Filename";
    int suff = 2;
    bool includeSubFolder = true;
    bool storePath = true;
    bool includeSysAndHide = true;
    int rate = 7;
};

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

    // The questions the window asks, each a dialog unless replaced (tests
    // answer them): the archives to add; whether to replace an existing
    // file (a QMessageBox::StandardButton: Yes, YesToAll, No or NoToAll);
    // another password for an entry, or none to skip it.
    std::function<QStringList()> AskArchives;
    std::function<int(const QString& text)> AskOverwrite;
    std::function<std::optional<QString>(const QString& text)> AskPassword;

    // ---- Page state ----
    std::vector<std::string> ZipList;      // archives of the "Multiple UnZIP" page
    ParArrayOfFileDetail FileDetails;      // row i of the entry list is element i
    std::vector<std::string> LastCreated;  // archives of the last creation run
    TZipOptions ZipOptions;

    // ---- Operations ----
    void LoadSettings();
    void SaveSettings();
    void RefreshG1();
    void RefreshG2();
    void RefreshG3();
    void ShowFileDetails();
    void HideFileDetails();
    void SetUnZipBusy(bool busy);
    ParUnCompress ReadUnCompressOptions() const;
    ParArrayOfToUnZip CollectSelected() const;
    void ShowHelp(int context);
    // A listing, extraction or deletion is under way.
    bool Running() const { return listJob_ || unzipJob_ || deleting_; }

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
    void Pm_AboutClick();
    void PM_VisitsWebsiteClick();

    // Runs an extraction of the page with progress, questions and report.
    void RunExtraction(bool selected);
    // Follows the engine and the job of an extraction run on the page.
    void WatchExtraction(TExtractAndView& job);
    void Report(const QString& line);
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
    bool deleting_ = false;
    bool closePending_ = false;

    // What an extraction run came to, for its summary.
    struct RunTally {
        int extracted = 0, skipped = 0, failed = 0;
        size_t archive = 0, archives = 0;
        bool replaceAll = false, replaceNone = false;
        bool cancelled = false;
    } tally_;

    QTabWidget* PageControl1;
    QMenu* PM_Options;
    // "Multiple ZIP"
    QGroupBox* G1;
    QListWidget* ListboxZIP;
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
