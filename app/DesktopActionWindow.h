// DesktopActionWindow: what a file manager's actions on selected files run,
// without the main window: "zamblok --extract-here FILE...",
// "--extract-subfolders FILE..." and "--zip-each FILE...". A small window
// follows the run with a progress bar, a status line and Cancel, and keeps
// the run's summary and the list of what was skipped until it is closed.
//
// Extraction goes through the "Multiple UnZIP" page's controller, one run
// per folder of the selected archives (each archive is extracted beside
// itself), with the page's defaults: stored folders kept, existing files
// asked about. "Compress each" writes one archive per selected file or folder
// beside it with the creation job of the "Multiple ZIP" page and its defaults;
// names are stored relative to the folder the item lies in, so that
// photos.zip holds photos/..., not the whole path to it.
#pragma once

#include <QStringList>
#include <QWidget>
#include <memory>
#include <mutex>
#include <optional>

#include "app/UnZipPageController.h"
#include "jobs/UnitZip.h"
#include "ui/RunBridge.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

class DesktopActionWindow : public QWidget {
    Q_OBJECT
public:
    enum class Action { ExtractHere, ExtractSubfolders, ZipEach };
    // The action a command-line option names, or none.
    static std::optional<Action> ActionOf(const QString& option);

    // settingsPath: the main window's settings file, read for the code page of names.
    DesktopActionWindow(Action action, const QStringList& files, const QString& settingsPath,
                        QWidget* parent = nullptr);
    ~DesktopActionWindow() override;

    // Starts the run; the window shows it.
    void Start();
    bool Running() const;

    // The controller of the extraction runs; tests script its questions.
    UnZipPageController& Extraction() { return unzip_; }

signals:
    // Every run has ended (or was cancelled).
    void Done();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void StartNextExtraction();
    void ExtractionEnded();
    void StartZipping();
    void ZippingEnded();
    void ShowProgress(int permille, const QString& status, const QStringList& report);
    void Finish();
    void Cancel();

    Action action_;
    // Extraction: the archives grouped by folder, still to run.
    QList<QStringList> groups_;
    bool severalFolders_ = false;
    QStringList files_;
    QStringList summaries_;
    QStringList report_;
    qsizetype shownLines_ = -1;  // lines of the report shown
    bool cancelled_ = false;
    bool closeWhenDone_ = false;

    // Compressing: where the run is, written by its thread.
    struct Reached {
        size_t archive = 0, archives = 0;
        QString archiveName;
        int percent = 0, files = 0, skipped = 0;
        QStringList report;
    };
    std::mutex mutex_;
    Reached reached_;  // under mutex_
    std::unique_ptr<TZipFile> zipJob_;
    std::vector<std::string> created_;  // the run's thread's until it has ended

    QProgressBar* progress_;
    QLabel* status_;
    QPlainTextEdit* reportView_;
    QPushButton* button_;

    // Last: destroyed first, waiting for a run under way that uses the members above.
    UnZipPageController unzip_;
    ui::RunBridge zipRun_;
};
