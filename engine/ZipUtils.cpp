#include "engine/ZipUtils.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "engine/ZipObj.h"
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
