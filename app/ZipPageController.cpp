#include "app/ZipPageController.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <utility>

#include "app/IniFile.h"
#include "engine/ZipExceptions.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Hooks.h"
#include "ui/EngineText.h"
#include "ui/FolderEdit.h"
#include "ui/Text.h"

namespace {

const char* const Section = "Zip Options";

// The part sizes of the blocked method, in the order of their list.
struct PartSize {
    const char* name;
    int64_t bytes;
};
const PartSize PartSizes[] = {
    {"1.2M", 1213952},          {"1.44M", 1457664},           {"2.88M", 2915328},
    {"5M", 5242880},            {QT_TRANSLATE_NOOP("ZipPageController", "Zip 100M Disk"), 100000000},
    {QT_TRANSLATE_NOOP("ZipPageController", "Zip 250M Disk"), 250000000},
    {QT_TRANSLATE_NOOP("ZipPageController", "CD-ROM 650M"), 650000000},
    {QT_TRANSLATE_NOOP("ZipPageController", "Other Size"), 0},
};
constexpr int64_t DefaultPartSize = 1213952;
constexpr int64_t UnitBytes[] = {1, 1024, 1048576};

void Inform(const QString& text)
{
    platform::MessageBox(text.toStdString(), "Zamblok", platform::mbOK | 0x40);
}

void Warn(const QString& text)
{
    platform::MessageBox(text.toStdString(), "Zamblok", platform::mbOK | 0x30);
}

void Fail(const QString& text)
{
    platform::MessageBox(text.toStdString(), "Zamblok", platform::mbOK | 0x10);
}

// The smallest "Other Size" in a unit: 64 KiB.
int SmallestOtherSize(int unit)
{
    return unit == 0 ? 65536 : unit == 1 ? 64 : 1;
}

QString Megabytes(double bytes)
{
    return QLocale().toString(bytes / 1e6, 'f', 1) + " MB";
}

}  // namespace

ZipPageController::ZipPageController(QObject* parent) : QObject(parent)
{
    options_.destination = QDir::homePath();
    connect(&bridge_, &ui::RunBridge::Tick, this, &ZipPageController::Publish);
    connect(&bridge_, &ui::RunBridge::Finished, this, &ZipPageController::RunFinished);
}

ZipPageController::~ZipPageController() = default;

// ---- Settings ---------------------------------------------------------------------------

void ZipPageController::LoadSettings(const TIniFile& ini)
{
    settingsFile_ = QString::fromStdString(ini.Path());
    ZipOptions o = options_;
    o.addPassword = ini.ReadBool(Section, "AddPassword", false);
    o.encryption = ini.ReadInteger(Section, "Encryption", 0) == 1 ? 1 : 0;
    o.addComment = ini.ReadBool(Section, "AddComment", false);
    o.method = ini.ReadInteger(Section, "ZIP Method", 2);
    o.autoName = ini.ReadBool(Section, "IsAutoName", true);
    o.perItem = ini.ReadInteger(Section, "PerItem", 1);
    o.baseName = QString::fromStdString(ini.ReadString(Section, "Manual Filename", "Filename"));
    o.numberWidth = ini.ReadInteger(Section, "Suff", 2);
    o.subfolders = ini.ReadBool(Section, "InCludeSubFolder", true);
    o.storePaths = ini.ReadBool(Section, "StorePath", true);
    o.sysAndHidden = ini.ReadBool(Section, "IncludeSysAndHide", true);
    o.level = ini.ReadInteger(Section, "Rate", 7);
    o.zipPartNames = ini.ReadBool(Section, "ZipPartNames", false);
    // Loading runs the create-method rule, which starts at the first part size.
    o.partSize = 0;
    SetOptions(o);
}

void ZipPageController::SaveSettings(TIniFile& ini) const
{
    const ZipOptions& o = options_;
    ini.WriteBool(Section, "AddPassword", o.addPassword);
    ini.WriteInteger(Section, "Encryption", o.encryption);
    ini.WriteBool(Section, "AddComment", o.addComment);
    ini.WriteInteger(Section, "ZIP Method", o.method == 1 || o.method == 2 ? o.method : 0);
    ini.WriteBool(Section, "IsAutoName", o.autoName);
    ini.WriteInteger(Section, "PerItem", o.perItem);
    ini.WriteString(Section, "Manual Filename", o.baseName.toStdString());
    ini.WriteInteger(Section, "Suff", o.numberWidth);
    ini.WriteBool(Section, "InCludeSubFolder", o.subfolders);
    ini.WriteBool(Section, "StorePath", o.storePaths);
    ini.WriteBool(Section, "IncludeSysAndHide", o.sysAndHidden);
    ini.WriteInteger(Section, "Rate", o.level);
    ini.WriteBool(Section, "ZipPartNames", o.zipPartNames);
}

