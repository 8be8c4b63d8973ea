#include "engine/ZipUtils.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>

#include "engine/HugeStream.h"
#include "engine/ZipObj.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"

int PercentOf(int64_t done, int64_t total)
{
    if (total <= 0)
        return 0;
    // Long double keeps 100 * done exact where int64_t would overflow.
    return int(std::min<long long>(100, std::llround(100.0L * done / total)));
}

uint32_t FileDate(std::string path)
{
    if (path.size() > 1 && path.back() == '/')
        path.pop_back();
    uint32_t dos = 0;
    if (!platform::FileGetDosTime(path, dos))
        return platform::DateTimeToDosDateTime(std::time(nullptr));
    return FixDosDateTime(dos);
}

bool RenameReplacing(const std::string& source, const std::string& target)
{
    std::error_code ec;
    if (std::filesystem::equivalent(source, target, ec))
        return true;  // already in place; renaming aside would lose it
    if (!platform::SameFileSystem(source, target))
        return false;
    const std::string backup = target + "$$$";
    const bool hadTarget = platform::FileExists(target);
    if (hadTarget && !platform::RenameFile(target, backup))
        return false;
    if (!platform::RenameFile(source, target)) {
        if (hadTarget)
            platform::RenameFile(backup, target);
        return false;
    }
    if (hadTarget)
        platform::DeleteFile(backup);
    return true;
}

void MoveOrCopyFile(const std::string& source, const std::string& target)
{
    if (RenameReplacing(source, target))
        return;
    bool copied = false;
    {
        THugeFileStream in(source, platform::fmOpenRead | platform::fmShareDenyWrite);
        THugeFileStream out(target, platform::fmCreate);
        try {
            out.CopyFrom(in, 0);
            copied = true;
        } catch (const EStreamError&) {
            // reported below, once both files are closed
        }
    }
    if (!copied) {
        platform::DeleteFile(target);
        throw Exception("Error: Could not copy from " + source + " -> " + target);
    }
}

int64_t AllocationUnit(const std::string& path)
{
    int64_t freeBytes = 0;
    int64_t clusterSize = 0;
    if (!platform::DiskFreeSpace(path, freeBytes, clusterSize))
        RaiseLastOSError();
    return clusterSize;
}
