#include "jobs/UnitViewFile.h"

#include <cstdint>
#include <ctime>
#include <filesystem>

#include "platform/Exceptions.h"
#include "platform/Hooks.h"

namespace {

// Whole thousands of bytes; anything below 2000 bytes shows as "1".
std::string SizeText(uint64_t size)
{
    const uint64_t thousands = size / 1000;
    return std::to_string(thousands == 0 ? 1 : thousands);
}

// The locale's short date and long time; the date alone at exact midnight.
std::string DateText(std::time_t t)
{
    std::tm tm{};
    localtime_r(&t, &tm);
    const bool midnight = tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0;
    char text[256];
    const size_t n = std::strftime(text, sizeof text, midnight ? "%x" : "%x %X", &tm);
    return std::string(text, n);
}

}  // namespace

std::string ArchiveFolder(const std::string& destination, const std::string& archive)
{
    const std::filesystem::path name = std::filesystem::path(archive).filename();
    std::string folder = name.stem().string();
    if (folder.empty() || folder == "." || folder == "..")
        folder = name.string();
    // A file (or a link) of that name is left alone: the next free name is taken.
    const std::string base = destination + folder;
    std::string path = base;
    std::error_code error;
    for (int n = 1; std::filesystem::exists(std::filesystem::symlink_status(path, error)) &&
                    !std::filesystem::is_directory(std::filesystem::symlink_status(path, error));
         ++n)
        path = base + "_" + std::to_string(n);
    return path;
}

std::string SkipReasonText(TSkipReason reason, const std::string& fileName, bool password)
{
    switch (reason) {
    case TSkipReason::skBadPassword:
        return std::string(password ? "wrong password" : "encrypted and no password given") + "; skipped";
    case TSkipReason::skNoOverwrite: return "kept the existing file " + fileName;
    case TSkipReason::skCreateError: return "cannot create " + fileName + "; skipped";
    case TSkipReason::skBadName: return "the stored name holds a NUL byte; skipped";
    case TSkipReason::skUnsafeLink: return "a link that leads out of the destination; skipped";
    default: return "skipped";
    }
}

TExtractAndView::TExtractAndView() : engine_(std::make_unique<TZipWriter>()) {}

void TExtractAndView::Cancel()
{
    cancel_ = true;
    if (engine_->Working())
        engine_->RequestCancel();
}

bool TExtractAndView::PumpMessages()
{
    platform::PumpMessages();
    return cancel_;
}

void TExtractAndView::ReadArchive(const std::string& archive)
{
    rebuilt_ = false;
    engine_->ResetArchive();
    engine_->SetZipName(archive);
    engine_->ReadArchive();
    engine_->RebuildDamaged = RebuildDamaged;
    engine_->CheckDirectory();
    rebuilt_ = engine_->Rebuilt();
}

size_t TExtractAndView::ListArchives(ParArrayOfFileDetail& rows, const std::vector<std::string>& archives)
{
    // The rows are filled aside and take the place of the old ones at the
    // end, so that a handler ending the listing at a failure leaves the rows
    // as they were.
    ParArrayOfFileDetail filled;
    size_t failed = 0;
    try {
        failed = ListArchives(archives, [&filled](const ParFileDetail& row) { filled.push_back(row); });
    } catch (const EAbort&) {
        rows.clear();
        throw;
    }
    rows = std::move(filled);
    return failed;
}

size_t TExtractAndView::ListArchives(const std::vector<std::string>& archives,
                                     const std::function<void(const ParFileDetail&)>& row)
{
    try {
        const size_t failed = ForEachArchive(archives, [&](size_t k) {
            const std::string& archive = archives[k];
            ReadArchive(archive);
            for (int i = 0; i < engine_->EntryCount(); ++i) {
                if (PumpMessages())
                    throw EAbort();
                const uint64_t bytes = engine_->EntrySize(i);
                const std::time_t time = engine_->EntryDateTime(i);
                row({archive, engine_->EntryName(i), engine_->EntryFolder(i), SizeText(bytes), DateText(time), bytes,
                     time});
            }
        });
        if (cancel_)
            throw EAbort();
        return failed;
    } catch (const Exception&) {
        // Whether this job saw the cancel or the engine stopped its read for
        // it (EUserCanceled), a cancelled listing ends in EAbort.
        if (!cancel_)
            throw;
        throw EAbort();
    }
}

