// The test command has no job: it drives a reader of its own that decodes
// every entry and checks its CRC without creating any file.

#include "cli/Commands.h"
#include "engine/ZipExceptions.h"

namespace cli {

namespace {

std::string Count(int n, const std::string& one, const std::string& many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// How the test of one archive went.
struct Outcome {
    int passed = 0;
    int failed = 0;
    bool stopped = false;  // an error ended the test before its last entry
    bool damaged = false;  // its directory is damaged, and it was not repaired
};

// A damaged entry fails alone and the engine goes on with the next; only a
// fault of the archive as a whole (its directory) ends the test early.
Outcome TestArchive(Session& session, TZipReader& reader, const std::string& archive)
{
    Outcome outcome;
    WatchEntries(session, reader);
    reader.OnEndUnZip = [&](TZipReader&, int, const std::string&) { ++outcome.passed; };
    // Every other result of an entry is a failure, which WatchEntries reports.
    const auto watchSkip = reader.OnSkippingFile;
    reader.OnSkippingFile = [&](TZipReader& sender, TSkipReason reason, const std::string& name, int index,
                                bool& retry) {
        watchSkip(sender, reason, name, index, retry);
        ++outcome.failed;
    };
    const auto watchCrc = reader.OnBadCRC;
    reader.OnBadCRC = [&](TZipReader& sender, uint32_t computed, uint32_t stored, int index) {
        watchCrc(sender, computed, stored, index);
        ++outcome.failed;
    };
    const auto watchError = reader.OnEntryError;
    reader.OnEntryError = [&](TZipReader& sender, int index, const std::string& what) {
        watchError(sender, index, what);
        ++outcome.failed;
    };

    if (ReportedEmpty(session, archive)) {
        outcome.stopped = true;
        return outcome;
    }
    reader.SetZipName(archive);
    try {
        reader.ReadArchive();
        reader.CheckDirectory();
        AnnounceReading(session, reader);
        reader.UnZip();
    } catch (const EUserCanceled&) {
        throw;
    } catch (const EDamagedDirectory& e) {
        ReportDamaged(session, e);
        outcome.damaged = true;
    } catch (const Exception& e) {
        session.Problem(archive + ": " + e.what());
        outcome.stopped = true;
    }
    return outcome;
}

}  // namespace

int RunTest(Session& session, const std::vector<std::string>& archives, const std::string& password,
            const ReadOptions& reading)
{
    session.Line().Start(archives);
    bool stopped = false;
    for (const std::string& archive : archives) {
        session.CheckInterrupted();
        TZipReader reader;
        reader.TestOnly = true;
        reader.DoAll = true;
        reader.Password = password;
        SetReading(session, reader, reading);
        session.SetCancel([&reader] { reader.RequestCancel(); });
        session.Line().Archive(archive);
        const Outcome outcome = TestArchive(session, reader, archive);
        session.SetCancel({});
        stopped = stopped || outcome.stopped;
        const int tested = outcome.passed + outcome.failed;
        std::string summary = archive + ": ";
        if ((outcome.stopped || outcome.damaged) && tested == 0)
            summary += "cannot be tested";
        else if (outcome.stopped)
            summary += "test stopped after " + Count(tested, "entry", "entries") + ", " +
                       std::to_string(outcome.failed) + " failed";
        else if (outcome.failed > 0)
            summary += std::to_string(outcome.failed) + " of " + Count(tested, "entry", "entries") + " failed";
        else
            summary += Count(tested, "entry", "entries") + " OK";
        session.Print(summary);
    }
    return stopped ? ExitStopped : session.Status();
}

}  // namespace cli
