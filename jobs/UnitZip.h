// TZipFile: the job behind the "Multiple ZIP" page. It plans which items go
// into which archive and what each archive is called, then runs the writer
// once per planned archive and keeps the names of the archives it wrote.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/ZipWriter.h"
#include "jobs/ArchiveProgress.h"

// How the archives of a run are grouped and named.
struct ParZipName {
    bool single = true;        // one archive for all items
    int itemsPerArchive = 1;   // N, when not single
    std::string destination;   // destination folder, ending with '/'
    bool autoName = false;     // names from the items; else base name plus number
    std::string baseName;      // manual base name, without ".zip"
    int numberWidth = 2;       // minimum digits of the number of a manual name
};

// How the archives of a run are written.
struct ParCompress {
    bool blocked = false;         // write the archive as parts of blockSize bytes
    int64_t blockSize = 1457600;
    // The parts of a blocked x.zip are x.z01, x.z02, ..., x.zip, which other
    // tools read; otherwise x.zip.z01, x.zip.z02, ..., x.zip.
    bool peerPartNames = false;
    bool storePaths = false;
    bool includeSubfolders = false;  // wildcard items also match in subfolders
    int level = 6;                // compression level 0 to 9
    int threads = 0;              // threads that compress; 0: one per core
    std::string password;         // empty: no encryption
    TEncryption encryption = TEncryption::Traditional;  // with a password
    std::string comment;          // empty: no archive comment
    bool includeSysAndHidden = false;
    // With stored paths: a wildcard item that takes a whole tree also stores
    // its folders, empty ones included, as zip -r does.
    bool dirEntries = false;
};

// A file that went into the archive of a move and stays where it was: it
// could not be deleted, or it changed after it was read (changed), so the
// archive does not hold it as it is now.
struct ParNotMoved {
    std::string file;
    bool changed = false;
};

// One planned archive: its full name and the items that go into it.
struct ParToZip {
    std::string archive;
    std::vector<std::string> items;
};

using ParArrayOfToZip = std::vector<ParToZip>;

class TZipFile {
public:
    TZipFile();

    // Plans the archives for items and writes them. A blocked run always
    // makes a single archive. Writer failures propagate; the archives written
    // before stay on disk and in the result.
    void CreateArchives(const std::vector<std::string>& items, const ParZipName& naming,
                        const ParCompress& compress);

    // Groups items into archives and names them. Every planned name is new:
    // no file of that name exists and no earlier archive of the plan has it.
    // A cancel raises EAbort.
    ParArrayOfToZip PlanArchives(const std::vector<std::string>& items, const ParZipName& naming);

    // Writes the planned archives in order. A cancel stops the run before the
    // next archive without an error; the writer stops the archive under way
    // itself (EUserCanceled).
    void WriteArchives(const ParArrayOfToZip& plan, const ParCompress& compress);

    // Adds items to archive, which is made when missing. An entry of the
    // same stored name is replaced; with onlyNewer only by a file newer than
    // it. A new archive that gets no entry is not made. With move, each file
    // that went in is deleted once the archive has been written, if it is
    // still the file that was read (size, modification time, device and
    // inode as when the writer took it, and as many bytes as it read);
    // files left out (skipped, or not newer) stay, as does everything when
    // the run fails. Returns the number of files added (folders not
    // counted); the files that went in but changed since, or could not be
    // deleted, go to notMoved. A file of the archive's name that is no zip
    // archive raises ENotAZipFile and stays as it was.
    int AddToArchive(const std::string& archive, const std::vector<std::string>& items, const ParCompress& compress,
                     bool onlyNewer, bool move, std::vector<ParNotMoved>& notMoved);

    // Replaces target's contents with the archives of the last run, in plan order.
    void CopyCreatedArchives(std::vector<std::string>& target) const;

    // Asks the run to stop at its next check, and the writer to stop the
    // archive under way.
    void Cancel();

    // Told when each archive of WriteArchives starts and when it is done or failed.
    TArchiveProgressEvent OnArchive;

    // Why the writer found no file to add under that name, in words.
    static std::string LeftOutReason(const std::string& file);
    // Why the writer skipped a file, in words, with the system's message
    // (TZipWriter::SourceError) for a file that could not be read.
    static std::string SkippedReason(TSkipReason reason, const std::string& sourceError = {});

    // The automatic archive name for an item in destination: a file's name
    // with ".zip" for its extension; for a wildcard item its path made into a
    // file name.
    static std::string MakeAutoName(const std::string& destination, const std::string& item);
    // name when no file of that name exists and taken does not hold it; else
    // the first free of stem_1.ext ... stem_10000.ext; name again when all are taken.
    static std::string MakeUniqueName(const std::string& name, const std::unordered_set<std::string>& taken = {});
    // The name other tools give part n of a blocked archive whose name
    // without ".zip" is name: name.z01, name.z02, ..., and name.zip for the
    // last part. An OnFileNameForSplitPart handler.
    static void NamePeerPart(TZipReader& sender, std::string& name, int n, TSplitPartType type);
    // Whether path is an existing regular file that can be opened for reading.
    static bool IsReadableFile(const std::string& path);

    // The job's engine, for a front end that follows its events (progress,
    // skipped entries); the job sets the engine's options for each archive.
    TZipWriter& Engine() { return *engine_; }

private:
    // Sets the engine up to write items into archive.
    void SetUp(const std::string& archive, const std::vector<std::string>& items, const ParCompress& compress);

    bool cancel_ = false;
    std::unique_ptr<TZipWriter> engine_;
    std::vector<std::string> CreatedArchives;
};
