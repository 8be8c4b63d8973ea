// Streams with 64-bit positions: the base THugeStream, a stream over a file
// handle, a file stream, and two memory streams. All archive input and output
// goes through this family.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Files.h"

class THugeStream {
public:
    // Seek origins.
    static constexpr int soBeginning = 0;
    static constexpr int soCurrent = 1;
    static constexpr int soEnd = 2;

    virtual ~THugeStream() = default;

    // Makes the stream this long; the base does nothing.
    virtual void SetSize(int64_t newSize);
    // Byte counts read or written; a short count is not an error here.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Returns the new position.
    virtual int64_t Seek(int64_t offset, int origin) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t p) { Seek(p, soBeginning); }
    // The end position; the current position is kept. The base seeks to the
    // end and back.
    virtual int64_t Size();

    // Read and Write that raise EReadError / EWriteError on a short count.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source's position; count 0 copies the whole
    // source from its start. Returns the bytes copied.
    int64_t CopyFrom(THugeStream& source, int64_t count);
};

// A stream over an operating-system file handle it does not open.
class THugeHandleStream : public THugeStream {
public:
    explicit THugeHandleStream(platform::Handle handle) : handle_(handle) {}

    // Seeks to newSize and cuts or extends the file there; the position stays
    // at newSize. Raises EOSError when the system refuses.
    void SetSize(int64_t newSize) override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    // Asks the system for the file's size: one call instead of three seeks.
    int64_t Size() override;

    platform::Handle Handle() const { return handle_; }

protected:
    platform::Handle handle_;
};

// A file opened by name; closed when the stream is freed.
class THugeFileStream : public THugeHandleStream {
public:
    // mode platform::fmCreate creates or truncates the file (EFCreateError
    // "Cannot create file <name>" on failure); any other mode opens it with
    // that access (EFOpenError "Cannot open file <name>").
    THugeFileStream(const std::string& fileName, unsigned mode);
    // Takes over an open handle, closed when the stream is freed.
    explicit THugeFileStream(platform::Handle adopted) : THugeHandleStream(adopted) {}
    ~THugeFileStream() override;
    THugeFileStream(const THugeFileStream&) = delete;
    THugeFileStream& operator=(const THugeFileStream&) = delete;
};

// The volumes of a 7-Zip volume set (x.zip.001, x.zip.002, ...), plain byte
// cuts of one archive, read as the one file they were cut from.
class THugeVolumeStream : public THugeStream {
public:
    // Opens every volume in order for reading; EFOpenError when one cannot be.
    explicit THugeVolumeStream(const std::vector<std::string>& volumes);

    int64_t Read(void* buffer, int64_t count) override;
    // Writes nothing: a volume set is read only.
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int origin) override;

    // The volumes of the set whose first volume is name (ending in ".001"):
    // name, then each next number that exists. Empty for any other name.
    static std::vector<std::string> VolumesOf(const std::string& name);
    // Where volume (0-based) begins in the set; Start(VolumeCount()) is its size.
    int64_t Start(size_t volume) const { return starts_.at(volume); }
    size_t VolumeCount() const { return volumes_.size(); }

private:
    std::vector<std::unique_ptr<THugeFileStream>> volumes_;
    std::vector<int64_t> starts_;  // each volume's first position, then the total size
    int64_t position_ = 0;
};

// A read-only stream over a block of memory it does not own.
class THugeCustomMemoryStream : public THugeStream {
public:
    THugeCustomMemoryStream() = default;
    THugeCustomMemoryStream(const void* memory, int64_t size) { SetPointer(memory, size); }

    int64_t Read(void* buffer, int64_t count) override;
    // Writes nothing.
    int64_t Write(const void* buffer, int64_t count) override;
    // No bounds check: a position past the end reads nothing.
    int64_t Seek(int64_t offset, int origin) override;

    const uint8_t* Memory() const { return memory_; }

protected:
    void SetPointer(const void* memory, int64_t size);

    const uint8_t* memory_ = nullptr;
    int64_t size_ = 0;
    int64_t position_ = 0;
};

// A growable memory stream that owns its block; capacity grows in steps of 8 192.
class THugeMemoryStream : public THugeCustomMemoryStream {
public:
    static constexpr int64_t CapacityStep = 8192;

    void SetSize(int64_t newSize) override;
    int64_t Write(const void* buffer, int64_t count) override;

    int64_t Capacity() const { return int64_t(block_.size()); }
    // A copy of the stream's content.
    std::vector<uint8_t> Bytes() const { return {block_.begin(), block_.begin() + size_}; }

private:
    void SetCapacity(int64_t newCapacity);

    std::vector<uint8_t> block_;
};
