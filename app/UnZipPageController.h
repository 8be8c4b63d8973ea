// UnZipPageController: the "Multiple UnZIP" page without its widgets. It
// owns the page's state (the archive list, the rows of the entry list, the
// options), its rules (what is enabled, what each button does) and its runs:
// listings, extractions and deletions, each on a thread of its own (RunBridge)
// over a snapshot of its inputs, so the page stays usable and editable while
// they work. The widgets show this state and forward the user's actions.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "jobs/UnitViewFile.h"
#include "ui/RunBridge.h"

class TIniFile;

// The values of the page's option controls.
struct UnZipOptions {
    bool autoDisplay = true;          // ChAotoDisplay
    bool subfolderPerArchive = false; // ChCreateSubFolder
    bool useStoredPaths = true;       // ChUseOrigPath
    int overwriteMode = 2;            // R0 to R4; -1 when none is checked
    QString extractFolder;            // ExtractFolder, as typed
    QString password;                 // EditPWD
    QString namesCodePage = "CP437";  // CodePage: names of archives from Windows tools
    bool goOnAfterFailure = false;    // ChGoOn: a failing archive does not end an extraction or deletion
};

// The answer to "the password does not open this entry".
struct PasswordAnswer {
    enum class Kind { Password, SkipEntry, SkipArchive };
    Kind kind = Kind::SkipEntry;
    QString password;  // for Password
};

class UnZipPageController : public QObject {
    Q_OBJECT
public:
    explicit UnZipPageController(QObject* parent = nullptr);

    // Section "UnZip Options" of the settings file.
    void LoadSettings(const TIniFile& ini);
    void SaveSettings(TIniFile& ini) const;

    UnZipOptions options;

    // ---- State ----
    const std::vector<std::string>& Archives() const { return archives_; }
    // The selected archive of the list, or -1.
    int CurrentArchive() const { return current_; }
    void SetCurrentArchive(int row);
    // Row i of the entry list is element i.
    const ParArrayOfFileDetail& Rows() const { return rows_; }
    // The entry list was emptied because automatic display is off.
    bool RowsHidden() const { return hidden_; }
    // The options of an extraction as the controls hold them.
    ParUnCompress ReadUnCompressOptions() const;
    // The given rows grouped by their archive, in the order of first appearance.
    ParArrayOfToUnZip CollectSelected(const std::vector<int>& rows) const;

    // ---- Rules ----
    // An extraction or a deletion is under way: the buttons that start or
    // change one are disabled until it has ended.
    bool Busy() const { return run_.Running(); }
    // A listing is under way.
    bool Listing() const { return list_.Running(); }
    bool Running() const { return Busy() || Listing(); }
    // Cancel is offered while a run or a listing is under way and not yet cancelled.
    bool CancelShown() const;

    // ---- Actions ----
    // Appends the files not listed yet and does the after-add step.
    void AddArchives(const QStringList& files);
    // Replaces the list ("View ZIP") and does the after-add step.
    void SetArchives(const QStringList& files);
    void RemoveArchive();
    void RemoveAllArchives();
    // Lists the entries of every archive ("Display"); a listing under way is
    // superseded: its result is not shown.
    void ShowFileDetails();
    void HideFileDetails();
    void ExtractAll();
    void ExtractSelected(const std::vector<int>& rows);
    void DeleteSelected(const std::vector<int>& rows);
    // Tests the archives of the given rows, every archive when there are
    // none: each entry decoded and checked, a line per entry and per archive
    // in the report.
    void Test(const std::vector<int>& rows);
    // Opens the folder the last extraction wrote to (OpenFile).
    void OpenDestination();
    // The folder the last extraction wrote to, or empty.
    const QString& LastDestination() const { return lastDestination_; }
    // Seconds the last run took, once it has ended.
    double LastRunSeconds() const { return lastRunSeconds_; }
    // Stops the extraction or deletion under way, else the listing.
    void Cancel();
    // Stops every run for the window to close: no cancel message and no
    // further question comes from them.
    void Quit();
    // Extracts the entries of rows into a new private folder (mode 0700,
    // removed when the controller goes), each archive's into a folder named
    // after it and with their stored folders, a folder entry with everything
    // stored under it. Returns the files and folders the rows become there,
    // as their stored names say (none that lead out of the archive's
    // folder), or none when no run can start; done is told the files and
    // folders the extraction wrote for the rows, once they are written.
    QStringList ExtractPrivately(const std::vector<int>& rows, std::function<void(const QStringList&)> done);
    // Extracts the entry of row privately and hands it to OpenFile.
    void OpenEntry(int row);

