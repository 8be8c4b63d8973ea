#include "app/UnZipPageController.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QUrl>
#include <QMessageBox>
#include <algorithm>
#include <tuple>

#include "app/IniFile.h"
#include "engine/ZipExceptions.h"
#include "platform/CodePage.h"
#include "platform/Exceptions.h"
#include "platform/Hooks.h"
#include "ui/EngineText.h"
#include "ui/Text.h"

namespace {

const char* const Section = "UnZip Options";

}  // namespace

UnZipPageController::UnZipPageController(QObject* parent) : QObject(parent)
{
    options.extractFolder = QDir::homePath();
    OpenFile = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    connect(&list_, &ui::RunBridge::Tick, this, &UnZipPageController::PublishProgress);
    connect(&run_, &ui::RunBridge::Tick, this, &UnZipPageController::PublishProgress);
    connect(&list_, &ui::RunBridge::Finished, this, &UnZipPageController::ListingEnded);
    connect(&run_, &ui::RunBridge::Finished, this, &UnZipPageController::RunFinished);
}

// ---- Settings -----------------------------------------------------------------------

void UnZipPageController::LoadSettings(const TIniFile& ini)
{
    options.autoDisplay = ini.ReadBool(Section, "Auto Display Details", true);
    options.subfolderPerArchive = ini.ReadBool(Section, "Create SubFolder", false);
    const int mode = ini.ReadInteger(Section, "Overwite", 2);
    options.overwriteMode = mode >= 0 && mode <= 4 ? mode : -1;  // none checked
    const QString codePage = QString::fromStdString(ini.ReadString(Section, "Names Code Page", "CP437"));
    options.namesCodePage = platform::KnownCodePage(codePage.toStdString()) ? codePage : "CP437";
    options.goOnAfterFailure = ini.ReadBool(Section, "Go On After Failure", false);
    emit Changed();
}

void UnZipPageController::SaveSettings(TIniFile& ini) const
{
    ini.WriteBool(Section, "Auto Display Details", options.autoDisplay);
    ini.WriteBool(Section, "Create SubFolder", options.subfolderPerArchive);
    ini.WriteInteger(Section, "Overwite", std::max(options.overwriteMode, 0));
    ini.WriteString(Section, "Names Code Page", options.namesCodePage.toStdString());
    ini.WriteBool(Section, "Go On After Failure", options.goOnAfterFailure);
}

// ---- The archive list ----------------------------------------------------------------

void UnZipPageController::SetCurrentArchive(int row)
{
    current_ = row >= 0 && size_t(row) < archives_.size() ? row : -1;
}

void UnZipPageController::AddArchives(const QStringList& files)
{
    for (const QString& file : files) {
        const std::string full = QFileInfo(file).absoluteFilePath().toStdString();
        if (std::find(archives_.begin(), archives_.end(), full) == archives_.end())
            archives_.push_back(full);
    }
    AfterAdd();
}

void UnZipPageController::SetArchives(const QStringList& files)
{
    archives_.clear();
    AddArchives(files);
}

void UnZipPageController::AfterAdd()
{
    current_ = archives_.empty() ? -1 : 0;
    emit Changed();
    RefreshOrHide();
}

void UnZipPageController::RefreshOrHide()
{
    if (options.autoDisplay)
        ShowFileDetails();
    else
        HideFileDetails();
}

void UnZipPageController::RemoveArchive()
{
    if (archives_.empty())
        return;
    if (current_ < 0) {
        Information(tr("Please select a item by clicking"));
    } else {
        archives_.erase(archives_.begin() + current_);
        if (size_t(current_) >= archives_.size())
            current_ = archives_.empty() ? -1 : 0;
        emit Changed();
    }
    RefreshOrHide();
}

void UnZipPageController::RemoveAllArchives()
{
    archives_.clear();
    current_ = -1;
    emit Changed();
    RefreshOrHide();
}

// ---- Listing ----------------------------------------------------------------------

void UnZipPageController::ShowFileDetails()
{
    ++requested_;
    wantRows_ = true;
    if (list_.Running())
        list_.Cancel();  // its end starts the listing asked for now
    else
        StartListing();
    emit Changed();
}

void UnZipPageController::HideFileDetails()
{
    ++requested_;
    wantRows_ = false;
    list_.Cancel();
    rows_.clear();
    hidden_ = true;
    emit RowsChanged();
    emit Changed();
}

