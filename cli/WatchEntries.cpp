#include <cstdio>
#include <memory>
#include <set>

#include "cli/Commands.h"

namespace cli {

namespace {

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::string StoredName(const TZipReader& engine, int index)
{
    return engine.EntryFolder(index) + engine.EntryName(index);
}

}  // namespace

void WatchEntries(Session& session, TZipReader& engine)
{
    // The archive as named for the run; the engine's name moves through the parts.
    auto archive = std::make_shared<std::string>();
    auto report = [&session, archive](const std::string& what) { session.Problem(*archive + ": " + what); };

    engine.OnStartUnZipInfo = [&session, archive](TZipReader& sender, int, int64_t totalBytes, bool&) {
        *archive = sender.ZipName();
        session.Line().Archive(*archive);
        session.Line().Operation(totalBytes);
    };
    engine.OnStartUnZip = [&session](TZipReader& sender, int index, std::string&, bool&) {
        session.Line().Entry(StoredName(sender, index));
    };
    engine.OnTotalPercentDone = [&session](TZipReader&, int percent) { session.Line().Percent(percent); };

    engine.OnSkippingFile = [report](TZipReader& sender, TSkipReason reason, const std::string& fileName, int index,
                                     bool&) {
        std::string text = StoredName(sender, index) + ": " + SkipReasonText(reason, fileName, !sender.Password.empty());
        if (reason == TSkipReason::skUnsafeLink)
            text += " (--allow-outside-links makes it)";
        report(text);
    };
    engine.OnBadCRC = [report](TZipReader& sender, uint32_t computed, uint32_t stored, int index) {
        report(StoredName(sender, index) + ": bad CRC " + Hex(computed) + " (stored " + Hex(stored) + ")" +
               (sender.TestOnly ? "" : "; not extracted"));
    };
    engine.OnEntryError = [report](TZipReader& sender, int index, const std::string& what) {
        report(StoredName(sender, index) + ": " + what + (sender.TestOnly ? "" : "; not extracted"));
    };
    engine.OnHandleMessage = [](TZipReader&, int id, const std::string& text, const std::string& caption,
                                unsigned flags, int& result) {
        // An unknown method reaches OnEntryError with its number.
        result = id == TZipReader::MsgUnknownMethod ? platform::idOK : platform::MessageBox(text, caption, flags);
    };
}

void SetReading(Session& session, TZipReader& engine, const ReadOptions& reading)
{
    engine.NamesCodePage = reading.namesCodePage;
    const bool repair = reading.repair;
    engine.IncompleteZipMode = repair ? TIncompleteZipMode::izAssumeBad : TIncompleteZipMode::izAssumeMulti;
    auto reported = std::make_shared<std::set<std::string>>();
    engine.OnInCompleteZip = [&session, reported, repair](TZipReader& sender, TIncompleteZipMode&) {
        if (!repair && reported->insert(sender.ZipName()).second)
            session.Problem(sender.ZipName() +
                            ": incomplete archive: its directory is missing (--repair reads the entries from their "
                            "local headers)");
    };
}

}  // namespace cli
