// File-system services of the platform layer: files by handle, find first/next,
// attributes, DOS date-times, folders, temporary names and free space.
// Paths are UTF-8 with '/' as the folder separator.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// ---- Files by handle ------------------------------------------------------

using Handle = int;
constexpr Handle InvalidHandle = -1;

// Open modes: the low two bits give the access, the sharing bits are accepted
// and ignored (Linux has no mandatory sharing modes).
constexpr unsigned fmOpenRead = 0x0000;
constexpr unsigned fmOpenWrite = 0x0001;
constexpr unsigned fmOpenReadWrite = 0x0002;
constexpr unsigned fmShareDenyWrite = 0x0020;
constexpr unsigned fmShareDenyNone = 0x0040;
constexpr unsigned fmCreate = 0xFFFF;  // create or truncate, read and write

// Opens an existing regular file without waiting on it (a named pipe or a
// device is refused with ENXIO, a folder with EISDIR); InvalidHandle on
// failure (errno tells why).
Handle FileOpen(const std::string& name, unsigned mode);
// Creates or truncates a file for reading and writing; InvalidHandle on failure.
Handle FileCreate(const std::string& name);
// Byte counts read or written, -1 on failure.
int64_t FileRead(Handle h, void* buffer, int64_t count);
// Reads at offset without moving the position, so that threads can share h.
int64_t FileReadAt(Handle h, void* buffer, int64_t count, int64_t offset);
int64_t FileWrite(Handle h, const void* buffer, int64_t count);
// origin 0 = from the beginning, 1 = from the current position, 2 = from the end.
// Returns the new position, -1 on failure.
int64_t FileSeek(Handle h, int64_t offset, int origin);
// The size of an open regular file, -1 for anything else or on failure.
int64_t FileSize(Handle h);
// Cuts or extends the file at the current position.
bool FileTruncate(Handle h);
// Flushes the file's buffers to disk.
bool FileFlush(Handle h);
void FileClose(Handle h);

// A regular file (after following links); false for folders, pipes and devices.
bool FileExists(const std::string& name);
bool DeleteFile(const std::string& name);
bool RenameFile(const std::string& from, const std::string& to);
// Like RenameFile, but fails rather than replace an existing file.
bool RenameFileNoReplace(const std::string& from, const std::string& to);

// ---- Attributes -----------------------------------------------------------

constexpr int faReadOnly = 0x01;
constexpr int faHidden = 0x02;
constexpr int faSysFile = 0x04;
constexpr int faVolumeID = 0x08;
constexpr int faDirectory = 0x10;
constexpr int faArchive = 0x20;
constexpr int faAnyFile = 0x3F;

// Read-only when the owner may not write, hidden when the name begins with '.',
// folder for a directory, archive always; -1 when the path does not exist.
int FileGetAttr(const std::string& name);
// Applies the read-only bit to the owner's write permission; the other bits
// cannot be changed and are ignored.
bool FileSetAttr(const std::string& name, int attr);

// The file's type and permission bits (st_mode); -1 when it does not exist.
int FileGetMode(const std::string& name);
// Gives to the owner, group and permission bits of from, as far as this
// process may set them (the group alone when the owner cannot change);
// nothing when to is a link.
void FileCopyOwnerAndMode(const std::string& from, const std::string& to);

// Through an open file or folder, never by name: whatever is renamed or
// linked at its name meanwhile, only the file that was opened changes.
bool FileSetTime(Handle h, std::time_t t);
bool FileSetDosTime(Handle h, uint32_t dos);
// Sets the permission bits (07777 masked to 0777: never set-user-id,
// set-group-id or sticky).
bool FileSetPermissions(Handle h, unsigned mode);
// Takes away every write permission.
bool FileSetReadOnly(Handle h);
// Called, when set, with the handle just before FileSetPermissions or
// FileSetReadOnly changes a mode: a test swaps the file's name for a link
// at that moment.
extern void (*BeforeModeChange)(Handle h);

// ---- Times ----------------------------------------------------------------

// Packed DOS date-time: date in the high 16 bits, time in the low 16 bits, local time.
uint32_t DateTimeToDosDateTime(std::time_t t);
// False when the packed fields do not form a date and time.
bool DosDateTimeToDateTime(uint32_t dos, std::time_t& t);
// The file's last-write time as a packed DOS date-time; false when it cannot be read.
bool FileGetDosTime(const std::string& name, uint32_t& dos);
// Sets the file's access and modification times.
bool FileSetDosTime(const std::string& name, uint32_t dos);
// The file's last-write time in seconds since 1970; false when it cannot be read.
bool FileGetTime(const std::string& name, std::time_t& t);

