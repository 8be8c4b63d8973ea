#include "engine/BufferStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Exceptions.h"

TS_BufferStream::TS_BufferStream(THugeStream* stream, int bufferSize, bool flushOnClose)
    : stream_(stream), buffer_(size_t(std::max(bufferSize, 1))), flushOnClose_(flushOnClose)
{
    if (stream_)
        streamPos_ = stream_->Position();
}

TS_BufferStream::~TS_BufferStream()
{
    Close();
}

void TS_BufferStream::Close()
{
    if (closed_)
        return;
    closed_ = true;
    if (!stream_)
        return;
    if (state_ == State::Writing)
        FlushBuffer();
    if (flushOnClose_ && written_)
        if (auto* file = dynamic_cast<THugeHandleStream*>(stream_))
            platform::FileFlush(file->Handle());
}

int64_t TS_BufferStream::LogicalPosition() const
{
    switch (state_) {
    case State::Reading: return streamPos_ - int64_t(end_ - current_);
    case State::Writing: return streamPos_ + int64_t(current_);
    default: return streamPos_;
    }
}

void TS_BufferStream::SeekStream(int64_t position)
{
    const int64_t reached = stream_->Seek(position, soBeginning);
    // A failed seek must not leave reads to go on from wherever the file stood.
    if (reached != position)
        throw EStreamError("Seek error");
    streamPos_ = reached;
}

bool TS_BufferStream::FillBuffer()
{
    int64_t n = std::max<int64_t>(stream_->Read(buffer_.data(), int64_t(buffer_.size())), 0);
    streamPos_ += n;
    current_ = 0;
    end_ = size_t(n);
    state_ = end_ > 0 ? State::Reading : State::Idle;
    return end_ > 0;
}

bool TS_BufferStream::FlushBuffer()
{
    int64_t pending = int64_t(current_);
    int64_t n = pending > 0 ? std::max<int64_t>(stream_->Write(buffer_.data(), pending), 0) : 0;
    streamPos_ += n;
    current_ = 0;
    end_ = 0;
    state_ = State::Idle;
    return n == pending;
}

void TS_BufferStream::Flush()
{
    if (state_ == State::Writing && !FlushBuffer())
        throw EWriteError("Stream write error");
}

int64_t TS_BufferStream::Read(void* buffer, int64_t count)
{
    if (state_ == State::Writing)
        FlushBuffer();
    if (state_ != State::Reading)
        current_ = end_ = 0;
    auto out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (count > 0) {
        if (current_ >= end_) {
            // A request of a whole buffer or more goes straight to the stream:
            // copying it through the buffer would only cost time.
            if (count >= int64_t(buffer_.size())) {
                current_ = end_ = 0;
                state_ = State::Idle;
                const int64_t n = std::max<int64_t>(stream_->Read(out + done, count), 0);
                streamPos_ += n;
                done += n;
                break;
            }
            if (!FillBuffer())
                break;
        }
        size_t n = size_t(std::min<int64_t>(count, int64_t(end_ - current_)));
        std::memcpy(out + done, buffer_.data() + current_, n);
        current_ += n;
        done += int64_t(n);
        count -= int64_t(n);
    }
    return done;
}

int64_t TS_BufferStream::Write(const void* buffer, int64_t count)
{
    if (state_ == State::Reading)
        SeekStream(LogicalPosition());  // drops the read-ahead
    if (state_ != State::Writing)
        current_ = end_ = 0;
    auto in = static_cast<const uint8_t*>(buffer);
    int64_t taken = 0;
    while (count > 0) {
        if (current_ == 0 && count >= int64_t(buffer_.size())) {
            // Nothing pending and a whole buffer or more to write: write it directly.
            state_ = State::Idle;
            const int64_t n = std::max<int64_t>(stream_->Write(in + taken, count), 0);
            streamPos_ += n;
            taken += n;
            break;
        }
        size_t n = size_t(std::min<int64_t>(count, int64_t(buffer_.size() - current_)));
        std::memcpy(buffer_.data() + current_, in + taken, n);
        current_ += n;
        taken += int64_t(n);
        count -= int64_t(n);
        state_ = State::Writing;
        if (current_ == buffer_.size() && !FlushBuffer()) {
            // The buffer's bytes did not all reach the stream: report them as
            // not taken so that the caller sees a short write.
            taken = std::max<int64_t>(taken - int64_t(buffer_.size()), 0);
            break;
        }
    }
    state_ = current_ > 0 ? State::Writing : State::Idle;
    written_ = true;
    return taken;
}

int64_t TS_BufferStream::Seek(int64_t offset, int origin)
{
    int64_t logical = LogicalPosition();
    int64_t target;
    switch (origin) {
    case soBeginning: target = offset; break;
    case soCurrent: target = logical + offset; break;
    case soEnd: target = Size() - std::llabs(offset); break;
    default: throw Exception("Invalid seek origin (" + std::to_string(origin) + ")");
    }
    if (target == logical)
        return target;
    // A target inside the read-ahead only moves the pointer: the small seeks
    // of header reading then cost no system call.
    const int64_t bufferStart = streamPos_ - int64_t(end_);
    if (state_ == State::Reading && target >= bufferStart && target <= streamPos_) {
        current_ = size_t(target - bufferStart);
        return target;
    }
    if (state_ == State::Writing && !FlushBuffer())
        throw Exception("Seek error");
    SeekStream(target);
    current_ = end_ = 0;
    state_ = State::Idle;
    return target;
}

int64_t TS_BufferStream::Size()
{
    return std::max(stream_->Size(), LogicalPosition());
}

void TS_BufferStream::Putback(uint8_t b)
{
    if (state_ != State::Reading || current_ == 0)
        throw EStreamError("Putback overflow");
    buffer_[--current_] = b;
}

TLFNFileStream::TLFNFileStream(const std::string& fileName, int bufferSize, bool flushOnClose, unsigned mode)
    : TS_BufferStream(nullptr, bufferSize, flushOnClose && (mode & 3) != 0),
      file_(std::make_unique<THugeFileStream>(fileName, mode))
{
    stream_ = file_.get();
    streamPos_ = 0;
}

TLFNFileStream::TLFNFileStream(platform::Handle adopted, int bufferSize, bool flushOnClose)
    : TS_BufferStream(nullptr, bufferSize, flushOnClose), file_(std::make_unique<THugeFileStream>(adopted))
{
    stream_ = file_.get();
    streamPos_ = 0;
}

TLFNFileStream::TLFNFileStream(std::unique_ptr<THugeStream> stream, int bufferSize)
    : TS_BufferStream(nullptr, bufferSize), file_(std::move(stream))
{
    stream_ = file_.get();
    streamPos_ = 0;
}

TLFNFileStream::~TLFNFileStream()
{
    // Pending output must reach the file before the file is closed.
    Close();
}

void TLFNFileStream::SetSize(int64_t newSize)
{
    Flush();
    current_ = end_ = 0;
    state_ = State::Idle;
    file_->SetSize(newSize);
    streamPos_ = newSize;
}
