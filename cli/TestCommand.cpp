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
};

// The first entry after index that has data: folders have none to test.
int NextFileEntry(const TZipReader& reader, int index)
{
    for (int i = index + 1; i < reader.EntryCount(); ++i)
        if (!reader.EntryName(i).empty())
            return i;
    return -1;
}

// The engine ends a run at an entry whose data it cannot decode; the test
// reports that entry and goes on after it. An entry whose local header is
// wrong ends the test: the engine reads the header before the entry can be
// passed over.
Outcome TestArchive(Session& session, TZipReader& reader, const std::string& archive)
{
    Outcome outcome;
    int doneThrough = -1;  // entries up to this one were tested by an earlier pass
    int reached = -1;      // the last entry the engine came to in this pass
    int current = -1;      // the entry under way, until its result is in
    bool started = false;  // the directory was read and the entries began

    WatchEntries(session, reader);
    const auto watchInfo = reader.OnStartUnZipInfo;
    reader.OnStartUnZipInfo = [&](TZipReader& sender, int numFiles, int64_t totalBytes, bool& stopNow) {
        started = true;
        watchInfo(sender, numFiles, totalBytes, stopNow);
    };
    const auto watchStart = reader.OnStartUnZip;
    reader.OnStartUnZip = [&](TZipReader& sender, int index, std::string& fileName, bool& skip) {
        reached = index;
        if (index <= doneThrough) {
            skip = true;
            return;
        }
        current = index;
        watchStart(sender, index, fileName, skip);
    };
    reader.OnEndUnZip = [&](TZipReader&, int, const std::string&) {
        ++outcome.passed;
        current = -1;
    };
    // Every other result of an entry is a failure, which WatchEntries reports.
    const auto failed = [&] {
        ++outcome.failed;
        current = -1;
    };
    const auto watchSkip = reader.OnSkippingFile;
    reader.OnSkippingFile = [&](TZipReader& sender, TSkipReason reason, const std::string& name, int index,
                                bool& retry) {
        watchSkip(sender, reason, name, index, retry);
        failed();
    };
    const auto watchCrc = reader.OnBadCRC;
    reader.OnBadCRC = [&](TZipReader& sender, uint32_t computed, uint32_t stored, int index) {
        watchCrc(sender, computed, stored, index);
        failed();
    };

    reader.SetZipName(archive);
    for (;;) {
        started = false;
        reached = current = -1;
        try {
            reader.UnZip();
            return outcome;
        } catch (const EUserCanceled&) {
            throw;
        } catch (const Exception& e) {
            const bool inData = current >= 0;
            const int entry = !started ? -1 : inData ? current : NextFileEntry(reader, reached);
            if (entry < 0) {
                session.Problem(archive + ": " + e.what());
                outcome.stopped = true;
                return outcome;
            }
            const bool zlib = dynamic_cast<const EZLibError*>(&e) != nullptr;
            session.Problem(archive + ": " + reader.EntryFolder(entry) + reader.EntryName(entry) + ": " +
                            (zlib ? "the compressed data is broken" : e.what()));
            ++outcome.failed;
            if (!inData) {
                outcome.stopped = true;
                return outcome;
            }
            doneThrough = entry;
        }
    }
}

}  // namespace

int RunTest(Session& session, const std::vector<std::string>& archives, const std::string& password)
{
    session.Line().Start(archives);
    bool stopped = false;
    for (const std::string& archive : archives) {
        session.CheckInterrupted();
        TZipReader reader;
        reader.TestOnly = true;
        reader.DoAll = true;
        reader.Password = password;
        session.SetCancel([&reader] { reader.RequestCancel(); });
        session.Line().Archive(archive);
        const Outcome outcome = TestArchive(session, reader, archive);
        session.SetCancel({});
        stopped = stopped || outcome.stopped;
        const int tested = outcome.passed + outcome.failed;
        std::string summary = archive + ": ";
        if (outcome.stopped && tested == 0)
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
