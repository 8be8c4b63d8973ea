// Path and file helpers shared by the reader and the writer.
#pragma once

#include <cstdint>
#include <string>

// The progress percentage of done out of total: 0 when total <= 0, else
// 100 * done / total rounded, at most 100.
int PercentOf(int64_t done, int64_t total);

// The last-write time of the file or folder at path (a trailing '/' is
// ignored) as a packed DOS date-time clamped by FixDosDateTime; the current
// date-time when the path cannot be found.
uint32_t FileDate(std::string path);

// Renames source to target when both lie on one file system; an existing
// target is replaced. The old target is kept as target + "$$$" until the
// rename has succeeded, and is put back when it fails. False when the files
// lie on different file systems or a rename fails.
bool RenameReplacing(const std::string& source, const std::string& target);

// Moves source to target by RenameReplacing; when that is not possible,
// copies source into a new target and leaves source in place. A failed copy
// removes the partial target and raises Exception "Error: Could not copy
// from <source> -> <target>"; failing to open source or create target raises
// EFOpenError or EFCreateError.
void MoveOrCopyFile(const std::string& source, const std::string& target);

// The allocation unit in bytes of the file system holding path; raises
// EOSError when the system cannot tell.
int64_t AllocationUnit(const std::string& path);