void TExtractAndView::PrepareExtraction(const std::string& archive, const ParUnCompress& options)
{
    ReadArchive(archive);
    // ResetArchive keeps the extraction settings, so each archive gets them
    // afresh; the password too, so that an empty one really means none.
    engine_->SetDestDir(options.subfolderPerArchive ? ArchiveFolder(options.destination, archive)
                                                    : options.destination);
    engine_->RecreateDirs = options.useStoredPaths;
    engine_->OverwriteMode = options.overwriteMode;
    engine_->Password = options.password;
    engine_->Threads = options.threads;
    engine_->TestOnly = false;
}

size_t TExtractAndView::ForEachArchive(const std::vector<std::string>& archives,
                                       const std::function<void(size_t)>& work)
{
    cancel_ = false;
    size_t failed = 0;
    for (size_t k = 0; k < archives.size(); ++k) {
        if (PumpMessages())
            break;
        const auto tell = [&](ParArchiveProgress::State state, const std::string& error, std::exception_ptr failure) {
            if (OnArchive)
                OnArchive({state, k, archives.size(), archives[k], error, failure, rebuilt_});
        };
        tell(ParArchiveProgress::State::Started, {}, {});
        try {
            work(k);
        } catch (const std::exception& e) {
            tell(ParArchiveProgress::State::Failed, e.what(), std::current_exception());
            // A cancel ends the run; any other failure is this archive's alone.
            if (cancel_ || dynamic_cast<const EUserCanceled*>(&e) || dynamic_cast<const EAbort*>(&e))
                throw;
            ++failed;
            continue;
        }
        tell(ParArchiveProgress::State::Done, {}, {});
    }
    return failed;
}

size_t TExtractAndView::ExtractAll(const std::vector<std::string>& archives, const ParUnCompress& options)
{
    return ForEachArchive(archives, [&](size_t k) {
        const TArchiveKeptOpen open(*engine_);
        PrepareExtraction(archives[k], options);
        engine_->DoAll = true;
        engine_->UnZip();
    });
}

// The archives of groups, in order.
static std::vector<std::string> ArchivesOf(const ParArrayOfToUnZip& groups)
{
    std::vector<std::string> archives;
    for (const ParToUnZip& group : groups)
        archives.push_back(group.archive);
    return archives;
}

size_t TExtractAndView::ExtractSelected(const ParArrayOfToUnZip& groups, const ParUnCompress& options)
{
    return ForEachArchive(ArchivesOf(groups), [&](size_t k) {
        const TArchiveKeptOpen open(*engine_);
        PrepareExtraction(groups[k].archive, options);
        engine_->DoAll = false;
        engine_->ExactNames = true;
        engine_->FilesList = groups[k].entries;
        engine_->UnZip();
    });
}

size_t TExtractAndView::DeleteSelected(const ParArrayOfToUnZip& groups)
{
    removed_ = 0;
    return ForEachArchive(ArchivesOf(groups), [&](size_t k) {
        ReadArchive(groups[k].archive);
        engine_->DoAll = false;
        engine_->ExactNames = true;
        engine_->FilesList = groups[k].entries;
        removed_ += size_t(engine_->RemoveEntries());
    });
}

size_t TExtractAndView::TestArchives(const std::vector<std::string>& archives, const std::string& password)
{
    return ForEachArchive(archives, [&](size_t k) {
        const TArchiveKeptOpen open(*engine_);
        ReadArchive(archives[k]);
        engine_->TestOnly = true;
        engine_->DoAll = true;
        engine_->Password = password;
        engine_->UnZip();
    });
}
