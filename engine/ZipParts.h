// TPartOutput: where a run writes its archive. One file, or the parts of a
// multi-part archive as one output that goes on in the next part when the
// current one is full: entry data runs across parts, while a header goes
// whole into one part (MakeRoom first). Which file comes next, and how
// large it may grow, is the caller's to say.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/BufferStream.h"

class TPartOutput {
public:
    // The file and capacity of part (0-based, from 1), given the name of the
    // part before it; raises to end the run (a disk that was not given).
    using TNextPart = std::function<std::pair<std::string, int64_t>(int part, const std::string& previous)>;

    // One file, without parts.
    TPartOutput(const std::string& name, bool flushOnClose);
    // The first part, of capacity bytes; nextPart gives the others.
    TPartOutput(const std::string& name, int64_t capacity, TNextPart nextPart, bool flushOnClose);

    // The file being written. For one file, also where a header is
    // rewritten in place once the sizes of its entry are known.
    TLFNFileStream& Stream() { return *out_; }
    // The part being written (0-based) and its name.
    int Part() const { return part_; }
    const std::string& Name() const { return name_; }
    // The parts before it, closed.
    const std::vector<std::string>& Finished() const { return finished_; }
    bool HasParts() const { return bool(nextPart_); }

    // Writes n bytes, in the next parts where this one is full; a part is
    // closed only when more bytes come. ENotEnoughRoom when the disk is full.
    void Write(const void* bytes, int64_t n);
    // Moves to the next part unless n more bytes fit into this one; raises
    // ENotEnoughRoom when they would not fit a new part either.
    void MakeRoom(int64_t n);
    // Flushes the file; ENotEnoughRoom when the disk is full.
    void Flush();
    // Flushes and closes the part being written.
    void Close();

private:
    int64_t RoomLeft() const { return capacity_ - out_->Position(); }
    void NextPart();

    std::unique_ptr<TLFNFileStream> out_;
    std::string name_;
    int part_ = 0;
    int64_t capacity_;
    TNextPart nextPart_;
    bool flushOnClose_;
    std::vector<std::string> finished_;
};