    // Questions of an extraction, asked on the GUI thread; the page sets
    // them, tests replace them. Whether to replace a file (the question, a
    // blank line, the folder and both files' sizes and dates): a
    // QMessageBox::StandardButton (Yes, YesToAll, No, NoToAll) or
    // RenameAnswer, which writes the entry under a free name beside it.
    static constexpr int RenameAnswer = 1;
    std::function<int(const QString& text)> AskOverwrite;
    // Another password for an entry, or skip the entry or the archive's
    // encrypted entries.
    std::function<PasswordAnswer(const QString& text)> AskPassword;
    // Hands a file or folder to the desktop's default application; tests replace it.
    std::function<void(const QString& path)> OpenFile;

    // ---- What the run under way, or the last one, reached ----
    int Permille() const { return shown_.permille; }
    const QString& Status() const { return shown_.status; }
    // Entries skipped or failed in the last extraction, archives that failed.
    const QStringList& Report() const { return shown_.report; }

signals:
    // The archive list, the busy state or the selection changed.
    void Changed();
    // The entry list was rebuilt.
    void RowsChanged();
    // Progress, status or report changed.
    void Progress();
    // A run or a listing has ended.
    void RunEnded();

private:
    // What a run has reached: written by its thread, shown on each tick.
    struct RunView {
        int permille = 0;
        QString status;
        QStringList report;
        int failed = 0;  // archives a listing could not read
    };
    // The tally of an extraction or deletion, kept by its thread.
    struct Tally {
        int extracted = 0, skipped = 0, failed = 0, archivesDone = 0;
        int byUser = 0;      // entries the user chose to skip, counted in skipped too unless testing
        int found = 0;       // entries the archives' directories had of those asked for
        size_t removed = 0;  // entries deleted
        size_t archivesFailed = 0;
        int archivePassed = 0, archiveFailed = 0, archiveByUser = 0;  // entries of the archive under way
        bool skipPasswords = false;                // of the archive under way
        bool skipEntry = false;                    // the user chose to skip the entry under way
        size_t archive = 0, archives = 0;
        bool replaceAll = false, replaceNone = false;
        // Of a private extraction: the file or folder the engine wrote for
        // each entry, by archive and stored name.
        bool keepWritten = false;
        std::map<std::pair<std::string, std::string>, std::string> written;
    };

    void AfterAdd();
    void RefreshOrHide();
    void StartListing();
    // The listing under way rebuilds the entry list after a deletion: it is
    // not the user's to cancel.
    bool RebuildingAfterDeletion() const;
    void ListingEnded();
    enum class RunKind { Extract, Delete, Test };
    // Starts an extraction (groups empty: every archive) with options, a
    // deletion, or a test of the groups' archives; then is called when it
    // has ended well.
    void StartRun(RunKind kind, const ParArrayOfToUnZip& groups, const ParUnCompress& options,
                  std::function<void()> then = {});
    // The extract-to folder is set, else the user is told.
    bool HasExtractFolder();
    void RunFinished();
    void Watch(TExtractAndView& job, RunKind kind);
    // A job reading names in the page's code page.
    std::unique_ptr<TExtractAndView> NewJob() const;
    // Publishes what the runs reached, on the GUI thread.
    void PublishProgress();
    // Changes view under the lock, from a run's thread.
    void Update(RunView& view, const std::function<void(RunView&)>& change);
    void Information(const QString& text);

    std::vector<std::string> archives_;
    int current_ = -1;
    bool quitting_ = false;  // GUI thread
    ParArrayOfFileDetail rows_;
    bool hidden_ = false;

    // Listing: each request counts; a result is shown only when it answers
    // the last request and that asked for rows.
    std::unique_ptr<TExtractAndView> listJob_;
    ParArrayOfFileDetail listed_;
    int requested_ = 0, started_ = 0;
    int afterDeletion_ = 0;  // the listing request that follows a deletion
    bool wantRows_ = false;

    // Extraction or deletion.
    std::unique_ptr<TExtractAndView> job_;
    RunKind kind_ = RunKind::Extract;
    bool selectedRun_ = false;  // the run extracts entries the user selected
    QElapsedTimer runTime_;
    double lastRunSeconds_ = 0;
    QString lastDestination_;
    std::function<void()> then_;  // what follows the run under way when it ends well
    Tally tally_;
    // Where entries are extracted to be opened or dragged out, made at the first.
    std::unique_ptr<QTemporaryDir> private_;
    int privateRuns_ = 0;

    mutable std::mutex mutex_;
    RunView runView_;   // under mutex_: the extraction's or deletion's
    RunView listView_;  // under mutex_: the listing's
    RunView shown_;     // GUI thread: the run's while there is one, else the listing's

    // Last, so that they are destroyed first: a run under way is cancelled
    // and waited for while everything it uses still exists.
    ui::RunBridge list_;
    ui::RunBridge run_;
};
