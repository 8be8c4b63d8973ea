#include <cstdio>
#include <memory>

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

// What the handlers of one engine share.
struct Watch {
    std::string archive;  // as named for the run; the engine's name moves through the parts
    int current = -1;     // the entry under way
    int reported = -1;    // the entry whose failure was reported already
};

}  // namespace

void WatchEntries(Session& session, TZipReader& engine)
{
    auto watch = std::make_shared<Watch>();
    auto report = [&session, watch](int index, const std::string& what) {
        watch->reported = index;
        session.Problem(watch->archive + ": " + what);
    };

    engine.OnStartUnZipInfo = [&session, watch](TZipReader& sender, int, int64_t totalBytes, bool&) {
        watch->archive = sender.ZipName();
        watch->current = watch->reported = -1;
        session.Line().Archive(watch->archive);
        session.Line().Operation(totalBytes);
    };
    engine.OnStartUnZip = [&session, watch](TZipReader& sender, int index, std::string&, bool&) {
        watch->current = index;
        session.Line().Entry(StoredName(sender, index));
    };
    engine.OnTotalPercentDone = [&session](TZipReader&, int percent) { session.Line().Percent(percent); };

    engine.OnSkippingFile = [report](TZipReader& sender, TSkipReason reason, const std::string& fileName, int index,
                                     bool&) {
        const std::string entry = StoredName(sender, index) + ": ";
        switch (reason) {
        case TSkipReason::skBadPassword:
            report(index, entry + (sender.Password.empty() ? "encrypted and no password given" : "wrong password") +
                              "; skipped");
            break;
        case TSkipReason::skNoOverwrite: report(index, entry + "kept the existing file " + fileName); break;
        case TSkipReason::skCreateError: report(index, entry + "cannot create " + fileName + "; skipped"); break;
        default: report(index, entry + "skipped"); break;
        }
    };
    engine.OnBadCRC = [report, watch](TZipReader& sender, uint32_t computed, uint32_t stored, int index) {
        if (watch->reported == index)
            return;  // its method was reported as unknown already
        report(index, StoredName(sender, index) + ": bad CRC " + Hex(computed) + " (stored " + Hex(stored) + ")" +
                          (sender.TestOnly ? "" : "; the file was not kept"));
    };
    engine.OnHandleMessage = [report, watch](TZipReader& sender, int id, const std::string& text,
                                             const std::string& caption, unsigned flags, int& result) {
        if (id == TZipReader::MsgUnknownMethod && watch->current >= 0) {
            const int index = watch->current;
            report(index, StoredName(sender, index) + ": unsupported compression method " +
                              std::to_string(sender.EntryInfo(index).CompressionMethod));
            result = platform::idOK;
            return;
        }
        result = platform::MessageBox(text, caption, flags);
    };
}

}  // namespace cli