// ---- Items ------------------------------------------------------------------------------

void ZipPageController::Select(int row)
{
    const int selected = row >= 0 && row < items_.size() ? row : -1;
    if (selected != selected_) {
        selected_ = selected;
        emit Changed();
    }
}

void ZipPageController::Append(const QStringList& items)
{
    // Names are told apart as the file system tells them: by every byte.
    for (const QString& item : items)
        if (!items_.contains(item))
            items_ << item;
    selected_ = items_.isEmpty() ? -1 : 0;
    emit Changed();
}

void ZipPageController::AddItems(const QStringList& paths)
{
    QStringList items;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        items << (info.isDir() ? QDir(info.absoluteFilePath()).filePath("*") : info.absoluteFilePath());
    }
    Append(items);
}

void ZipPageController::AddWildcard(const QString& item)
{
    Append({item.trimmed()});
}

void ZipPageController::Move(int step)
{
    const int to = selected_ + step;
    if (selected_ < 0 || to < 0 || to >= items_.size())
        return;
    items_.swapItemsAt(selected_, to);
    selected_ = to;
    emit Changed();
}

void ZipPageController::Remove()
{
    if (items_.isEmpty())
        return;
    if (selected_ < 0) {
        Inform(tr("Please select a item by clicking"));
        return;
    }
    items_.removeAt(selected_);
    if (items_.isEmpty())
        selected_ = -1;
    else if (selected_ >= items_.size())
        selected_ = 0;
    emit Changed();
}

void ZipPageController::RemoveAll()
{
    items_.clear();
    selected_ = -1;
    emit Changed();
}

// ---- Options ----------------------------------------------------------------------------

QStringList ZipPageController::PartSizeNames()
{
    QStringList names;
    for (const PartSize& size : PartSizes)
        names << tr(size.name);
    return names;
}

void ZipPageController::SetOptions(ZipOptions o)
{
    if (o.method != options_.method)
        o.partSize = 0;
    o.partSize = std::clamp(o.partSize, 0, OtherSize);
    if (o.partSize == OtherSize && o.otherUnit < 0)
        o.otherUnit = 2;
    o.otherUnit = std::clamp(o.otherUnit, -1, 2);
    o.perItem = std::max(o.perItem, 1);
    o.numberWidth = std::clamp(o.numberWidth, 2, 20);
    o.level = std::clamp(o.level, 0, 9);
    o.otherSize = std::clamp(o.otherSize, SmallestOtherSize(o.otherUnit), 1000000000);
    if (o == options_)
        return;
    options_ = o;
    emit Changed();
}

int ZipPageController::OtherSizeMinimum() const
{
    return SmallestOtherSize(options_.otherUnit);
}

int64_t ZipPageController::GetBlockSize() const
{
    if (options_.partSize != OtherSize)
        return PartSizes[options_.partSize].bytes;
    if (options_.otherUnit < 0)
        return DefaultPartSize;
    return int64_t(options_.otherSize) * UnitBytes[options_.otherUnit];
}

// ---- The run ----------------------------------------------------------------------------

