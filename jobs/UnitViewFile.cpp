#include "jobs/UnitViewFile.h"

#include <cstdint>
#include <ctime>

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

TExtractAndView::TExtractAndView() : engine_(std::make_unique<TZipReader>()) {}

void TExtractAndView::Cancel()
{
    cancel_ = true;
    if (engine_->Working())
        engine_->RequestCancel();
}

void TExtractAndView::PumpMessages()
{
    platform::PumpMessages();
    if (cancel_)
        throw EAbort();
}

void TExtractAndView::ReadArchive(const std::string& archive)
{
    engine_->ResetArchive();
    engine_->SetZipName(archive);
    engine_->ReadArchive();
}

void TExtractAndView::ListArchives(ParArrayOfFileDetail& rows, const std::vector<std::string>& archives)
{
    try {
        // Counting first means an archive that cannot be opened leaves the
        // rows as they were.
        size_t total = 0;
        for (const std::string& archive : archives) {
            PumpMessages();
            ReadArchive(archive);
            total += size_t(engine_->EntryCount());
        }
        // An archive may have changed since it was counted, so the rows hold
        // exactly the entries read now rather than the counted number.
        rows.clear();
        rows.reserve(total);
        for (const std::string& archive : archives) {
            ReadArchive(archive);
            for (int i = 0; i < engine_->EntryCount(); ++i) {
                PumpMessages();
                rows.push_back({archive, engine_->EntryName(i), engine_->EntryFolder(i),
                                SizeText(engine_->EntrySize(i)), DateText(engine_->EntryDateTime(i))});
            }
        }
    } catch (const Exception&) {
        // Whether this job saw the cancel or the engine stopped its read for
        // it (EUserCanceled), a cancelled listing has no rows.
        if (!cancel_)
            throw;
        rows.clear();
        throw EAbort();
    }
}
