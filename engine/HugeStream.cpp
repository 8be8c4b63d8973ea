#include "engine/HugeStream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Exceptions.h"

// ---- THugeStream ----------------------------------------------------------

void THugeStream::SetSize(int64_t) {}

int64_t THugeStream::Size()
{
    int64_t pos = Seek(0, soCurrent);
    int64_t end = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return end;
}

void THugeStream::ReadBuffer(void* buffer, int64_t count)
{
    if (count > 0 && Read(buffer, count) != count)
        throw EReadError("Stream read error");
}

void THugeStream::WriteBuffer(const void* buffer, int64_t count)
{
    if (count > 0 && Write(buffer, count) != count)
        throw EWriteError("Stream write error");
}

int64_t THugeStream::CopyFrom(THugeStream& source, int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    constexpr int64_t MaxChunk = 61440;
    std::vector<uint8_t> chunk(size_t(std::min(count, MaxChunk)));
    int64_t left = count;
    while (left > 0) {
        int64_t n = std::min(left, MaxChunk);
        source.ReadBuffer(chunk.data(), n);
        WriteBuffer(chunk.data(), n);
        left -= n;
    }
    return count;
}

// ---- THugeHandleStream / THugeFileStream --------------------------------------

void THugeHandleStream::SetSize(int64_t newSize)
{
    if (Seek(newSize, soBeginning) != newSize || !platform::FileTruncate(handle_))
        RaiseLastOSError();
}

int64_t THugeHandleStream::Read(void* buffer, int64_t count)
{
    return std::max<int64_t>(platform::FileRead(handle_, buffer, count), 0);
}

int64_t THugeHandleStream::Write(const void* buffer, int64_t count)
{
    return std::max<int64_t>(platform::FileWrite(handle_, buffer, count), 0);
}

int64_t THugeHandleStream::Seek(int64_t offset, int origin)
{
    return platform::FileSeek(handle_, offset, origin);
}

int64_t THugeHandleStream::Size()
{
    const int64_t size = platform::FileSize(handle_);
    return size >= 0 ? size : THugeStream::Size();
}

THugeFileStream::THugeFileStream(const std::string& fileName, unsigned mode)
    : THugeHandleStream(mode == platform::fmCreate ? platform::FileCreate(fileName)
                                                   : platform::FileOpen(fileName, mode))
{
    if (handle_ == platform::InvalidHandle) {
        if (mode == platform::fmCreate)
            throw EFCreateError("Cannot create file " + fileName + ": " + ErrorText(errno));
        throw EFOpenError("Cannot open file " + fileName);
    }
}

THugeVolumeStream::THugeVolumeStream(const std::vector<std::string>& volumes)
{
    starts_.push_back(0);
    for (const std::string& name : volumes) {
        volumes_.push_back(std::make_unique<THugeFileStream>(name, platform::fmOpenRead));
        starts_.push_back(starts_.back() + volumes_.back()->Size());
    }
}

int64_t THugeVolumeStream::Read(void* buffer, int64_t count)
{
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count && position_ < starts_.back()) {
        // The volume holding the position: the last whose start is not after it.
        const size_t v = size_t(std::upper_bound(starts_.begin(), starts_.end(), position_) - starts_.begin()) - 1;
        THugeFileStream& volume = *volumes_[v];
        volume.SetPosition(position_ - starts_[v]);
        const int64_t n = volume.Read(out + done, std::min(count - done, starts_[v + 1] - position_));
        if (n <= 0)
            break;
        done += n;
        position_ += n;
    }
    return done;
}

int64_t THugeVolumeStream::Write(const void*, int64_t)
{
    return 0;
}

int64_t THugeVolumeStream::Seek(int64_t offset, int origin)
{
    const int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : starts_.back();
    if (offset < -base)
        return -1;
    position_ = base + offset;
    return position_;
}

std::vector<std::string> THugeVolumeStream::VolumesOf(const std::string& name)
{
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".001") != 0)
        return {};
    const std::string stem = name.substr(0, name.size() - 3);
    std::vector<std::string> volumes;
    for (int n = 1; n <= 999; ++n) {
        char number[8];
        std::snprintf(number, sizeof number, "%03d", n);
        if (!platform::FileExists(stem + number))
            break;
        volumes.push_back(stem + number);
    }
    return volumes;
}

THugeFileStream::~THugeFileStream()
{
    platform::FileClose(handle_);
}

// ---- Memory streams -------------------------------------------------------

void THugeCustomMemoryStream::SetPointer(const void* memory, int64_t size)
{
    memory_ = static_cast<const uint8_t*>(memory);
    size_ = size;
}

int64_t THugeCustomMemoryStream::Read(void* buffer, int64_t count)
{
    if (position_ < 0 || count <= 0 || position_ >= size_)
        return 0;
    int64_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, memory_ + position_, size_t(n));
    position_ += n;
    return n;
}

int64_t THugeCustomMemoryStream::Write(const void*, int64_t)
{
    return 0;
}

int64_t THugeCustomMemoryStream::Seek(int64_t offset, int origin)
{
    switch (origin) {
    case soBeginning: position_ = offset; break;
    case soCurrent: position_ += offset; break;
    case soEnd: position_ = size_ + offset; break;
    }
    return position_;
}

void THugeMemoryStream::SetCapacity(int64_t newCapacity)
{
    // Capacity grows in whole steps so that many small writes reallocate rarely.
    if (newCapacity > 0)
        newCapacity = (newCapacity + CapacityStep - 1) / CapacityStep * CapacityStep;
    if (newCapacity == Capacity())
        return;
    try {
        // The storage underneath doubles, so that a stream written in many
        // blocks is not copied again for each.
        if (size_t(std::max<int64_t>(newCapacity, 0)) > block_.capacity())
            block_.reserve(std::max(size_t(newCapacity), 2 * block_.capacity()));
        block_.resize(size_t(std::max<int64_t>(newCapacity, 0)));
        if (newCapacity == 0)
            block_.shrink_to_fit();
    } catch (const std::bad_alloc&) {
        throw EStreamError("Out of memory while expanding memory stream");
    }
    memory_ = block_.data();
}

void THugeMemoryStream::SetSize(int64_t newSize)
{
    SetCapacity(newSize);
    size_ = newSize;
    if (position_ > newSize)
        position_ = newSize;
}

int64_t THugeMemoryStream::Write(const void* buffer, int64_t count)
{
    if (position_ < 0 || count <= 0)
        return 0;
    int64_t end = position_ + count;
    if (end > Capacity())
        SetCapacity(end);
    std::memcpy(block_.data() + position_, buffer, size_t(count));
    size_ = std::max(size_, end);
    position_ = end;
    return count;
}