void UnZipPageController::StartListing()
{
    started_ = requested_;
    listed_.clear();
    listJob_ = NewJob();
    listJob_->OnArchive = [this](const ParArchiveProgress& p) {
        if (p.state == ParArchiveProgress::State::Failed)
            Update(listView_, [&](RunView& view) {
                view.report << ui::FileNameOf(p.archive) + ": " + ui::EngineText(p.error);
                ++view.failed;
            });
        if (p.state != ParArchiveProgress::State::Started && p.rebuilt)
            Update(listView_, [&](RunView& view) {
                view.report << ui::FileNameOf(p.archive) + ": " +
                                   tr("its directory was damaged; the entries were read from their local headers");
            });
        if (p.state != ParArchiveProgress::State::Started)
            return;
        const QString status =
            tr("Listing archive %1 of %2: %3").arg(p.index + 1).arg(p.count).arg(ui::FileNameOf(p.archive));
        Update(listView_, [&](RunView& view) {
            view.status = status;
            view.permille = int(p.index * 1000 / std::max<size_t>(p.count, 1));
        });
    };
    list_.Start([this, archives = archives_] { listJob_->ListArchives(listed_, archives); },
                [this] { listJob_->Cancel(); });
}

void UnZipPageController::ListingEnded()
{
    listJob_.reset();
    RunView listed;
    Update(listView_, [&](RunView& view) { std::swap(listed, view); });
    if (started_ != requested_) {
        // Superseded: the user asked for another listing, or none, meanwhile.
        listed_.clear();
        if (wantRows_)
            StartListing();
        else
            emit Changed();
        return;
    }
    QString failure;
    bool cancelled = false;
    try {
        if (list_.Error())
            std::rethrow_exception(list_.Error());
        rows_ = std::move(listed_);
    } catch (const EAbort&) {
        rows_.clear();  // cancelled by the user
        cancelled = true;
    } catch (const std::exception& e) {
        failure = ui::EngineText(e.what());  // the rows stay as they were
    }
    listed_.clear();
    hidden_ = false;
    // The listing's summary, with the archives that could not be read (the
    // others are listed all the same) and those read from their local
    // headers in the report. A listing that follows a deletion keeps the
    // deletion's summary, which names the same archives, and one that ends
    // while a run works leaves that run's.
    if (failure.isEmpty() && !cancelled && started_ != afterDeletion_ && !run_.Running()) {
        const QString entries = tr("%n entry(s)", nullptr, int(rows_.size()));
        const int archives = int(archives_.size());
        listed.status = listed.failed > 0 ? tr("Listed %1; %2 could not be read.")
                                                .arg(entries, tr("%1 of %n archive(s)", nullptr, archives).arg(listed.failed))
                                          : tr("Listed %1 of %n archive(s).", nullptr, archives).arg(entries);
        listed.permille = 1000;
        Update(runView_, [&](RunView& view) { view = listed; });
    }
    emit RowsChanged();
    emit Changed();
    PublishProgress();
    emit RunEnded();
    if (!failure.isEmpty())
        Information(failure);
}

// ---- Extraction and deletion -------------------------------------------------------------

ParUnCompress UnZipPageController::ReadUnCompressOptions() const
{
    ParUnCompress result;
    result.destination = options.extractFolder.trimmed().toStdString();
    if (result.destination.empty() || result.destination.back() != '/')
        result.destination += '/';
    result.subfolderPerArchive = options.subfolderPerArchive;
    result.password = options.password.trimmed().toStdString();
    result.useStoredPaths = options.useStoredPaths;
    result.overwriteMode = TUZOverwriteMode(std::max(options.overwriteMode, 0));
    return result;
}

ParArrayOfToUnZip UnZipPageController::CollectSelected(const std::vector<int>& rows) const
{
    ParArrayOfToUnZip groups;
    for (const int row : rows) {
        if (row < 0 || size_t(row) >= rows_.size())
            continue;
        const ParFileDetail& detail = rows_[size_t(row)];
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const ParToUnZip& g) { return g.archive == detail.archive; });
        if (group == groups.end())
            group = groups.insert(groups.end(), ParToUnZip{detail.archive, {}});
        group->entries.push_back(detail.path + detail.fileName);
    }
    return groups;
}

bool UnZipPageController::CancelShown() const
{
    if (run_.Running())
        return !run_.Cancelled();
    return list_.Running() && !list_.Cancelled() && !RebuildingAfterDeletion();
}