bool ZipPageController::ReadRun(ParZipName& naming, ParCompress& compress)
{
    ZipOptions& o = options_;
    if (items_.isEmpty()) {
        Inform(tr("No item for ZIP, please select files first!"));
        return false;
    }
    // What the user typed is checked before anything is made on disk.
    o.password = o.password.trimmed();
    emit Changed();
    if (o.addPassword) {
        if (o.password != o.confirm) {
            Warn(tr("The Confirm password is not matching"));
            return false;
        }
        if (o.password.isEmpty()) {
            Warn(tr("Please enter a password"));
            return false;
        }
        compress.password = o.password.toStdString();
        compress.encryption = o.encryption == 1 ? TEncryption::Aes256 : TEncryption::Traditional;
    }
    // A name left empty, or only ".zip", names the archives after the program.
    QString base = o.baseName.trimmed();
    if (base.endsWith(".zip", Qt::CaseInsensitive))
        base.chop(4);
    if (base.isEmpty())
        base = "Zamblok";
    if (!o.autoName) {
        // The archives are made in the destination folder and nowhere else.
        if (base.contains('/')) {
            Warn(tr("The filename '%1' must not contain '/': the ZIP archives are made in the destination directory")
                     .arg(o.baseName.trimmed()));
            return false;
        }
    }

    const QString folder = ui::ExpandFolder(o.destination);
    if (folder.isEmpty()) {
        Fail(tr("Unable to create directory"));
        return false;
    }
    if (!QFileInfo(folder).isDir() && !platform::ForceDirectories(folder.toStdString())) {
        Fail(tr("Can not create the folder '%1', the operation will be aborted!").arg(o.destination));
        return false;
    }

    compress.storePaths = o.storePaths;
    compress.includeSubfolders = o.subfolders;
    compress.level = o.level;
    compress.includeSysAndHidden = o.sysAndHidden;
    if (o.addComment)
        compress.comment = o.comment.trimmed().toStdString();
    compress.blocked = o.method == 1;
    if (compress.blocked) {
        compress.blockSize = GetBlockSize();
        compress.peerPartNames = !o.zipPartNames;
    }
    // With no method chosen, neither single nor blocked: one archive per perItem items.
    naming.single = o.method == 0 || o.method == 1;
    naming.itemsPerArchive = o.perItem;
    naming.destination = folder.endsWith('/') ? folder.toStdString() : (folder + '/').toStdString();
    naming.autoName = o.autoName;
    naming.baseName = base.toStdString();
    naming.numberWidth = o.numberWidth;
    return true;
}

void ZipPageController::Create()
{
    ParZipName naming;
    ParCompress compress;
    if (Running() || !ReadRun(naming, compress))
        return;
    // The run works on the items as they are now; the list stays editable.
    std::vector<std::string> items;
    for (const QString& item : items_)
        items.push_back(item.toStdString());
    lastCreated_.clear();
    reached_ = {};
    Publish();
    job_ = std::make_unique<TZipFile>();
    Follow(*job_);
    TZipFile& job = *job_;
    bridge_.Start([&job, items = std::move(items), naming, compress] { job.CreateArchives(items, naming, compress); },
                  [&job] { job.Cancel(); });
    emit Changed();
}

void ZipPageController::Cancel()
{
    if (CancelShown()) {
        bridge_.Cancel();
        emit Changed();
    }
}

void ZipPageController::Quit()
{
    quitting_ = true;
    bridge_.Cancel();
}

void ZipPageController::View()
{
    emit ViewArchives(lastCreated_);
}

// The job's and the writer's events come on the run's thread: they only note
// where the run is; Publish shows it.
void ZipPageController::Follow(TZipFile& job)
{
    TZipWriter& engine = job.Engine();
    job.OnArchive = [this](const ParArchiveProgress& p) {
        const std::lock_guard lock(mutex_);
        // Only the files of the archives kept count.
        if (p.state == ParArchiveProgress::State::Done)
            reached_.files += std::exchange(reached_.archiveFiles, 0);
        if (p.state != ParArchiveProgress::State::Started)
            return;
        reached_.archiveFiles = 0;
        reached_.archive = p.index;
        reached_.archives = p.count;
        reached_.archiveName = ui::FileNameOf(p.archive);
        reached_.file.clear();
        reached_.percent = 0;
    };
    engine.OnStartZipInfo = [this](TZipWriter&, int, int64_t totalBytes, TEndCentral*, bool&) {
        const std::lock_guard lock(mutex_);
        reached_.archiveBytes = totalBytes;
        reached_.percent = 0;
        reached_.archiveStarted = std::chrono::steady_clock::now();
    };
    engine.OnStartZip = [this](TZipWriter&, const std::string& file, TZipHeaderInfo&, bool&) {
        const QString name = ui::FileNameOf(file);
        const std::lock_guard lock(mutex_);
        reached_.file = name;
    };
    engine.OnTotalPercentDone = [this](TZipReader&, int percent) {
        const std::lock_guard lock(mutex_);
        reached_.percent = percent;
    };
    engine.OnEndZip = [this](TZipWriter&, const std::string&, int64_t, int64_t, int64_t) {
        const std::lock_guard lock(mutex_);
        ++reached_.archiveFiles;
    };
    engine.OnNoSuchFile = [this](TZipWriter&, const std::string& file) {
        Skipped(file, TZipFile::LeftOutReason(file));
    };
    engine.OnSkippingFile = [this](TZipReader& sender, TSkipReason reason, const std::string& file, int, bool&) {
        Skipped(file, TZipFile::SkippedReason(reason, static_cast<TZipWriter&>(sender).SourceError()));
    };
}

