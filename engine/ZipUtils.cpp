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

void MoveOrCopyFile(const std::string& source, const std::string& target)
{
    std::error_code ec;
    if (std::filesystem::equivalent(source, target, ec))
        return;  // already in place
    if (platform::SameFileSystem(source, target) && platform::RenameFile(source, target))
        return;
    const size_t slash = target.rfind('/');
    bool copied = false;
    std::string beside;
    {
        THugeFileStream in(source, platform::fmOpenRead | platform::fmShareDenyWrite);
        beside = platform::MakeTempFileName(slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1));
        if (!beside.empty()) {
            THugeFileStream out(beside, platform::fmOpenWrite);
            try {
                out.CopyFrom(in, 0);
                copied = platform::FileFlush(out.Handle());
            } catch (const EStreamError&) {
                // reported below, once both files are closed
            }
        }
    }
    if (!copied || !platform::RenameFile(beside, target)) {
        if (!beside.empty())
            platform::DeleteFile(beside);
        throw Exception("Error: Could not copy from " + source + " -> " + target);
    }
    platform::DeleteFile(source);
}

std::string ContainedFolder(const std::string& folder)
{
    std::string safe;
    for (size_t start = 0; start < folder.size();) {
        size_t end = folder.find('/', start);
        if (end == std::string::npos)
            end = folder.size();
        const std::string part = folder.substr(start, end - start);
        if (!part.empty() && part != "." && part != "..")
            safe += part + '/';
        start = end + 1;
    }
    return safe;
}

int64_t AllocationUnit(const std::string& path)
{
    int64_t freeBytes = 0;
    int64_t clusterSize = 0;
    if (!platform::DiskFreeSpace(path, freeBytes, clusterSize))
        RaiseLastOSError();
    return clusterSize;
}