void UnZipPageController::ExtractAll()
{
    if (archives_.empty()) {
        Information(tr("No item for UnZIP, please select ZIP archives first!"));
        return;
    }
    if (HasExtractFolder())
        StartRun(RunKind::Extract, {}, ReadUnCompressOptions());
}

void UnZipPageController::ExtractSelected(const std::vector<int>& rows)
{
    const ParArrayOfToUnZip groups = CollectSelected(rows);
    if (groups.empty()) {
        Information(tr("No selected compressed files in Zip archives for UnZIP!"));
        return;
    }
    if (HasExtractFolder())
        StartRun(RunKind::Extract, groups, ReadUnCompressOptions());
}

void UnZipPageController::DeleteSelected(const std::vector<int>& rows)
{
    const ParArrayOfToUnZip groups = CollectSelected(rows);
    size_t n = 0;
    for (const ParToUnZip& group : groups)
        n += group.entries.size();
    if (n == 0) {
        Information(tr("Please select compressed files first!"));
        return;
    }
    if (Busy())
        return;
    const QString question = tr("Do you want to delete the selected %1 compressed files?").arg(n);
    if (platform::MessageBox(question.toStdString(), "Zamblok", platform::mbYesNo | 0x30) != platform::idYes)
        return;
    StartRun(RunKind::Delete, groups, {});
}

void UnZipPageController::Test(const std::vector<int>& rows)
{
    if (archives_.empty()) {
        Information(tr("No item for UnZIP, please select ZIP archives first!"));
        return;
    }
    ParArrayOfToUnZip groups = CollectSelected(rows);
    if (groups.empty())
        for (const std::string& archive : archives_)
            groups.push_back({archive, {}});
    StartRun(RunKind::Test, groups, ReadUnCompressOptions());
}

void UnZipPageController::OpenDestination()
{
    if (!lastDestination_.isEmpty())
        OpenFile(lastDestination_);
}

std::unique_ptr<TExtractAndView> UnZipPageController::NewJob() const
{
    auto job = std::make_unique<TExtractAndView>();
    // Code page 437 is the engine's own, read without iconv.
    job->Engine().NamesCodePage = options.namesCodePage == "CP437" ? "" : options.namesCodePage.toStdString();
    job->RebuildDamaged = true;
    return job;
}

QStringList UnZipPageController::ExtractPrivately(const std::vector<int>& rows,
                                                  std::function<void(const QStringList&)> done)
{
    if (Busy())
        return {};
    if (!private_)
        private_ = std::make_unique<QTemporaryDir>();  // created with mode 0700
    if (!private_->isValid()) {
        Information(tr("Cannot create a temporary folder: %1").arg(private_->errorString()));
        return {};
    }
    ParUnCompress o = ReadUnCompressOptions();
    o.destination = private_->filePath(QString::number(++privateRuns_)).toStdString() + "/";
    o.subfolderPerArchive = true;
    o.useStoredPaths = true;
    o.overwriteMode = TUZOverwriteMode::Always;
    // A folder entry brings the entries stored under it.
    std::vector<int> taken;
    // Of each row: its archive and stored name, and its address (or none).
    std::vector<std::tuple<std::string, std::string, QString>> entries;
    QStringList paths;
    for (const int row : rows) {
        if (row < 0 || size_t(row) >= rows_.size())
            continue;
        const ParFileDetail& picked = rows_[size_t(row)];
        const std::string stored = picked.path + picked.fileName;
        for (size_t k = 0; k < rows_.size(); ++k)
            if (int(k) == row || (picked.fileName.empty() && rows_[k].archive == picked.archive &&
                                  (rows_[k].path + rows_[k].fileName).starts_with(stored)))
                taken.push_back(int(k));
        // Where the entry goes, for a drag that needs its address before it
        // is written; a stored name that leads out of the archive's folder
        // ("../") is no address to hand on.
        const QString folder = ui::FromUtf8(ArchiveFolder(o.destination, picked.archive) + "/");
        QString path = QDir::cleanPath(folder + ui::FromUtf8(stored));
        if (!path.startsWith(folder))
            path.clear();
        else
            paths << path;
        entries.emplace_back(picked.archive, stored, path);
    }
    if (taken.empty())
        return {};
    // What is opened is the file the engine wrote for the entry; a folder
    // entry, which the engine makes and does not report, is its address.
    StartRun(RunKind::Extract, CollectSelected(taken), o, [this, done = std::move(done), entries] {
        QStringList written;
        for (const auto& [archive, stored, path] : entries)
            if (const auto found = tally_.written.find({archive, stored}); found != tally_.written.end())
                written << QDir::cleanPath(ui::FromUtf8(found->second));
            else if (!path.isEmpty() && QFileInfo(path).isDir())
                written << path;
        if (done && !written.isEmpty())
            done(written);
    });
    return paths;
}

