// Turning command-line values into what the jobs take.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

class Session;

// The part size of a blocked archive: one of the names "1.2M", "1.44M",
// "2.88M", "5M", "100M", "250M", "650M" (those sizes exactly), else a
// number with B, K (1024) or M (1048576), at least 64K. Nothing when text
// is none of these.
std::optional<int64_t> ParseBlockSize(const std::string& text);

// The base of numbered archive names: trimmed, without a ".zip" ending in
// any case, "Zamblok" when nothing is left.
std::string ArchiveBaseName(const std::string& text);

// A folder as the jobs take it: ending with '/', or empty for the current folder.
std::string FolderPrefix(const std::string& folder);

// The password, asked on the terminal without echo (twice when confirm) or
// read from the first line of file ("-": standard input); blanks at either
// end do not count. Raises UsageError when it cannot be had, Interrupted on
// Ctrl-C.
std::string ObtainPassword(const Session& session, bool ask, const std::string& file, bool confirm);

}  // namespace cli