void ZipPageController::Skipped(const std::string& file, const std::string& reason)
{
    const QString line = tr("%1: %2; skipped").arg(ui::FromUtf8(file), ui::EngineText(reason));
    const std::lock_guard lock(mutex_);
    ++reached_.skipped;
    // Named after the archive the run writes, not the part of it under way.
    reached_.report << reached_.archiveName + ": " + line;
}

void ZipPageController::Publish()
{
    {
        const std::lock_guard lock(mutex_);
        shown_ = reached_;
    }
    const Reached& r = shown_;
    progress_ = r.archives ? int((r.archive * 1000 + size_t(r.percent) * 10) / r.archives) : 0;
    if (r.archives == 0)
        status_.clear();
    else if (r.file.isEmpty())
        status_ = tr("Archive %1 of %2: %3").arg(r.archive + 1).arg(r.archives).arg(r.archiveName);
    else {
        // "Archive k of n: file, p%, rate", the rate over the archive so far.
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - r.archiveStarted).count();
        const double done = double(r.archiveBytes) * r.percent / 100;
        status_ = tr("Archive %1 of %2: %3, %4%%5")
                      .arg(r.archive + 1)
                      .arg(r.archives)
                      .arg(r.file)
                      .arg(r.percent)
                      .arg(seconds > 0.5 ? ", " + Megabytes(done / seconds) + "/s" : QString());
    }
    emit Progress();
}

void ZipPageController::RunFinished()
{
    // The archives written whole: they stay on disk also when a cancel or a
    // failure stopped the run after them.
    std::vector<std::string> names;
    job_->CopyCreatedArchives(names);
    QStringList created;
    for (const std::string& name : names)
        created << ui::FromUtf8(name);
    QString failure, ending;
    bool cancelled = false, nothingWritten = false;
    try {
        if (bridge_.Error())
            std::rethrow_exception(bridge_.Error());
    } catch (const std::exception& e) {
        failure = ui::EngineText(e.what());
        cancelled = dynamic_cast<const EUserCanceled*>(&e) || dynamic_cast<const EAbort*>(&e);
        ending = cancelled ? tr(" Cancelled.") : tr(" Stopped: %1").arg(failure);
    }
    if (ending.isEmpty() && bridge_.Cancelled())
        ending = tr(" Cancelled.");
    // A run that wrote nothing, though nothing stopped it, says why.
    if (created.isEmpty() && ending.isEmpty()) {
        nothingWritten = true;
        failure = shown_.report.isEmpty() ? tr("No ZIP archive was written: the items match no file.")
                                          : tr("No ZIP archive was written: no file could be added.") + "\n\n" +
                                                shown_.report.mid(0, 10).join('\n') +
                                                (shown_.report.size() > 10 ? QString("\n...") : QString());
    }
    if (failure.isEmpty())
        progress_ = 1000;
    status_ = tr("Wrote %1 with %2; skipped %3.%4")
                  .arg(tr("%n archive(s)", nullptr, int(created.size())))
                  .arg(tr("%n file(s)", nullptr, shown_.files))
                  .arg(shown_.skipped)
                  .arg(ending);
    emit Progress();
    // The message is shown while the run still counts as under way, so that
    // no other run starts beneath it. The writer's failures and a cancel are
    // for information; a run that wrote nothing though nothing stopped it is
    // an error.
    // A quit cancels without a word: the window closes as the user asked.
    if (nothingWritten)
        Fail(failure);
    else if (!failure.isEmpty() && !(cancelled && quitting_))
        Inform(failure);
    // After a cancel or a failure "View ZIP" stays hidden.
    lastCreated_ = failure.isEmpty() ? created : QStringList();
    job_.reset();
    emit Changed();
    emit RunEnded();
}