void UnZipPageController::OpenEntry(int row)
{
    ExtractPrivately({row}, [this](const QStringList& paths) { OpenFile(paths.front()); });
}

void UnZipPageController::Cancel()
{
    if (run_.Running())
        run_.Cancel();
    else if (!RebuildingAfterDeletion())
        list_.Cancel();
    emit Changed();
}

bool UnZipPageController::RebuildingAfterDeletion() const
{
    return list_.Running() && started_ == afterDeletion_ && requested_ == afterDeletion_;
}

void UnZipPageController::Quit()
{
    quitting_ = true;
    run_.Cancel();
    list_.Cancel();
    emit Changed();
}

bool UnZipPageController::HasExtractFolder()
{
    const QString folder = options.extractFolder.trimmed();
    if (folder.isEmpty()) {
        Information(tr("Please enter the folder to extract to."));
        return false;
    }
    // A file where the folder or one of its parents should be would fail
    // every entry: the run is refused at once.
    for (QFileInfo at(QFileInfo(folder).absoluteFilePath()); !at.isRoot(); at = QFileInfo(at.path()))
        if (at.exists()) {
            if (at.isDir())
                break;
            Information(tr("Cannot extract to %1: %2 is a file, not a folder.").arg(folder, at.filePath()));
            return false;
        }
    return true;
}

void UnZipPageController::StartRun(RunKind kind, const ParArrayOfToUnZip& groups, const ParUnCompress& options,
                                   std::function<void()> then)
{
    if (Busy())
        return;  // the buttons are disabled; a drop or a key may still come
    job_ = NewJob();
    tally_ = {};
    tally_.keepWritten = bool(then);
    Update(runView_, [](RunView& view) { view = {}; });
    Watch(*job_, kind);
    std::function<void()> work;
    switch (kind) {
    case RunKind::Delete: work = [this, groups] { tally_.archivesFailed = job_->DeleteSelected(groups); }; break;
    case RunKind::Test: {
        std::vector<std::string> archives;
        for (const ParToUnZip& group : groups)
            archives.push_back(group.archive);
        work = [this, archives, password = options.password] {
            tally_.archivesFailed = job_->TestArchives(archives, password);
        };
        break;
    }
    case RunKind::Extract:
        if (groups.empty())
            work = [this, archives = archives_, options] {
                tally_.archivesFailed = job_->ExtractAll(archives, options);
            };
        else
            work = [this, groups, options] { tally_.archivesFailed = job_->ExtractSelected(groups, options); };
        if (!then)  // not a private extraction
            lastDestination_ = QString::fromStdString(options.destination);
        break;
    }
    kind_ = kind;
    selectedRun_ = kind == RunKind::Extract && !groups.empty() && !then;
    then_ = std::move(then);
    runTime_.start();
    run_.Start(std::move(work), [this] { job_->Cancel(); });
    PublishProgress();
    emit Changed();
}

