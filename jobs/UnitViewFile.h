// TExtractAndView: the job behind the "Multiple UnZIP" page. It runs the
// engine over the archives of the page's list: listing gathers the entries of
// all of them into one table of display rows, extraction writes all or the
// chosen entries out, deletion rewrites archives without the chosen entries.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/ZipExceptions.h"
#include "engine/ZipWriter.h"
#include "jobs/ArchiveProgress.h"

// One row of the compressed-files list.
struct ParFileDetail {
    std::string archive;   // the archive's name as listed
    std::string fileName;  // the entry's name without its folder
    std::string path;      // the entry's stored folder, ending with '/', or empty
    std::string size;      // uncompressed size in thousands of bytes, at least "1"
    std::string date;      // the entry's time as local short date and long time
    uint64_t bytes = 0;    // uncompressed size
    std::time_t time = 0;  // the entry's time, as date shows it
};

using ParArrayOfFileDetail = std::vector<ParFileDetail>;

// The chosen entries of one archive.
struct ParToUnZip {
    std::string archive;               // the archive's full name
    std::vector<std::string> entries;  // full stored names: folder then file name
};

// At most one element per archive.
using ParArrayOfToUnZip = std::vector<ParToUnZip>;

// How and where extraction writes.
struct ParUnCompress {
    std::string destination;           // the extract-to folder, ending with '/'
    bool subfolderPerArchive = false;  // each archive into a folder named after it
    std::string password;              // trimmed by the page; empty means none
    bool useStoredPaths = false;       // recreate the entries' stored folders
    TUZOverwriteMode overwriteMode = TUZOverwriteMode::Prompt;
    int threads = 0;                   // threads that decode entries ahead; 0: one per core
};

// The folder an archive of its own is extracted into: destination (ending
// with '/') and the archive's file name without its last extension. A name
// that would leave nothing or lead out of the destination ("..zip", "...zip")
// is kept whole. Where a file or a link has that name, the next free one:
// name_1, name_2, ...
std::string ArchiveFolder(const std::string& destination, const std::string& archive);

// What a skipped entry's reason means to a user: the entry's stored name is
// said by the caller; fileName is the output file; password whether one was given.
std::string SkipReasonText(TSkipReason reason, const std::string& fileName, bool password);

class TExtractAndView {
public:
    TExtractAndView();

    // A batch survives its bad members: an archive that is missing, is no
    // archive, is damaged (its engine exception, or EDamagedDirectory, see
    // TZipReader::CheckDirectory) or cannot be updated is told to OnArchive
    // as Failed, with its reason, and the run goes on with the next one; what
    // was done before stays done. Each run returns the number of archives that failed.
    // A cancel ends the whole run: between archives quietly for extraction
    // and deletion, with EAbort for a listing; one that stops the engine in
    // the middle of an archive raises EUserCanceled (EAbort for a listing).
    // An OnArchive handler may rethrow the failure (ParArchiveProgress::
    // failure) to end the run at the first bad archive instead.

    // Fills rows with the entries of every archive that could be read,
    // archive by archive in list order and in the engine's entry order
    // within one archive. The rows are gathered apart and handed over whole
    // at the end, so a view bound to rows never sees them change during the
    // listing; a cancel empties them and raises EAbort. A file that is no
    // archive may give no rows, as the engine's IncompleteZipMode says.
    size_t ListArchives(ParArrayOfFileDetail& rows, const std::vector<std::string>& archives);
    // The same listing handed to row one row at a time, as each archive is
    // read: only one archive's directory is held at a time, whatever the
    // number of entries.
    size_t ListArchives(const std::vector<std::string>& archives, const std::function<void(const ParFileDetail&)>& row);

    // Extraction and deletion go archive by archive in order. An archive
    // with a damaged directory fails before anything is written from it.
    size_t ExtractAll(const std::vector<std::string>& archives, const ParUnCompress& options);
    // Extracts exactly the entries each group names from its archive: its
    // names are stored names, taken byte for byte, never as patterns.
    size_t ExtractSelected(const ParArrayOfToUnZip& groups, const ParUnCompress& options);
    // Rewrites each group's archive without the entries the group names, as
    // exactly as ExtractSelected takes them. EntriesRemoved() tells how many
    // went, also when the run ended early.
    size_t DeleteSelected(const ParArrayOfToUnZip& groups);
    size_t EntriesRemoved() const { return removed_; }
    // Decodes every entry of each archive and checks it, writing nothing;
    // the engine's events tell each entry's result as in extraction.
    size_t TestArchives(const std::vector<std::string>& archives, const std::string& password);

    // Asks the run under way to stop at its next check; an engine operation
    // under way is asked to stop too.
    void Cancel();

    // Told when each archive of a listing's fill pass, an extraction or a
    // deletion starts and when it is done or failed.
    TArchiveProgressEvent OnArchive;

    // An archive whose central directory cannot be read is worked on from
    // the entries of its local headers, as the engine rebuilds them, instead
    // of failing with EDamagedDirectory; OnArchive tells it (rebuilt).
    bool RebuildDamaged = false;

    // The job's engine, for a front end that follows its events (progress,
    // skipped entries); the job sets the engine's options for each archive.
    TZipWriter& Engine() { return *engine_; }

private:
    // Lets window messages through; true when the run has been cancelled.
    [[nodiscard]] bool PumpMessages();
    // Makes archive the engine's archive and reads its directory, which must
    // pass CheckDirectory unless RebuildDamaged.
    void ReadArchive(const std::string& archive);
    // Reads archive as ReadArchive does and sets the extraction options for it.
    void PrepareExtraction(const std::string& archive, const ParUnCompress& options);
    // Runs work on each of archives in order, telling OnArchive where the run
    // stands; an archive whose work fails is told as Failed and the run goes
    // on. Stops quietly at a cancel seen between two archives; returns the
    // number of archives that failed.
    size_t ForEachArchive(const std::vector<std::string>& archives, const std::function<void(size_t)>& work);

    bool cancel_ = false;
    bool rebuilt_ = false;  // the directory of the archive under way was rebuilt
    size_t removed_ = 0;    // entries the last deletion removed
    std::unique_ptr<TZipWriter> engine_;
};
