#include "app/DesktopActionWindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>
#include <unordered_set>

#include "app/IniFile.h"
#include "app/UnZipQuestions.h"
#include "engine/ZipExceptions.h"
#include "platform/Exceptions.h"
#include "ui/EngineText.h"
#include "ui/QtHooks.h"
#include "ui/Text.h"

namespace {

// The archive a selected file stands for: a part of a set stands for the
// part the set is read from (x.z01 for x.zip, x.zip.002 for x.zip.001) when
// that is there; any other file for itself.
QString ArchiveOf(const QFileInfo& info)
{
    static const QRegularExpression infoZipPart("^[zZ][0-9]{2,}$"), volume("^[0-9]{3}$");
    QString set;
    if (infoZipPart.match(info.suffix()).hasMatch())
        set = info.completeBaseName() + ".zip";
    else if (volume.match(info.suffix()).hasMatch())
        set = info.completeBaseName() + ".001";
    const QString path = info.absolutePath() + '/' + set;
    return !set.isEmpty() && QFileInfo(path).isFile() ? path : info.absoluteFilePath();
}

// The selected archives grouped by the folder they lie in, in the order of
// first appearance. (The extraction takes an archive named twice once.)
QList<QStringList> ByFolder(const QStringList& files)
{
    QStringList folders;
    QList<QStringList> groups;
    for (const QString& file : files) {
        const QFileInfo info(file);
        const QString folder = info.absolutePath();
        qsizetype at = folders.indexOf(folder);
        if (at < 0) {
            at = folders.size();
            folders << folder;
            groups << QStringList();
        }
        groups[at] << ArchiveOf(info);
    }
    return groups;
}

}  // namespace

std::optional<DesktopActionWindow::Action> DesktopActionWindow::ActionOf(const QString& option)
{
    if (option == "--extract-here")
        return Action::ExtractHere;
    if (option == "--extract-subfolders")
        return Action::ExtractSubfolders;
    if (option == "--zip-each")
        return Action::ZipEach;
    return std::nullopt;
}