void UnZipPageController::RunFinished()
{
    const RunKind kind = kind_;
    const std::function<void()> then = std::move(then_);
    then_ = {};
    lastRunSeconds_ = double(runTime_.elapsed()) / 1000;
    QString ending, message;
    try {
        if (run_.Error())
            std::rethrow_exception(run_.Error());
        if (!run_.Cancelled())
            Update(runView_, [](RunView& view) { view.permille = 1000; });
    } catch (const EUserCanceled& e) {
        ending = tr(" Cancelled.");
        // A quit cancels without a word: the window closes as the user asked.
        if (!quitting_)
            message = ui::EngineText(e.what());
    } catch (const EAbort&) {
        ending = tr(" Cancelled.");
    } catch (const std::exception& e) {
        message = ui::EngineText(e.what());
        ending = tr(" Stopped: %1").arg(message);
    }
    if (ending.isEmpty() && run_.Cancelled())
        ending = tr(" Cancelled.");
    Tally& t = tally_;  // the run's thread has ended
    if (kind == RunKind::Delete)
        t.removed = job_->EntriesRemoved();
    // The archives that failed are named with their reasons in the report.
    if (t.archivesFailed > 0)
        ending = tr(" %1 of %n archive(s) failed.", nullptr, int(t.archives)).arg(t.archivesFailed) + ending;
    const auto entries = [](int n) { return tr("%n entry(s)", nullptr, n); };
    // Entries named by the user that no archive held: a name may read
    // otherwise after a change of code page, or the archive changed.
    const bool noneFound = ending.isEmpty() && t.archivesFailed == 0 &&
                           (kind == RunKind::Delete ? t.removed == 0 : selectedRun_ && t.found == 0);
    QString summary;
    switch (kind) {
    case RunKind::Delete:
        summary = noneFound ? tr("Deleted nothing: none of the selected entries was found.")
                            : tr("Deleted %1 from %n archive(s).", nullptr, t.archivesDone)
                                      .arg(entries(int(t.removed))) + ending;
        break;
    case RunKind::Test:
        summary = tr("Tested %1: %2 OK, %3 failed")
                      .arg(entries(t.extracted + t.skipped + t.failed))
                      .arg(t.extracted)
                      .arg(t.skipped + t.failed);
        if (t.byUser > 0)
            summary += tr(", %1 skipped by you").arg(t.byUser);
        summary += "." + ending;
        break;
    case RunKind::Extract:
        summary = noneFound ? tr("Extracted nothing: none of the selected entries was found.")
                            : tr("Extracted %1, skipped %2, failed %3.%4")
                                  .arg(entries(t.extracted))
                                  .arg(t.skipped)
                                  .arg(t.failed)
                                  .arg(ending);
        break;
    }
    Update(runView_, [&](RunView& view) { view.status = summary; });
    job_.reset();
    PublishProgress();
    emit Changed();
    // A deletion is followed by a listing of what is on disk now, whatever
    // it came to: the list never shows entries that are gone.
    if (kind == RunKind::Delete) {
        rows_.clear();
        emit RowsChanged();
        ShowFileDetails();
        afterDeletion_ = requested_;
    }
    // The message comes while the window is still there; a close that
    // waits for the run follows its dismissal.
    if (!message.isEmpty())
        Information(message);
    emit RunEnded();
    if (message.isEmpty() && then && ending.isEmpty() && t.skipped + t.failed == 0)
        then();
}

namespace {

// "name (1).txt", "name (2).txt", ...: the first name beside path that is free.
std::string FreeName(const std::string& path)
{
    const QFileInfo file(ui::FromUtf8(path));
    const QString stem = file.completeBaseName().isEmpty() ? file.fileName() : file.completeBaseName();
    const QString suffix = file.fileName().mid(stem.size());
    for (int n = 1;; ++n) {
        const QString name = file.dir().filePath(stem + QString(" (%1)").arg(n) + suffix);
        if (!QFileInfo::exists(name) && !QFileInfo(name).isSymLink())
            return name.toStdString();
    }
}

// "12 bytes, 08/12/26 10:30:00" in the locale's short form.
QString SizeAndDate(qint64 bytes, const QDateTime& time)
{
    return UnZipPageController::tr("%1 bytes, %2")
        .arg(QLocale().toString(bytes), QLocale().toString(time, QLocale::ShortFormat));
}

}  // namespace

