// Buffered streams: TS_BufferStream buffers reads and writes of another
// stream; TLFNFileStream is a buffered file, the stream every archive is
// opened with.
#pragma once

#include <memory>
#include <vector>

#include "engine/HugeStream.h"

class TS_BufferStream : public THugeStream {
public:
    // The buffered stream is not owned. flushOnClose asks for the file's
    // buffers to be flushed to disk when this stream is freed after writes.
    TS_BufferStream(THugeStream* stream, int bufferSize, bool flushOnClose = false);
    ~TS_BufferStream() override;
    TS_BufferStream(const TS_BufferStream&) = delete;
    TS_BufferStream& operator=(const TS_BufferStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    // Origin 2 counts back from the end whatever the offset's sign; a seek to
    // the logical position keeps the buffer. Raises Exception "Invalid seek
    // origin (n)" for another origin and "Seek error" when pending output
    // cannot be written.
    int64_t Seek(int64_t offset, int origin) override;
    // The buffered stream's size, or further when pending output reaches
    // beyond it; nothing is written or moved.
    int64_t Size() override;

    // Refills the buffer from the stream; false when nothing came.
    virtual bool FillBuffer();
    // Writes the pending output; false when not every byte was written.
    virtual bool FlushBuffer();
    // Steps back over the byte last read and puts b there; raises
    // EStreamError "Putback overflow" when no byte of the buffer was read.
    virtual void Putback(uint8_t b);

    // Writes the pending output now; raises EWriteError "Stream write error"
    // when not every byte was written. Callers that must know their data
    // reached the file call this before freeing the stream.
    void Flush();

protected:
    enum class State { Idle, Reading, Writing };

    // Writes pending output and, when asked for, flushes the file to disk.
    // Called by the destructors while the stream still exists.
    void Close();
    int64_t LogicalPosition() const;
    // Moves the buffered stream and notes where it now stands.
    void SeekStream(int64_t position);

    THugeStream* stream_;
    // The buffered stream's position, kept here so that asking for the
    // position costs no call to the stream (no system call for a file).
    int64_t streamPos_ = 0;
    std::vector<uint8_t> buffer_;
    size_t current_ = 0;  // next byte to read or write
    size_t end_ = 0;      // end of the read-ahead
    State state_ = State::Idle;
    bool flushOnClose_;
    bool written_ = false;
    bool closed_ = false;
};

class TLFNFileStream : public TS_BufferStream {
public:
    // mode as for THugeFileStream. flushOnClose is honoured only when the mode
    // opens the file for writing.
    TLFNFileStream(const std::string& fileName, int bufferSize, bool flushOnClose, unsigned mode);
    // Over a file already open for reading and writing; the stream closes it.
    TLFNFileStream(platform::Handle adopted, int bufferSize, bool flushOnClose);
    // Over another stream, which it owns.
    TLFNFileStream(std::unique_ptr<THugeStream> stream, int bufferSize);
    ~TLFNFileStream() override;

    // Writes pending output, then sets the file's size; the position is then
    // at newSize.
    void SetSize(int64_t newSize) override;

private:
    std::unique_ptr<THugeStream> file_;
};