DesktopActionWindow::DesktopActionWindow(Action action, const QStringList& files, const QString& settingsPath,
                                         QWidget* parent)
    : QWidget(parent), action_(action), files_(files)
{
    setWindowTitle(action == Action::ExtractHere         ? tr("Extract each here")
                   : action == Action::ExtractSubfolders ? tr("Extract each into its own folder")
                                                         : tr("Compress each into its own ZIP"));
    progress_ = new QProgressBar;
    progress_->setObjectName("progress");
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    status_ = new QLabel;
    status_->setObjectName("status");
    status_->setWordWrap(true);
    reportView_ = new QPlainTextEdit;
    reportView_->setObjectName("report");
    reportView_->setReadOnly(true);
    reportView_->setLineWrapMode(QPlainTextEdit::NoWrap);
    reportView_->hide();
    button_ = new QPushButton(tr("Cancel"));
    button_->setObjectName("btnCancel");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(button_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(progress_);
    layout->addWidget(reportView_, 1);
    layout->addLayout(buttons);
    resize(520, 140);

    connect(button_, &QPushButton::clicked, this, [this] {
        if (Running())
            Cancel();
        else
            close();
    });

    ui::InstallQtHooks(this);
    // The names are read in the code page kept for the window; the page's
    // other options give way to the actions' own.
    unzip_.LoadSettings(TIniFile(settingsPath.toStdString()));
    unzip_.options.autoDisplay = false;
    unzip_.options.useStoredPaths = true;
    unzip_.options.overwriteMode = int(TUZOverwriteMode::Prompt);
    unzip_.options.subfolderPerArchive = action == Action::ExtractSubfolders;
    AskWithDialogs(unzip_, this);
    connect(&unzip_, &UnZipPageController::Progress, this,
            [this] { ShowProgress(unzip_.Permille(), unzip_.Status(), report_ + unzip_.Report()); });
    connect(&unzip_, &UnZipPageController::RunEnded, this, &DesktopActionWindow::ExtractionEnded);
    connect(&zipRun_, &ui::RunBridge::Tick, this, [this] {
        Reached r;
        {
            const std::lock_guard lock(mutex_);
            r = reached_;
        }
        const QString status =
            r.archives ? tr("Archive %1 of %2: %3, %4%").arg(r.archive + 1).arg(r.archives).arg(r.archiveName).arg(r.percent)
                       : QString();
        ShowProgress(r.archives ? int((r.archive * 1000 + size_t(r.percent) * 10) / r.archives) : 0, status,
                     report_ + r.report);
    });
    connect(&zipRun_, &ui::RunBridge::Finished, this, &DesktopActionWindow::ZippingEnded);
}

DesktopActionWindow::~DesktopActionWindow() = default;

bool DesktopActionWindow::Running() const
{
    return unzip_.Running() || zipRun_.Running();
}

void DesktopActionWindow::Start()
{
    if (action_ == Action::ZipEach) {
        StartZipping();
    } else {
        groups_ = ByFolder(files_);
        severalFolders_ = groups_.size() > 1;
        StartNextExtraction();
    }
}

void DesktopActionWindow::Cancel()
{
    cancelled_ = true;
    groups_.clear();
    unzip_.Cancel();
    zipRun_.Cancel();
    button_->setEnabled(false);
}

void DesktopActionWindow::closeEvent(QCloseEvent* event)
{
    // Closing during a run stops it; the window goes once it has ended.
    if (Running()) {
        closeWhenDone_ = true;
        unzip_.Quit();
        Cancel();
        event->ignore();
        return;
    }
    event->accept();
}

void DesktopActionWindow::ShowProgress(int permille, const QString& status, const QStringList& report)
{
    progress_->setValue(permille);
    status_->setText(status);
    if (report.size() != shownLines_) {
        shownLines_ = report.size();
        reportView_->setPlainText(report.join('\n'));
        reportView_->setVisible(!report.isEmpty());
    }
}

// ---- Extraction: one run of the page's controller per folder ----------------------------

void DesktopActionWindow::StartNextExtraction()
{
    if (groups_.isEmpty() || cancelled_) {
        Finish();
        return;
    }
    const QStringList group = groups_.takeFirst();
    unzip_.options.extractFolder = QFileInfo(group.front()).absolutePath();
    unzip_.SetArchives(group);
    unzip_.ExtractAll();
}

void DesktopActionWindow::ExtractionEnded()
{
    // With archives in several folders, each folder's summary says which it is.
    summaries_ << (severalFolders_ ? unzip_.options.extractFolder + ": " : QString()) + unzip_.Status();
    report_ << unzip_.Report();
    StartNextExtraction();
}

// ---- Compressing: one archive per item, beside it ---------------------------------------

void DesktopActionWindow::StartZipping()
{
    // Planned on the GUI thread: the names only, no file is read or made.
    // Each folder's items are a plan of their own, written with names stored
    // relative to that folder.
    struct Folder {
        std::string prefix;
        ParArrayOfToZip plan;
    };
    std::vector<Folder> folders;
    std::unordered_set<std::string> taken;
    for (const QString& file : files_) {
        const QFileInfo info(file);
        if (!info.exists() || info.fileName().isEmpty()) {
            report_ << tr("%1: no such file or folder; skipped").arg(file);
            continue;
        }
        const std::string folder = (info.absolutePath() == "/" ? QString("/") : info.absolutePath() + '/').toStdString();
        const std::string item = info.absoluteFilePath().toStdString();
        const std::string name =
            info.isDir() ? folder + info.fileName().toStdString() + ".zip" : TZipFile::MakeAutoName(folder, item);
        const std::string archive = TZipFile::MakeUniqueName(name, taken);
        taken.insert(archive);
        auto at = std::find_if(folders.begin(), folders.end(), [&](const Folder& f) { return f.prefix == folder; });
        if (at == folders.end())
            at = folders.insert(folders.end(), Folder{folder, {}});
        at->plan.push_back({archive, {info.isDir() ? item + "/*" : item}});
    }
    // The page's defaults.
    ParCompress compress;
    compress.storePaths = true;
    compress.includeSubfolders = true;
    compress.includeSysAndHidden = true;
    compress.level = 7;

    created_.clear();
    zipJob_ = std::make_unique<TZipFile>();
    TZipFile& job = *zipJob_;
    const size_t total = std::accumulate(folders.begin(), folders.end(), size_t(0),
                                         [](size_t n, const Folder& f) { return n + f.plan.size(); });
    auto done = std::make_shared<size_t>(0);  // archives of the earlier folders
    job.OnArchive = [this, total, done](const ParArchiveProgress& p) {
        const std::lock_guard lock(mutex_);
        reached_.archive = *done + p.index;
        reached_.archives = total;
        reached_.archiveName = ui::FileNameOf(p.archive);
        reached_.percent = 0;
        if (p.state == ParArchiveProgress::State::Failed)
            reached_.report << ui::FileNameOf(p.archive) + ": " + ui::EngineText(p.error);
    };
    TZipWriter& engine = job.Engine();
    engine.OnTotalPercentDone = [this](TZipReader&, int percent) {
        const std::lock_guard lock(mutex_);
        reached_.percent = percent;
    };
    engine.OnEndZip = [this](TZipWriter&, const std::string&, int64_t, int64_t, int64_t) {
        const std::lock_guard lock(mutex_);
        ++reached_.files;
    };
    const auto skipped = [this](const QString& line) {
        const std::lock_guard lock(mutex_);
        ++reached_.skipped;
        reached_.report << line;
    };
    engine.OnNoSuchFile = [skipped](TZipWriter& sender, const std::string& file) {
        skipped(ui::FileNameOf(sender.ZipName()) + ": " +
                tr("%1: %2; skipped").arg(ui::FromUtf8(file), ui::EngineText(TZipFile::LeftOutReason(file))));
    };
    engine.OnSkippingFile = [skipped](TZipReader& sender, TSkipReason reason, const std::string& file, int, bool&) {
        const std::string& error = static_cast<TZipWriter&>(sender).SourceError();
        skipped(ui::FileNameOf(sender.ZipName()) + ": " +
                tr("%1: %2; skipped").arg(ui::FromUtf8(file), ui::EngineText(TZipFile::SkippedReason(reason, error))));
    };
    zipRun_.Start(
        [this, &job, folders = std::move(folders), compress, done] {
            for (const Folder& folder : folders) {
                if (zipRun_.Cancelled())
                    break;
                job.Engine().RelativePathList = {folder.prefix};
                job.Engine().SetRelativePaths(true);
                // The job tells the archives of its last plan only: each
                // folder's are kept, those of a plan that failed too.
                const auto keep = [&] {
                    std::vector<std::string> written;
                    job.CopyCreatedArchives(written);
                    created_.insert(created_.end(), written.begin(), written.end());
                };
                try {
                    job.WriteArchives(folder.plan, compress);
                } catch (...) {
                    keep();
                    throw;
                }
                keep();
                *done += folder.plan.size();
            }
        },
        [&job] { job.Cancel(); });
}

void DesktopActionWindow::ZippingEnded()
{
    const size_t created = created_.size();
    QString ending;
    try {
        if (zipRun_.Error())
            std::rethrow_exception(zipRun_.Error());
    } catch (const EUserCanceled&) {
        ending = tr(" Cancelled.");
    } catch (const EAbort&) {
        ending = tr(" Cancelled.");
    } catch (const std::exception& e) {
        ending = tr(" Stopped: %1").arg(ui::EngineText(e.what()));
    }
    if (ending.isEmpty() && zipRun_.Cancelled())
        ending = tr(" Cancelled.");
    const std::lock_guard lock(mutex_);
    report_ << reached_.report;
    const int files = reached_.files;
    summaries_ << tr("Wrote %1 with %2; skipped %3.%4")
                      .arg(tr("%n archive(s)", nullptr, int(created)))
                      .arg(tr("%n file(s)", nullptr, files))
                      .arg(report_.size())
                      .arg(ending);
    zipJob_.reset();
    Finish();
}

void DesktopActionWindow::Finish()
{
    if (!cancelled_)
        progress_->setValue(1000);
    ShowProgress(progress_->value(), summaries_.join('\n'), report_);
    button_->setText(tr("Close"));
    button_->setEnabled(true);
    emit Done();
    if (closeWhenDone_)
        close();
}
