// The sub-commands. Each returns ExitDone or ExitSkipped; a run that stops
// on an error or a cancel ends with the exception that stopped it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/Session.h"
#include "jobs/UnitViewFile.h"
#include "jobs/UnitZip.h"

namespace cli {

struct ZipRequest {
    std::vector<std::string> items;
    ParZipName naming;
    ParCompress compress;
};

// How archives are read: their directory missing, names in a code page.
struct ReadOptions {
    bool repair = false;
    std::string namesCodePage;
    int threads = 0;  // that decode ahead; 0: one per core
};

struct AddRequest {
    std::string archive;
    std::vector<std::string> items;
    ParCompress compress;
    bool onlyNewer = false;  // replace an entry only by a newer file
    bool move = false;       // delete the files that went in
};

struct ExtractRequest {
    std::vector<std::string> archives;
    std::vector<std::string> only;  // stored names; empty: every entry
    bool ignoreCase = false;         // only's names match without regard to ASCII case
    ParUnCompress options;
    bool allowOutsideLinks = false;  // make links whose target leaves the destination
    ReadOptions reading;
};

int RunZip(Session& session, const ZipRequest& request);
enum class ListFormat { Table, TabSeparated, Verbose, VerboseTabSeparated, Json };
int RunList(Session& session, const std::vector<std::string>& archives, ListFormat format,
            const ReadOptions& reading);
int RunExtract(Session& session, const ExtractRequest& request);
// Each of entries is a stored name, taken exactly, or, when it is none or
// with patterns, a pattern.
int RunDelete(Session& session, const std::string& archive, const std::vector<std::string>& entries,
              bool patterns);
int RunAdd(Session& session, const AddRequest& request);
// Writes the archive in parts set as the plain archive out, which must not exist.
int RunJoin(Session& session, const std::string& set, const std::string& out);
// Writes archive as parts of size bytes: base.z01, base.z02, ..., base.zip.
int RunSplit(Session& session, const std::string& archive, int64_t size, const std::string& base);
int RunTest(Session& session, const std::vector<std::string>& archives, const std::string& password,
            const ReadOptions& reading);

// The listing job's rows for archives, handed to row one by one, with the
// progress line following the job.
void ListEntries(Session& session, TExtractAndView& job, const std::vector<std::string>& archives,
                 const std::function<void(const ParFileDetail&)>& row);

// Follows the writing of files by engine: progress, and a report for every
// file left out.
void WatchWriting(Session& session, TZipWriter& engine);

// Follows an extraction or test run of engine: progress, and a report for
// every entry that is skipped or fails its check.
void WatchEntries(Session& session, TZipReader& engine);

// How engine reads archives: the code page of names, and an archive without
// its directory (cut short, or not all there) read from its local headers
// with repair; without, it is reported once, with the advice to repair it.
void SetReading(Session& session, TZipReader& engine, const ReadOptions& reading);

// Reports archive when it is an empty file, and says whether it is one. The
// engine reads an empty file as an archive without entries (an archive may
// be written into one), but it holds none: it is no archive to read.
bool ReportedEmpty(Session& session, const std::string& archive);
// A damaged directory met without repair, reported with the advice to repair it.
void ReportDamaged(Session& session, const EDamagedDirectory& damaged);
// Tells, once per archive, that engine read the entries of its archive from
// their local headers; reports an archive that other tools read as another.
void AnnounceReading(Session& session, const TZipReader& engine);
// Has job announce each archive it read so, and end its run at the first
// archive that fails, with that archive's exception: each command tells a
// failure by its kind, and runs one archive at a time where it goes on.
void FollowArchives(Session& session, TExtractAndView& job);

}  // namespace cli
