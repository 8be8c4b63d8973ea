#include "jobs/UnitZip.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string_view>
#include <unordered_set>

#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Hooks.h"

namespace fs = std::filesystem;

namespace {

// k in decimal, with leading zeros up to width digits.
std::string NumberText(size_t k, int width)
{
    std::string text = std::to_string(k);
    if (text.size() < size_t(width))
        text.insert(0, size_t(width) - text.size(), '0');
    return text;
}

// Anything at all under that name (a folder or a dangling link too) is in
// the way of a new archive.
bool NameTaken(const std::string& name, const std::unordered_set<std::string>& taken)
{
    std::error_code ec;
    return taken.count(name) || fs::exists(fs::symlink_status(name, ec));
}

}  // namespace

TZipFile::TZipFile() : engine_(std::make_unique<TZipWriter>()) {}

void TZipFile::Cancel()
{
    cancel_ = true;
    if (engine_->Working())
        engine_->RequestCancel();
}

void TZipFile::CopyCreatedArchives(std::vector<std::string>& target) const
{
    target = CreatedArchives;
}

bool TZipFile::IsReadableFile(const std::string& path)
{
    // Only a regular file: opening a pipe would wait for a writer.
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return false;
    const platform::Handle h = platform::FileOpen(path, platform::fmOpenRead | platform::fmShareDenyNone);
    if (h == platform::InvalidHandle)
        return false;
    platform::FileClose(h);
    return true;
}

std::string TZipFile::MakeAutoName(const std::string& destination, const std::string& item)
{
    if (IsReadableFile(item))
        return destination + fs::path(item).filename().replace_extension(".zip").string();

    // A wildcard item: its path as one file name. The root has no name, so
    // its '/' is left out; every other folder separator becomes '_'.
    constexpr std::string_view dropped = ":*?\"<>|.";
    std::string text;
    for (size_t i = 0; i < item.size(); ++i) {
        const char c = item[i];
        if (c == '/') {
            if (i > 0)
                text += '_';
        } else if (dropped.find(c) == std::string_view::npos) {
            text += c;
        }
    }
    // "/*.*" leaves nothing; ".zip" alone would be a hidden file.
    if (text.empty())
        text += '_';
    std::string name = destination;
    name += text;
    name += ".zip";
    return name;
}

std::string TZipFile::MakeUniqueName(const std::string& name, const std::unordered_set<std::string>& taken)
{
    if (!NameTaken(name, taken))
        return name;
    const size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    const fs::path file(name.substr(folder.size()));
    const std::string stem = file.stem().string();
    const std::string extension = file.extension().string();
    for (int n = 1; n <= 10000; ++n) {
        std::string candidate = folder + stem + "_" + std::to_string(n) + extension;
        if (!NameTaken(candidate, taken))
            return candidate;
    }
    return name;
}

ParArrayOfToZip TZipFile::PlanArchives(const std::vector<std::string>& items, const ParZipName& naming)
{
    ParArrayOfToZip plan;
    if (items.empty())
        return plan;
    if (naming.single) {
        const std::string name = naming.autoName ? MakeAutoName(naming.destination, items.front())
                                                 : naming.destination + naming.baseName + ".zip";
        plan.push_back({MakeUniqueName(name), items});
        return plan;
    }

    // Names are also kept apart from the names planned before them: two
    // archives of one run never end up in one file.
    std::unordered_set<std::string> taken;
    const size_t n = size_t(std::max(1, naming.itemsPerArchive));
    const size_t count = (items.size() + n - 1) / n;
    for (size_t k = 0; k < count; ++k) {
        ParToZip archive;
        for (size_t i = k * n; i < items.size() && i - k * n < n; ++i) {
            archive.items.push_back(items[i]);
            platform::PumpMessages();
            if (cancel_)
                throw EAbort();
        }
        const std::string name =
            naming.autoName ? MakeAutoName(naming.destination, archive.items.front())
                            : naming.destination + naming.baseName + NumberText(k, naming.numberWidth) + ".zip";
        archive.archive = MakeUniqueName(name, taken);
        taken.insert(archive.archive);
        plan.push_back(std::move(archive));
    }
    return plan;
}

void TZipFile::SetUp(const std::string& archive, const std::vector<std::string>& items, const ParCompress& compress)
{
    engine_->ResetArchive();
    engine_->SetZipName(archive);
    engine_->FilesList = items;
    engine_->ZipAction = TZipAction::zaUpdate;
    // A file of that name that is no archive is never written over.
    engine_->IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
    TMultiZipInfo& multi = engine_->MultiZipInfo;
    multi.MultiMode = TMultiMode::mmNone;
    engine_->OnFileNameForSplitPart = nullptr;
    if (compress.blocked) {
        multi.MultiMode = TMultiMode::mmBlocks;
        multi.FirstBlockSize = compress.blockSize;
        multi.BlockSize = multi.FirstBlockSize;
        // name comes as the archive's name without ".zip".
        if (compress.peerPartNames)
            engine_->OnFileNameForSplitPart = NamePeerPart;
    }
    engine_->Recurse = compress.includeSubfolders;
    engine_->SetStorePaths(compress.storePaths);
    engine_->AddTreeDirEntries = compress.storePaths && compress.dirEntries;
    engine_->SetIncludeHiddenFiles(compress.includeSysAndHidden);
    engine_->SetIncludeSysFiles(compress.includeSysAndHidden);
    engine_->PackLevel = compress.level;
    engine_->Threads = compress.threads;
    // Set even when empty: a password of an earlier run must not carry over.
    engine_->Password = compress.password;
    engine_->Encryption = compress.encryption;
    if (!compress.comment.empty())
        engine_->SetArchiveComment(compress.comment);
}

