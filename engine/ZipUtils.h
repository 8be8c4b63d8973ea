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

// The folder with its empty, "." and ".." components dropped, so that it can
// only lead downwards from where it is appended; ends with '/' unless empty.
std::string ContainedFolder(const std::string& folder);

// The allocation unit in bytes of the file system holding path; raises
// EOSError when the system cannot tell.
int64_t AllocationUnit(const std::string& path);
