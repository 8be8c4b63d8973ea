// ZipPageController: the "Multiple ZIP" page without its widgets. It holds
// the items, every option of the page and the archives of the last run,
// decides which controls are enabled or shown, does what each button does,
// and runs the creation job on a thread of its own. The page's widgets show
// this state and forward the user's actions.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "jobs/UnitZip.h"
#include "ui/RunBridge.h"

class TIniFile;

// The values of the page's controls.
struct ZipOptions {
    bool addPassword = false;
    QString password;
    QString confirm;
    int encryption = 0;  // 0 the traditional cipher, 1 AES-256
    bool addComment = false;
    QString comment;
    int method = 2;  // 0 single, 1 blocked, 2 one archive per perItem items; else none chosen
    int perItem = 1;
    int partSize = 0;    // entry of PartSizeNames()
    int otherSize = 1;   // "Other Size" in units of otherUnit
    int otherUnit = -1;  // 0 bytes, 1 Kb, 2 Mb; -1 none chosen yet
    // The parts of a blocked x.zip are named x.zip.z01, x.zip.z02, ..., x.zip
    // rather than x.z01, x.z02, ..., x.zip, which other tools read.
    bool zipPartNames = false;
    QString destination;  // as typed
    bool autoName = true;
    QString baseName = "FileName";
    int numberWidth = 2;
    bool storePaths = true;
    bool subfolders = true;
    bool sysAndHidden = true;
    int level = 7;

    bool operator==(const ZipOptions&) const = default;
};

class ZipPageController : public QObject {
    Q_OBJECT
public:
    explicit ZipPageController(QObject* parent = nullptr);
    ~ZipPageController() override;

    // Section "Zip Options" of the settings file.
    void LoadSettings(const TIniFile& ini);
    void SaveSettings(TIniFile& ini) const;
    // The settings file loaded last, where the wildcard dialogs keep their list too.
    const QString& SettingsFile() const { return settingsFile_; }

    // ---- Items ----
    const QStringList& Items() const { return items_; }
    // The selected item, or -1.
    int Selected() const { return selected_; }
    void Select(int row);
    // Files as they are, folders as the wildcard item folder/*; names
    // listed already are left out.
    void AddItems(const QStringList& paths);
    // A wildcard item made by "Select files by wildcard".
    void AddWildcard(const QString& item);
    // Moves the selected item step places up (negative) or down.
    void Move(int step);
    void Remove();
    void RemoveAll();

    // ---- Options and the rules of their controls ----
    const ZipOptions& Options() const { return options_; }
    // Takes the controls' values: a new method starts again at the first
    // part size, "Other Size" gets "Mb" when no unit was chosen, and every
    // number is kept within its control's range.
    void SetOptions(ZipOptions options);
    static QStringList PartSizeNames();
    static constexpr int OtherSize = 7;  // the entry "Other Size"
    bool PasswordFieldsEnabled() const { return options_.addPassword; }
    bool CommentEnabled() const { return options_.addComment; }
    bool NameFieldsEnabled() const { return !options_.autoName; }
    // The number of items per archive counts only for "Multiple ZIPs, per",
    // which a run without a method chosen behaves as.
    bool PerItemEnabled() const { return options_.method != 0 && options_.method != 1; }
    bool SplitSizeEnabled() const { return options_.method == 1; }
    bool PartNamesEnabled() const { return options_.method == 1; }
    bool OtherSizeShown() const { return options_.partSize == OtherSize; }
    // The smallest "Other Size" in the chosen unit: 64 KiB.
    int OtherSizeMinimum() const;
    // The part size of the blocked method, in bytes.
    int64_t GetBlockSize() const;

    // ---- The run ----
    // Checks the items and options and starts a run; a message tells why not.
    void Create();
    // Asks the run to stop; the Cancel button goes at once, the run ends soon after.
    void Cancel();
    // Stops the run for the window to close: its end shows no cancel message.
    void Quit();
    // Shows the archives of the last run on the other page (ViewArchives).
    void View();
    // A run is under way, until it has ended.
    bool Running() const { return job_ != nullptr; }
    bool CreateEnabled() const { return !Running(); }
    bool CancelShown() const { return bridge_.Running() && !bridge_.Cancelled(); }
    bool ViewShown() const { return !lastCreated_.isEmpty(); }
    const QStringList& LastCreated() const { return lastCreated_; }
    // What the run under way has reached, or how the last one ended:
    // progress in thousandths, the status line and the skipped files.
    int ProgressValue() const { return progress_; }
    const QString& Status() const { return status_; }
    const QStringList& Report() const { return shown_.report; }

signals:
    void Changed();
    void Progress();
    void RunEnded();
    void ViewArchives(const QStringList& archives);

private:
    // Where the run is, written by the run's thread.
    struct Reached {
        size_t archive = 0, archives = 0;
        QString archiveName;
        QString file;  // the file being added, empty before the first
        int percent = 0;
        int64_t archiveBytes = 0;
        std::chrono::steady_clock::time_point archiveStarted;
        int files = 0;         // in the archives written whole
        int archiveFiles = 0;  // in the archive under way
        int skipped = 0;
        QStringList report;
    };

    void Append(const QStringList& items);
    // The settings of the run, or a message and nothing when they are refused.
    bool ReadRun(ParZipName& naming, ParCompress& compress);
    void Follow(TZipFile& job);
    // Notes a file left out of the archive under way, and why.
    void Skipped(const std::string& file, const std::string& reason);
    void Publish();
    void RunFinished();

    QString settingsFile_;
    QStringList items_;
    int selected_ = -1;
    ZipOptions options_;
    QStringList lastCreated_;
    bool quitting_ = false;

    std::unique_ptr<TZipFile> job_;
    std::mutex mutex_;
    Reached reached_;  // under mutex_
    Reached shown_;    // the GUI thread's copy
    int progress_ = 0;
    QString status_;
    // Last: it goes first, waiting for a run under way, which uses the members above.
    ui::RunBridge bridge_;
};
