#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/Exceptions.h"

namespace fs = std::filesystem;

std::string ErrorText(int code)
{
    char buffer[256];
    // The GNU strerror_r returns the message, in buffer or in static text.
    return ::strerror_r(code, buffer, sizeof buffer);
}

void RaiseLastOSError()
{
    int code = errno;
    throw EOSError(code, ErrorText(code));
}

namespace platform {

// ---- Files by handle ------------------------------------------------------

Handle FileOpen(const std::string& name, unsigned mode)
{
    int access;
    switch (mode & 3) {
    case fmOpenWrite: access = O_WRONLY; break;
    case fmOpenReadWrite: access = O_RDWR; break;
    default: access = O_RDONLY; break;
    }
    // O_NONBLOCK: opening a named pipe must not wait for a writer.
    int fd = ::open(name.c_str(), access | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return InvalidHandle;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int code = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
        ::close(fd);
        errno = code;
        return InvalidHandle;
    }
    // O_NONBLOCK stays: it has no effect on a regular file.
    return fd;
}

Handle FileCreate(const std::string& name)
{
    int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? InvalidHandle : fd;
}

// Repeats a read or write until count bytes are done, the file ends, or an
// error comes; -1 only when nothing was done.
template <class Byte, class Call>
static int64_t Transfer(Byte* p, int64_t count, Call call)
{
    int64_t done = 0;
    while (done < count) {
        ssize_t n = call(p + done, size_t(count - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return done > 0 ? done : -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

int64_t FileRead(Handle h, void* buffer, int64_t count)
{
    return Transfer(static_cast<char*>(buffer), count, [h](char* p, size_t n) { return ::read(h, p, n); });
}

int64_t FileReadAt(Handle h, void* buffer, int64_t count, int64_t offset)
{
    const char* start = static_cast<char*>(buffer);
    return Transfer(static_cast<char*>(buffer), count,
                    [h, start, offset](char* p, size_t n) { return ::pread(h, p, n, offset + (p - start)); });
}

int64_t FileWrite(Handle h, const void* buffer, int64_t count)
{
    return Transfer(static_cast<const char*>(buffer), count,
                    [h](const char* p, size_t n) { return ::write(h, p, n); });
}

int64_t FileSeek(Handle h, int64_t offset, int origin)
{
    static const int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (origin < 0 || origin > 2) {
        errno = EINVAL;
        return -1;
    }
    return ::lseek(h, off_t(offset), whence[origin]);
}

int64_t FileSize(Handle h)
{
    struct stat st {};
    if (::fstat(h, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return int64_t(st.st_size);
}

bool FileTruncate(Handle h)
{
    off_t pos = ::lseek(h, 0, SEEK_CUR);
    return pos >= 0 && ::ftruncate(h, pos) == 0;
}

bool FileFlush(Handle h)
{
    return ::fsync(h) == 0;
}

void FileClose(Handle h)
{
    if (h != InvalidHandle)
        ::close(h);
}

bool FileExists(const std::string& name)
{
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DeleteFile(const std::string& name)
{
    return ::unlink(name.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RenameFileNoReplace(const std::string& from, const std::string& to)
{
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

// ---- Attributes -----------------------------------------------------------

static std::string BaseName(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    auto slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

static int AttributesOf(const std::string& name, const struct stat& st)
{
    int attr = faArchive;
    if (!(st.st_mode & S_IWUSR))
        attr |= faReadOnly;
    if (S_ISDIR(st.st_mode))
        attr |= faDirectory;
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        attr |= faHidden;
    return attr;
}

int FileGetAttr(const std::string& name)
{
    struct stat st;
    if (::stat(name.c_str(), &st) != 0)
        return -1;
    return AttributesOf(BaseName(name), st);
}

bool FileSetAttr(const std::string& name, int attr)
{
    struct stat st;
    if (::stat(name.c_str(), &st) != 0)
        return false;
    mode_t mode = st.st_mode & 07777;
    mode = (attr & faReadOnly) ? mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
    return mode == (st.st_mode & 07777) || ::chmod(name.c_str(), mode) == 0;
}

int FileGetMode(const std::string& name)
{
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 ? int(st.st_mode) : -1;
}

void FileCopyOwnerAndMode(const std::string& from, const std::string& to)
{
    struct stat st;
    if (::stat(from.c_str(), &st) != 0)
        return;
    // On the file itself: a link put at its name meanwhile is not followed.
    const int fd = ::open(to.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    // Changing the owner may clear the mode's special bits: the mode comes last.
    if (::fchown(fd, st.st_uid, st.st_gid) != 0 && ::fchown(fd, uid_t(-1), st.st_gid) != 0) {
        // the new file stays the user's own
    }
    FileSetPermissions(fd, st.st_mode);
    ::close(fd);
}

void (*BeforeModeChange)(Handle h) = nullptr;

bool FileSetPermissions(Handle h, unsigned mode)
{
    if (BeforeModeChange)
        BeforeModeChange(h);
    return ::fchmod(h, mode_t(mode & 0777)) == 0;
}

bool FileSetReadOnly(Handle h)
{
    struct stat st;
    if (::fstat(h, &st) != 0)
        return false;
    if (BeforeModeChange)
        BeforeModeChange(h);
    return ::fchmod(h, st.st_mode & 07777 & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// ---- Times ----------------------------------------------------------------

uint32_t DateTimeToDosDateTime(std::time_t t)
{
    struct tm tm;
    if (!localtime_r(&t, &tm) || tm.tm_year < 80)
        return (1u << 21) | (1u << 16);  // the earliest DOS time, 1980-01-01 00:00:00
    if (tm.tm_year > 80 + 127)
        return 127u << 25 | 12u << 21 | 31u << 16 | 23u << 11 | 59u << 5 | 29u;  // the latest, 2107-12-31 23:59:58
    uint32_t date = uint32_t((tm.tm_year - 80) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
    uint32_t time = uint32_t(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
    return date << 16 | time;
}

bool DosDateTimeToDateTime(uint32_t dos, std::time_t& t)
{
    struct tm tm {};
    tm.tm_year = int((dos >> 25) & 0x7F) + 80;
    tm.tm_mon = int((dos >> 21) & 0x0F) - 1;
    tm.tm_mday = int((dos >> 16) & 0x1F);
    tm.tm_hour = int((dos >> 11) & 0x1F);
    tm.tm_min = int((dos >> 5) & 0x3F);
    tm.tm_sec = int(dos & 0x1F) * 2;
    if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59)
        return false;
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int year = tm.tm_year + 1900;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (tm.tm_mday > days[tm.tm_mon] || (tm.tm_mon == 1 && tm.tm_mday == 29 && !leap))
        return false;
    // The fields are local time. mktime would do, but glibc looks at the time
    // zone file on every call; the zone's offset from localtime_r costs none.
    const std::time_t asUtc = timegm(&tm);
    struct tm local;
    if (asUtc == std::time_t(-1) || !localtime_r(&asUtc, &local))
        return false;
    t = asUtc - local.tm_gmtoff;
    // Once more from the first guess, for times near a change of the offset.
    if (!localtime_r(&t, &local))
        return false;
    t = asUtc - local.tm_gmtoff;
    return true;
}

bool FileGetDosTime(const std::string& name, uint32_t& dos)
{
    struct stat st;
    if (::stat(name.c_str(), &st) != 0)
        return false;
    dos = DateTimeToDosDateTime(st.st_mtime);
    return true;
}

bool FileSetDosTime(const std::string& name, uint32_t dos)
{
    std::time_t t;
    if (!DosDateTimeToDateTime(dos, t))
        return false;
    struct timespec times[2] = {{t, 0}, {t, 0}};
    return ::utimensat(AT_FDCWD, name.c_str(), times, 0) == 0;
}

bool FileSetTime(Handle h, std::time_t t)
{
    struct timespec times[2] = {{t, 0}, {t, 0}};
    return ::futimens(h, times) == 0;
}

bool FileSetDosTime(Handle h, uint32_t dos)
{
    std::time_t t;
    return DosDateTimeToDateTime(dos, t) && FileSetTime(h, t);
}

bool FileGetTime(const std::string& name, std::time_t& t)
{
    struct stat st;
    if (::stat(name.c_str(), &st) != 0)
        return false;
    t = st.st_mtime;
    return true;
}

bool GetFileStamp(const std::string& name, FileStamp& stamp)
{
    struct stat st;
    if (::stat(name.c_str(), &st) != 0)
        return false;
    stamp = {int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, int64_t(st.st_size), uint64_t(st.st_dev),
             uint64_t(st.st_ino)};
    return true;
}

// ---- Find first / next ----------------------------------------------------

// ASCII letters folded, ties by bytes, so walks are reproducible.
static bool NameLess(const FindRecord& a, const FindRecord& b)
{
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    const auto& x = a.Name;
    const auto& y = b.Name;
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
        int cx = fold(x[i]), cy = fold(y[i]);
        if (cx != cy)
            return cx < cy;
    }
    if (x.size() != y.size())
        return x.size() < y.size();
    return x < y;
}

bool FindHandle::First(const std::string& folder, int mask, FindRecord& rec, const std::function<void()>& onEntry)
{
    Close();
    std::string dir = folder.empty() ? "." : folder;
    if (dir.back() != '/')
        dir += '/';
    const std::unique_ptr<DIR, int (*)(DIR*)> open(::opendir(dir.c_str()), ::closedir);
    DIR* d = open.get();
    if (!d)
        return false;
    // An entry is reported when each of its filtering attributes is in the mask.
    const int filtering = faReadOnly | faHidden | faSysFile | faDirectory;
    auto wanted = [&](int attr) { return (attr & filtering & ~mask) == 0; };
    std::vector<FindRecord> found;
    while (dirent* e = ::readdir(d)) {
        if (onEntry)
            onEntry();
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st;
        if (::stat((dir + name).c_str(), &st) != 0)
            continue;  // dangling link, or gone meanwhile
        struct stat lst;
        if (S_ISDIR(st.st_mode) && ::lstat((dir + name).c_str(), &lst) == 0 && S_ISLNK(lst.st_mode))
            continue;  // never follow a link into another folder
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
            continue;  // pipes, sockets and devices are no files to read: opening a pipe waits forever
        FindRecord r{name, AttributesOf(name, st), S_ISDIR(st.st_mode) ? 0 : int64_t(st.st_size),
                     DateTimeToDosDateTime(st.st_mtime)};
        if (wanted(r.Attr))
            found.push_back(std::move(r));
    }
    struct stat self;
    bool selfOk = ::fstat(::dirfd(d), &self) == 0;
    std::sort(found.begin(), found.end(), NameLess);
    if (wanted(faDirectory)) {
        uint32_t time = selfOk ? DateTimeToDosDateTime(self.st_mtime) : 0;
        entries_.push_back({".", faDirectory | faArchive, 0, time});
        entries_.push_back({"..", faDirectory | faArchive, 0, time});
    }
    entries_.insert(entries_.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    return Next(rec);
}

bool FindHandle::Next(FindRecord& rec)
{
    if (next_ >= entries_.size())
        return false;
    rec = entries_[next_++];
    return true;
}

void FindHandle::Close()
{
    entries_.clear();
    next_ = 0;
}

// ---- Folders, temporary files, free space -----------------------------------

bool DirectoryExists(const std::string& name)
{
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& name)
{
    if (name.empty())
        return false;
    std::error_code ec;
    fs::create_directories(name, ec);
    return DirectoryExists(name);
}

std::string GetCurrentDir()
{
    std::error_code ec;
    return fs::current_path(ec).string();
}

bool RemoveDir(const std::string& name)
{
    return ::rmdir(name.c_str()) == 0;
}

std::string TempDirectory()
{
    const char* env = std::getenv("TMPDIR");
    std::string dir = env && *env && DirectoryExists(env) ? env : "/tmp";
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

std::string MakeTempFileName(const std::string& folder, const std::string& prefix)
{
    std::string dir = folder.empty() ? TempDirectory() : folder;
    if (dir.back() != '/')
        dir += '/';
    std::string name = dir + prefix + "XXXXXX";
    int fd = ::mkstemp(name.data());
    if (fd < 0)
        return {};
    ::close(fd);
    return name;
}

// The path itself when it exists, else its nearest existing parent folder.
static std::string ExistingAncestor(const std::string& path)
{
    fs::path p = fs::absolute(fs::path(path.empty() ? "." : path));
    std::error_code ec;
    while (!fs::exists(p, ec) && p.has_relative_path())
        p = p.parent_path();
    return p.string();
}

bool DiskFreeSpace(const std::string& path, int64_t& freeBytes, int64_t& clusterSize)
{
    struct statvfs sv;
    if (::statvfs(ExistingAncestor(path).c_str(), &sv) != 0)
        return false;
    freeBytes = int64_t(sv.f_bavail) * int64_t(sv.f_frsize);
    clusterSize = int64_t(sv.f_frsize);
    return true;
}

bool FolderWritable(const std::string& folder)
{
    return ::access((folder.empty() ? "." : folder).c_str(), W_OK | X_OK) == 0;
}

void KeepSecretsOutOfCoreDumps()
{
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

// ---- Writing below a folder without following links ------------------------

// prefix and eight random letters and digits: a name for a new file that
// another run writing into the same folder will not pick as well.
static std::string RandomName(const std::string& prefix)
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof letters - 2);
    std::string name = prefix;
    for (int i = 0; i < 8; ++i)
        name += letters[pick(random)];
    return name;
}

SafeFolder::SafeFolder(const std::string& root, const std::string& relative, bool create,
                       std::vector<std::string>* made)
{
    fd_ = ::open(root.empty() ? "." : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    size_t start = 0;
    while (fd_ >= 0 && start < relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos)
            end = relative.size();
        const std::string part = relative.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        int next = -1;
        if (part == "..") {
            errno = EACCES;
        } else {
            next = ::openat(fd_, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0 && errno == ENOENT && create && ::mkdirat(fd_, part.c_str(), 0777) == 0) {
                if (made)
                    made->push_back(relative.substr(0, end));
                next = ::openat(fd_, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            }
        }
        const int code = errno;
        ::close(fd_);
        fd_ = next;
        errno = code;
    }
}

SafeFolder::~SafeFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

EntryType SafeFolder::TypeOf(const std::string& name) const
{
    struct stat st;
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return EntryType::None;
    if (S_ISREG(st.st_mode))
        return EntryType::File;
    if (S_ISDIR(st.st_mode))
        return EntryType::Folder;
    return S_ISLNK(st.st_mode) ? EntryType::Link : EntryType::Other;
}

bool SafeFolder::GetDosTime(const std::string& name, uint32_t& dos) const
{
    struct stat st;
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    dos = DateTimeToDosDateTime(st.st_mtime);
    return true;
}

bool SafeFolder::Writable(const std::string& name) const
{
    return TypeOf(name) == EntryType::File && ::faccessat(fd_, name.c_str(), W_OK, AT_EACCESS) == 0;
}

Handle SafeFolder::Create(const std::string& name) const
{
    const int fd = ::openat(fd_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return fd < 0 ? InvalidHandle : fd;
}

Handle SafeFolder::CreateTemp(std::string& name, const std::string& prefix) const
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = RandomName(prefix);
        const Handle fd = Create(candidate);
        if (fd != InvalidHandle) {
            name = candidate;
            return fd;
        }
        if (errno != EEXIST)
            return InvalidHandle;
    }
    return InvalidHandle;
}

bool SafeFolder::Rename(const std::string& from, const std::string& to) const
{
    return ::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0;
}

bool SafeFolder::Remove(const std::string& name) const
{
    return ::unlinkat(fd_, name.c_str(), 0) == 0;
}

bool SafeFolder::RemoveEmptyFolder(const std::string& name) const
{
    return ::unlinkat(fd_, name.c_str(), AT_REMOVEDIR) == 0;
}

bool SafeFolder::LinkTarget(const std::string& name, std::string& target) const
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlinkat(fd_, name.c_str(), buffer, sizeof buffer);
    if (n < 0 || size_t(n) == sizeof buffer)
        return false;
    target.assign(buffer, size_t(n));
    return true;
}

bool SafeFolder::MakeLink(const std::string& name, const std::string& target) const
{
    // A new link beside the old name, renamed over it: what stood there is
    // replaced in one step, and nothing is written through it.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = RandomName(".ZBK");
        if (::symlinkat(target.c_str(), fd_, temp.c_str()) == 0) {
            if (Rename(temp, name))
                return true;
            Remove(temp);
            return false;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

}  // namespace platform
