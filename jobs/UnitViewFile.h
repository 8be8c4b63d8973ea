// TExtractAndView: the job behind the "Multiple UnZIP" page. It runs the
// engine over the archives of the page's list; listing gathers the entries of
// all of them into one table of display rows.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/ZipReader.h"

// One row of the compressed-files list.
struct ParFileDetail {
    std::string archive;   // the archive's name as listed
    std::string fileName;  // the entry's name without its folder
    std::string path;      // the entry's stored folder, ending with '/', or empty
    std::string size;      // uncompressed size in thousands of bytes, at least "1"
    std::string date;      // the entry's time as local short date and long time
};

using ParArrayOfFileDetail = std::vector<ParFileDetail>;

class TExtractAndView {
public:
    TExtractAndView();

    // Fills rows with the entries of every archive, archive by archive in list
    // order and in the engine's entry order within one archive. An archive
    // that cannot be opened raises the engine's EFOpenError; a file that is no
    // archive gives no rows. A cancel empties the rows and raises EAbort.
    void ListArchives(ParArrayOfFileDetail& rows, const std::vector<std::string>& archives);

    // Asks the run under way to stop at its next check; an engine operation
    // under way is asked to stop too.
    void Cancel();

private:
    // Lets window messages through, then raises EAbort when cancelled.
    void PumpMessages();
    // Makes archive the engine's archive and reads its directory.
    void ReadArchive(const std::string& archive);

    bool cancel_ = false;
    std::unique_ptr<TZipReader> engine_;
};