// What tells one state of a file from another: its modification time to the
// nanosecond, size and identity. A file rewritten within the same second, or
// replaced by another file, has a different stamp.
struct FileStamp {
    int64_t ModifiedNs = 0;
    int64_t Size = -1;
    uint64_t Device = 0;
    uint64_t Inode = 0;
    bool operator==(const FileStamp&) const = default;
};
// False when the file cannot be found.
bool GetFileStamp(const std::string& name, FileStamp& stamp);

// ---- Find first / next ----------------------------------------------------

struct FindRecord {
    std::string Name;
    int Attr = 0;
    int64_t Size = 0;
    uint32_t Time = 0;  // packed DOS date-time of the last write
};

// A find over one folder. Delivers "." and ".." first, then the folder's
// entries sorted by name (ASCII letters folded, ties by bytes). An entry is
// reported only when each of its read-only, hidden, system and folder
// attributes is in the mask. Links to files count as those files; links to
// folders and dangling links are left out, so a walk never follows a link
// into another folder; so are pipes, sockets and devices.
class FindHandle {
public:
    // False when the folder cannot be read; nothing is held then. The
    // folder is read whole here; onEntry, when given, is called for every
    // name read, so that a caller can let messages through (and stop by
    // throwing) while a large folder is read.
    bool First(const std::string& folder, int mask, FindRecord& rec, const std::function<void()>& onEntry = {});
    bool Next(FindRecord& rec);
    void Close();

private:
    std::vector<FindRecord> entries_;
    size_t next_ = 0;
};

// ---- Folders, temporary files, free space -----------------------------------

bool DirectoryExists(const std::string& name);
// Creates the folder and any missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& name);
std::string GetCurrentDir();
bool RemoveDir(const std::string& name);

// TMPDIR, else /tmp, with a trailing '/'.
std::string TempDirectory();
// Creates a new empty file with a unique name beginning with prefix in folder
// and returns its full name; empty on failure.
std::string MakeTempFileName(const std::string& folder, const std::string& prefix = "ZBK");

// Free bytes for an ordinary user and the allocation unit of the file system
// holding path (a file or folder; for a path that does not exist yet, its
// nearest existing parent). False when the query fails.
bool DiskFreeSpace(const std::string& path, int64_t& freeBytes, int64_t& clusterSize);
// Whether this process may create files in the folder.
bool FolderWritable(const std::string& folder);

// ---- The process ------------------------------------------------------------

// Passwords and keys live in memory while a run needs them: no core file
// of the process is ever written.
void KeepSecretsOutOfCoreDumps();

// ---- Writing below a folder without following links ------------------------

// What a name in a folder is: the name itself, not what a link there points at.
enum class EntryType { None, File, Folder, Link, Other };

// A folder held open by handle for writing below it. Every name is taken
// relative to the handle and never through a link, so no name read from an
// archive can lead a write out of the folder, whatever links lie in it.
class SafeFolder {
public:
    // Opens root (the caller's choice: links on its path are followed), then
    // each '/'-separated component of relative without following a link,
    // making missing folders when create is set. Empty and "." components are
    // passed over; ".." is refused. Not open when a component is a link, no
    // folder, or cannot be made (errno tells why). The folders it makes are
    // added to made, when given, as paths below root, parents first.
    SafeFolder(const std::string& root, const std::string& relative, bool create,
               std::vector<std::string>* made = nullptr);
    ~SafeFolder();
    SafeFolder(const SafeFolder&) = delete;
    SafeFolder& operator=(const SafeFolder&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // The folder itself, for FileSetTime and the like.
    Handle Descriptor() const { return fd_; }

    EntryType TypeOf(const std::string& name) const;
    // The last-write time of name itself as a packed DOS date-time.
    bool GetDosTime(const std::string& name, uint32_t& dos) const;
    // A regular file this process may write to.
    bool Writable(const std::string& name) const;

    // Creates name as a new empty file, open for reading and writing; fails
    // when anything, a dangling link too, is there. InvalidHandle on failure.
    Handle Create(const std::string& name) const;
    // Creates a new empty file with a unique name beginning with prefix, open
    // for reading and writing; its name goes to name. InvalidHandle on failure.
    Handle CreateTemp(std::string& name, const std::string& prefix) const;
    // Renames within the folder, replacing whatever is at to: a link there is
    // replaced itself, never written through.
    bool Rename(const std::string& from, const std::string& to) const;
    bool Remove(const std::string& name) const;
    // Removes the folder name when it is empty.
    bool RemoveEmptyFolder(const std::string& name) const;
    // The target of the link at name; false when name is no link.
    bool LinkTarget(const std::string& name, std::string& target) const;
    // Makes name a symbolic link to target, replacing what is there.
    bool MakeLink(const std::string& name, const std::string& target) const;

private:
    int fd_ = -1;
};

}  // namespace platform
