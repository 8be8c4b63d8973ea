#include "engine/ZipParts.h"

#include <algorithm>
#include <limits>

#include "engine/ZipExceptions.h"
#include "platform/Files.h"

namespace {

constexpr int BufferSize = 8192;

}  // namespace

TPartOutput::TPartOutput(const std::string& name, bool flushOnClose)
    : TPartOutput(name, std::numeric_limits<int64_t>::max(), nullptr, flushOnClose)
{
}

TPartOutput::TPartOutput(const std::string& name, int64_t capacity, TNextPart nextPart, bool flushOnClose)
    : out_(std::make_unique<TLFNFileStream>(name, BufferSize, flushOnClose, platform::fmCreate)),
      name_(name),
      capacity_(capacity),
      nextPart_(std::move(nextPart)),
      flushOnClose_(flushOnClose)
{
}

void TPartOutput::Write(const void* bytes, int64_t n)
{
    auto p = static_cast<const uint8_t*>(bytes);
    while (n > 0) {
        if (RoomLeft() <= 0)
            NextPart();
        const int64_t chunk = std::min(n, RoomLeft());
        if (out_->Write(p, chunk) != chunk)
            throw ENotEnoughRoom();
        p += chunk;
        n -= chunk;
    }
}

void TPartOutput::MakeRoom(int64_t n)
{
    if (n <= RoomLeft())
        return;
    NextPart();
    // What does not fit a whole part never will.
    if (n > RoomLeft())
        throw ENotEnoughRoom();
}

void TPartOutput::Flush()
{
    try {
        out_->Flush();
    } catch (const EWriteError&) {
        throw ENotEnoughRoom();
    }
}

void TPartOutput::Close()
{
    if (!out_)
        return;
    Flush();
    out_.reset();
}

void TPartOutput::NextPart()
{
    if (!nextPart_)
        throw ENotEnoughRoom();
    Close();
    finished_.push_back(name_);
    name_.clear();  // no file of this run's to remove until the next one is made
    auto [name, capacity] = nextPart_(part_ + 1, finished_.back());
    ++part_;
    capacity_ = capacity;
    out_ = std::make_unique<TLFNFileStream>(name, BufferSize, flushOnClose_, platform::fmCreate);
    name_ = std::move(name);
}