int TZipFile::AddToArchive(const std::string& archive, const std::vector<std::string>& items,
                           const ParCompress& compress, bool onlyNewer, bool move,
                           std::vector<ParNotMoved>& notMoved)
{
    cancel_ = false;
    notMoved.clear();
    // A new archive is never written where a link leads to nothing.
    std::error_code ec;
    if (fs::is_symlink(archive, ec) && !fs::exists(archive, ec))
        throw EFCreateError("Cannot create " + archive + ": it is a symbolic link to nothing");
    const bool existed = platform::FileExists(archive);
    SetUp(archive, items, compress);
    engine_->ZipAction = onlyNewer ? TZipAction::zaUpdate : TZipAction::zaReplace;
    // The files that went in, told by the writer as each entry is written,
    // each with its state when the writer opened it; they are deleted only
    // once the whole archive is in place, and only if they are still as
    // they were then (a file read at another size than it had then is not
    // in the archive as it stands).
    std::map<std::string, platform::FileStamp> opened;
    std::vector<std::pair<std::string, platform::FileStamp>> written;
    const TStartZipEvent toldStart = engine_->OnStartZip;
    const TEndZipEvent toldEnd = engine_->OnEndZip;
    engine_->OnStartZip = [&](TZipWriter& sender, const std::string& file, TZipHeaderInfo& header, bool& skip) {
        platform::GetFileStamp(file, opened[file]);
        if (toldStart)
            toldStart(sender, file, header, skip);
    };
    engine_->OnEndZip = [&](TZipWriter& sender, const std::string& file, int64_t size, int64_t packed, int64_t total) {
        if (!file.empty() && file.back() != '/') {
            platform::FileStamp stamp = opened[file];
            if (stamp.Size != size)
                stamp.Size = -1;  // matches no file: kept
            written.emplace_back(file, stamp);
        }
        if (toldEnd)
            toldEnd(sender, file, size, packed, total);
    };
    const auto restore = [&] {
        engine_->OnStartZip = toldStart;
        engine_->OnEndZip = toldEnd;
    };
    int entries = 0;
    try {
        entries = engine_->Zip();
    } catch (...) {
        restore();
        throw;
    }
    restore();
    // A new archive that got nothing is not left behind.
    if (entries == 0 && !existed)
        platform::DeleteFile(archive);
    if (move)
        for (const auto& [file, stamp] : written) {
            platform::FileStamp now;
            if (!platform::GetFileStamp(file, now) || !(now == stamp))
                notMoved.push_back({file, true});
            else if (!platform::DeleteFile(file))
                notMoved.push_back({file, false});
        }
    return int(written.size());
}

void TZipFile::WriteArchives(const ParArrayOfToZip& plan, const ParCompress& compress)
{
    cancel_ = false;
    CreatedArchives.clear();
    for (size_t k = 0; k < plan.size(); ++k) {
        const ParToZip& archive = plan[k];
        // A cancel that arrives while messages are let through here stops
        // the run before this archive rather than after it.
        platform::PumpMessages();
        if (cancel_) {
            engine_->ForgetNextFiles();
            return;
        }
        const auto tell = [&](ParArchiveProgress::State state, const std::string& error) {
            if (OnArchive)
                OnArchive({state, k, plan.size(), archive.archive, error, {}});
        };
        tell(ParArchiveProgress::State::Started, {});
        SetUp(archive.archive, archive.items, compress);
        // The next archive's small files are read and compressed while this one is written.
        if (k + 1 < plan.size())
            engine_->NextFilesList = plan[k + 1].items;
        int added = 0;
        try {
            added = engine_->Zip();
        } catch (const std::exception& e) {
            tell(ParArchiveProgress::State::Failed, e.what());
            throw;
        }
        // Every planned name was new: an archive that got nothing is no
        // archive of the run and is not left behind. For a blocked archive
        // the writer reports its last part.
        if (added == 0)
            platform::DeleteFile(engine_->ZipName());
        else if (platform::FileExists(engine_->ZipName()))
            CreatedArchives.push_back(engine_->ZipName());
        tell(ParArchiveProgress::State::Done, {});
    }
}

void TZipFile::NamePeerPart(TZipReader&, std::string& name, int n, TSplitPartType type)
{
    char number[16];
    std::snprintf(number, sizeof number, ".z%02d", n);
    name += type == TSplitPartType::sptLast ? ".zip" : number;
}

std::string TZipFile::SkippedReason(TSkipReason reason, const std::string& sourceError)
{
    switch (reason) {
    case TSkipReason::skNoOverwrite: return "an entry of the same name is in the archive already";
    case TSkipReason::skUnreadable: return "cannot be read" + (sourceError.empty() ? "" : " (" + sourceError + ")");
    case TSkipReason::skChanged: return "changed while it was being added";
    default: return "left out";
    }
}

std::string TZipFile::LeftOutReason(const std::string& file)
{
    const int attr = platform::FileGetAttr(file);
    if (attr < 0)
        return "not found";
    if (attr & platform::faDirectory)
        return "a folder, not a file";
    if (attr & platform::faHidden)
        return "hidden, and hidden files are left out";
    return "not found";
}

void TZipFile::CreateArchives(const std::vector<std::string>& items, const ParZipName& naming,
                              const ParCompress& compress)
{
    ParZipName grouping = naming;
    if (compress.blocked)
        grouping.single = true;
    WriteArchives(PlanArchives(items, grouping), compress);
}