void UnZipPageController::Watch(TExtractAndView& job, RunKind kind)
{
    // Everything here runs on the run's thread: it writes the tally, which
    // only that thread touches until the run has ended, and the run's view
    // under the lock.
    const auto entryName = [](TZipReader& sender, int index) {
        return ui::FromUtf8(sender.EntryFolder(index) + sender.EntryName(index));
    };
    const auto where = [](TZipReader& sender) { return ui::FileNameOf(sender.ZipName()) + ": "; };
    const auto report = [this](const QString& line) { Update(runView_, [&](RunView& v) { v.report << line; }); };
    const bool testing = kind == RunKind::Test;
    TZipWriter& engine = job.Engine();
    // A failing archive ends an extraction or deletion unless the user chose
    // to go on; a test always tells every archive.
    const bool stopAtFailure = kind != RunKind::Test && !options.goOnAfterFailure;
    job.OnArchive = [this, report, kind, stopAtFailure, &engine](const ParArchiveProgress& p) {
        tally_.archive = p.index;
        tally_.archives = p.count;
        const QString name = ui::FileNameOf(p.archive);
        if (p.state == ParArchiveProgress::State::Started) {
            tally_.archivePassed = tally_.archiveFailed = tally_.archiveByUser = 0;
            tally_.skipPasswords = tally_.skipEntry = false;
            const QString status = kind == RunKind::Delete ? tr("Deleting from archive %1 of %2: %3")
                                   : kind == RunKind::Test   ? tr("Testing archive %1 of %2: %3")
                                                             : tr("Archive %1 of %2: %3");
            Update(runView_, [&](RunView& view) {
                view.status = status.arg(p.index + 1).arg(p.count).arg(name);
                view.permille = int(p.index * 1000 / std::max<size_t>(p.count, 1));
            });
        }
        if (p.state != ParArchiveProgress::State::Started && p.rebuilt)
            report(name + ": " + tr("its directory was damaged; the entries were read from their local headers"));
        if (p.state == ParArchiveProgress::State::Done) {
            ++tally_.archivesDone;
            if (engine.ReadsDifferently())
                report(name + ": " + tr("this archive reads differently in other tools (two end records)"));
            // A test ends each archive with its line.
            if (kind == RunKind::Test) {
                const int tested = tally_.archivePassed + tally_.archiveFailed;
                QString line =
                    tally_.archiveFailed == 0
                        ? tr("%1: %n entry(s) OK", nullptr, tested).arg(name)
                        : tr("%1: %2 of %n entries failed", nullptr, tested)
                              .arg(name, QString::number(tally_.archiveFailed));
                if (tally_.archiveByUser > 0)
                    line += tr(", %1 skipped by you").arg(tally_.archiveByUser);
                report(line);
            }
        }
        if (p.state == ParArchiveProgress::State::Failed) {
            report(name + ": " + ui::EngineText(p.error));
            if (stopAtFailure && p.failure)
                std::rethrow_exception(p.failure);
        }
    };
    engine.OnTotalPercentDone = [this](TZipReader&, int percent) {
        const size_t archives = std::max<size_t>(tally_.archives, 1);
        Update(runView_, [&](RunView& view) {
            view.permille = int((tally_.archive * 1000 + size_t(percent) * 10) / archives);
        });
    };
    if (kind == RunKind::Delete)
        return;
    engine.OnStartUnZipInfo = [this](TZipReader&, int files, int64_t, bool&) { tally_.found += files; };
    engine.OnStartUnZip = [this, entryName](TZipReader& sender, int index, std::string&, bool&) {
        const QString status = tr("Archive %1 of %2: %3 \u2014 %4")
                                   .arg(tally_.archive + 1)
                                   .arg(tally_.archives)
                                   .arg(ui::FileNameOf(sender.ZipName()))
                                   .arg(entryName(sender, index));
        Update(runView_, [&](RunView& view) { view.status = status; });
    };
    engine.OnEndUnZip = [this, testing, entryName, where, report](TZipReader& sender, int index,
                                                                  const std::string& fileName) {
        if (tally_.keepWritten)
            tally_.written[{sender.ArchiveName(), sender.EntryFolder(index) + sender.EntryName(index)}] = fileName;
        ++tally_.extracted;
        ++tally_.archivePassed;
        if (testing)
            report(where(sender) + entryName(sender, index) + tr(": OK"));
    };
    const QString notDone = testing ? QString() : tr("; not extracted");
    engine.OnSkippingFile = [this, entryName, where, report, testing](TZipReader& sender, TSkipReason reason,
                                                                       const std::string& fileName, int index, bool&) {
        // An entry the user chose to skip at the password question is no failure.
        if (reason == TSkipReason::skBadPassword && (tally_.skipEntry || tally_.skipPasswords)) {
            tally_.skipEntry = false;
            ++tally_.byUser;
            ++tally_.archiveByUser;
            if (!testing)
                ++tally_.skipped;
            report(where(sender) + entryName(sender, index) + ": " + tr("skipped by you"));
            return;
        }
        ++tally_.skipped;
        ++tally_.archiveFailed;
        const std::string why = testing && reason == TSkipReason::skBadPassword
                                    ? (sender.Password.empty() ? "encrypted and no password given" : "wrong password")
                                    : SkipReasonText(reason, fileName, !sender.Password.empty());
        report(where(sender) + entryName(sender, index) + ": " + ui::EngineText(why));
    };
    engine.OnBadCRC = [this, entryName, where, report, notDone](TZipReader& sender, uint32_t computed,
                                                                uint32_t stored, int index) {
        ++tally_.failed;
        ++tally_.archiveFailed;
        report(where(sender) + entryName(sender, index) +
               tr(": bad CRC %1 (stored %2)%3")
                   .arg(computed, 8, 16, QChar('0'))
                   .arg(stored, 8, 16, QChar('0'))
                   .arg(notDone));
    };
    engine.OnEntryError = [this, entryName, where, report, notDone](TZipReader& sender, int index,
                                                                    const std::string& what) {
        ++tally_.failed;
        ++tally_.archiveFailed;
        report(where(sender) + entryName(sender, index) + ": " + ui::EngineText(what) + notDone);
    };
    engine.OnHandleMessage = [](TZipReader&, int id, const std::string& text, const std::string& caption,
                                unsigned flags, int& result) {
        // An unknown method is reported through OnEntryError with its number.
        result = id == TZipReader::MsgUnknownMethod ? platform::idOK : platform::MessageBox(text, caption, flags);
    };
    // One answer may hold for the rest of the run: a user extracting 500
    // files is not asked 500 times.
    engine.OnPromptForOverwrite = [this](TZipReader& sender, bool& overwrite, int index, std::string& fileName) {
        if (tally_.replaceAll || tally_.replaceNone) {
            overwrite = tally_.replaceAll;
            return;
        }
        const QFileInfo existing(ui::FromUtf8(fileName));
        // The question, then what tells the two files apart.
        const QString text =
            tr("Replace existing file %1?").arg(existing.fileName()) + "\n\n" +
            tr("In: %1\nExisting file: %2\nFrom the archive %3: %4")
                .arg(existing.path(), SizeAndDate(existing.size(), existing.lastModified()),
                     ui::FileNameOf(sender.ZipName()),
                     SizeAndDate(qint64(sender.EntrySize(index)),
                                 QDateTime::fromSecsSinceEpoch(qint64(sender.EntryDateTime(index)))));
        using B = QMessageBox::StandardButton;
        const int answer = ui::OnGuiThread<int>([&] { return quitting_ ? int(B::No) : AskOverwrite(text); }, B::No);
        tally_.replaceAll = answer == B::YesToAll;
        tally_.replaceNone = answer == B::NoToAll;
        overwrite = answer == B::Yes || answer == B::YesToAll || answer == RenameAnswer;
        if (answer == RenameAnswer)
            fileName = FreeName(fileName);
    };
    engine.OnBadPassword = [this, entryName](TZipReader& sender, int index, std::string& password) {
        if (tally_.skipPasswords)
            return;  // the user chose to skip this archive's encrypted entries
        const QString text = sender.Password.empty()
                                 ? tr("Enter the password for %1 of %2:")
                                       .arg(entryName(sender, index), ui::FileNameOf(sender.ZipName()))
                                 : tr("The password does not open %1 of %2.\nEnter another password:")
                                       .arg(entryName(sender, index), ui::FileNameOf(sender.ZipName()));
        const PasswordAnswer answer =
            ui::OnGuiThread<PasswordAnswer>([&] { return quitting_ ? PasswordAnswer{} : AskPassword(text); },
                                            PasswordAnswer{});
        tally_.skipPasswords = answer.kind == PasswordAnswer::Kind::SkipArchive;
        tally_.skipEntry = answer.kind == PasswordAnswer::Kind::SkipEntry;
        if (answer.kind == PasswordAnswer::Kind::Password && !answer.password.isEmpty())
            password = answer.password.toStdString();
    };
}

// ---- Progress ----------------------------------------------------------------------------

void UnZipPageController::Update(RunView& view, const std::function<void(RunView&)>& change)
{
    const std::lock_guard lock(mutex_);
    change(view);
}

void UnZipPageController::PublishProgress()
{
    {
        const std::lock_guard lock(mutex_);
        const RunView& source = run_.Running() || !list_.Running() ? runView_ : listView_;
        if (source.permille == shown_.permille && source.status == shown_.status &&
            source.report.size() == shown_.report.size())
            return;
        shown_ = source;
    }
    emit Progress();
}

void UnZipPageController::Information(const QString& text)
{
    platform::MessageBox(text.toStdString(), "Zamblok", platform::mbOK | 0x40);
}
