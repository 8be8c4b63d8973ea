#include "engine/ZipMethods.h"

#include <lzma.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "engine/Bzip2Decoder.h"

namespace {

constexpr size_t OutputChunk = 32768;

// ---- Bits and bytes in ---------------------------------------------------------

// The compressed bytes one at a time, and bits least significant first.
// Past the end of the data every bit is 0: Ended() tells a decoder that
// what it reads now is padding.
class TBitInput {
public:
    explicit TBitInput(TMethodStreams& streams) : streams_(streams) {}

    // The next byte, or -1 at the end of the data.
    int NextByte()
    {
        if (left_ == 0 && !Refill())
            return -1;
        --left_;
        return *next_++;
    }
    // n bits (n <= 24).
    uint32_t Bits(int n)
    {
        int have;
        const uint32_t v = Peek(n, have);
        if (have < n) {
            ended_ = true;  // the bits missing are zero
            have = count_;
        } else {
            have = n;
        }
        Skip(have);
        return v;
    }
    bool Bit() { return Bits(1) != 0; }
    // Up to n bits (n <= 24) without taking them; have tells how many there
    // are (fewer only at the end of the data).
    uint32_t Peek(int n, int& have)
    {
        if (count_ < n)
            Fill();
        have = std::min(count_, n);
        return uint32_t(held_ & ((uint64_t(1) << have) - 1));
    }
    // Takes n bits that Peek showed.
    void Skip(int n)
    {
        held_ >>= n;
        count_ -= n;
    }
    // Whether bits past the end of the data were read.
    bool Ended() const { return ended_; }
    // The bits taken so far.
    uint64_t BitsTaken() const { return (delivered_ - left_) * 8 - uint64_t(count_); }
    // Drops the bits up to the next byte boundary.
    void Align()
    {
        held_ >>= count_ % 8;
        count_ -= count_ % 8;
    }
    // The rest of the current chunk of compressed bytes, or the next chunk;
    // for decoders that read whole bytes only.
    size_t Chunk(const uint8_t*& data)
    {
        if (left_ == 0 && !Refill())
            return 0;
        data = next_;
        const size_t n = left_;
        next_ += n;
        left_ = 0;
        return n;
    }
    // Takes the held whole bytes back for byte reading.
    int NextAlignedByte()
    {
        if (count_ >= 8) {
            const int b = int(held_ & 0xFF);
            held_ >>= 8;
            count_ -= 8;
            return b;
        }
        return NextByte();
    }

private:
    // Takes whole bytes into the held bits as far as they fit: eight bytes
    // at once where the chunk has them, so that a code seldom waits for one.
    void Fill()
    {
        if (left_ >= 8) {
            uint64_t word = 0;
            for (int i = 0; i < 8; ++i)
                word |= uint64_t(next_[i]) << (8 * i);
            const int bytes = (64 - count_) / 8;
            held_ |= word << count_;
            count_ += 8 * bytes;
            if (count_ < 64)
                held_ &= (uint64_t(1) << count_) - 1;  // no part of a byte not taken
            next_ += bytes;
            left_ -= size_t(bytes);
            return;
        }
        while (count_ <= 56) {
            const int b = NextByte();
            if (b < 0)
                break;
            held_ |= uint64_t(b) << count_;
            count_ += 8;
        }
    }
    bool Refill()
    {
        left_ = streams_.Refill(next_);
        delivered_ += left_;
        return left_ > 0;
    }

    TMethodStreams& streams_;
    const uint8_t* next_ = nullptr;
    size_t left_ = 0;
    uint64_t delivered_ = 0;  // bytes the streams gave
    uint64_t held_ = 0;
    int count_ = 0;
    bool ended_ = false;
};

// ---- Output --------------------------------------------------------------------

// Decoded bytes in a circular window of size bytes, handed on whenever it
// fills and at the end.
class TWindowOutput {
public:
    TWindowOutput(TMethodStreams& streams, size_t size) : streams_(streams), window_(size) {}

    void Put(uint8_t b)
    {
        window_[pos_++] = b;
        ++total_;
        if (pos_ == window_.size())
            Hand();
    }
    // Copies length bytes from distance back; false when the distance is
    // beyond the window, or before the first byte and strict. (Until the
    // window first fills its unwritten part is zero: a match that reaches
    // before the data gives zero bytes there.)
    bool Copy(size_t distance, size_t length, bool strict = false)
    {
        const size_t size = window_.size();
        if (distance == 0 || distance > size || (strict && distance > total_))
            return false;
        size_t from = pos_ >= distance ? pos_ - distance : pos_ + size - distance;
        while (length > 0) {
            // In pieces that end at the window's end. Overlapping ones go a
            // byte at a time, front to back, so that a short distance repeats.
            const size_t piece = std::min({length, size - from, size - pos_});
            uint8_t* dst = window_.data() + pos_;
            const uint8_t* src = window_.data() + from;
            if (from + piece <= pos_ || pos_ + piece <= from) {
                std::memcpy(dst, src, piece);
            } else {
                for (size_t i = 0; i < piece; ++i)
                    dst[i] = src[i];
            }
            pos_ += piece;
            total_ += piece;
            from = from + piece == size ? 0 : from + piece;
            length -= piece;
            if (pos_ == size)
                Hand();
        }
        return true;
    }
    void Finish()
    {
        if (pos_ > 0)
            streams_.Flush(window_.data(), pos_);
        pos_ = 0;
    }
    uint64_t Total() const { return total_; }

private:
    void Hand()
    {
        streams_.Flush(window_.data(), pos_);
        pos_ = 0;
    }

    TMethodStreams& streams_;
    std::vector<uint8_t> window_;
    size_t pos_ = 0;
    uint64_t total_ = 0;
};

// ---- Shrink (method 1) ---------------------------------------------------------

// Dynamic LZW with codes of 9 to 13 bits; code 256 then 1 widens the codes,
// 256 then 2 frees every code that no other code continues.
void Unshrink(TBitInput& in, TMethodStreams& streams)
{
    constexpr int Codes = 8192;
    std::vector<int16_t> prefix(Codes, -1);
    std::vector<uint8_t> suffix(Codes), stack(Codes);
    for (int c = 0; c < 256; ++c) {
        prefix[c] = 0;
        suffix[c] = uint8_t(c);
    }
    TWindowOutput out(streams, OutputChunk);
    int size = 9, next = 257;
    int previous = int(in.Bits(size));
    if (in.Ended() || previous > 255)
        return;
    uint8_t first = uint8_t(previous);
    out.Put(first);
    const auto nextFree = [&](int from) {
        while (from < Codes && prefix[from] != -1)
            ++from;
        return from;
    };
    for (;;) {
        int code = int(in.Bits(size));
        if (in.Ended())
            break;
        if (code == 256) {
            const uint32_t control = in.Bits(size);
            if (in.Ended())
                break;
            if (control == 1) {
                if (++size > 13)
                    break;  // wider than the tables: corrupt
            } else if (control == 2) {
                std::vector<bool> parent(Codes);
                for (int c = 257; c < Codes; ++c)
                    if (prefix[c] >= 257)
                        parent[size_t(prefix[c])] = true;
                for (int c = 257; c < Codes; ++c)
                    if (!parent[size_t(c)])
                        prefix[c] = -1;
                next = nextFree(257);
            }
            continue;
        }
        const int current = code;
        size_t depth = 0;
        if (prefix[code] == -1) {
            // The code being defined now: the previous string and its first byte.
            if (code != next)
                break;
            stack[depth++] = first;
            code = previous;
        }
        while (code >= 257) {
            if (prefix[code] == -1 || depth >= stack.size())
                return out.Finish();  // a chain through a freed code: corrupt
            stack[depth++] = suffix[code];
            code = prefix[code];
        }
        if (code == 256 || depth >= stack.size())
            break;
        first = suffix[code];
        stack[depth++] = first;
        while (depth > 0)
            out.Put(stack[--depth]);
        if (next < Codes) {
            prefix[next] = int16_t(previous);
            suffix[next] = first;
            next = nextFree(next + 1);
        }
        previous = current;
    }
    out.Finish();
}

// ---- Reduce (methods 2 to 5) ---------------------------------------------------

// Follower sets, then a byte stream in which 144 starts a match.
void Unreduce(TBitInput& in, TMethodStreams& streams, int factor, uint64_t size)
{
    std::array<std::array<uint8_t, 64>, 256> followers{};
    std::array<int, 256> counts{};
    for (int c = 255; c >= 0; --c) {
        counts[size_t(c)] = int(in.Bits(6));
        for (int i = 0; i < counts[size_t(c)]; ++i)
            followers[size_t(c)][size_t(i)] = uint8_t(in.Bits(8));
    }
    const auto width = [](int n) { return n <= 2 ? 1 : n <= 4 ? 2 : n <= 8 ? 3 : n <= 16 ? 4 : n <= 32 ? 5 : 6; };
    const uint32_t lengthMask = 0x7Fu >> (factor - 1);
    const int distanceShift = 8 - factor;
    const uint32_t distanceMask = (1u << factor) - 1;

    TWindowOutput out(streams, 16384);
    uint8_t last = 0;
    int state = 0;
    uint32_t v = 0, length = 0;
    while (out.Total() < size && !in.Ended()) {
        uint32_t value;
        const int n = counts[last];
        if (n == 0 || in.Bit())
            value = in.Bits(8);
        else
            value = followers[last][std::min<size_t>(in.Bits(width(n)), 63)];
        switch (state) {
        case 0:
            if (value == 144)
                state = 1;
            else
                out.Put(uint8_t(value));
            break;
        case 1:
            if (value == 0) {
                out.Put(144);
                state = 0;
            } else {
                v = value;
                length = v & lengthMask;
                state = length == lengthMask ? 2 : 3;
            }
            break;
        case 2:
            length += value;
            state = 3;
            break;
        default: {
            const size_t distance = ((v >> distanceShift) & distanceMask) * 256 + value + 1;
            out.Copy(distance, size_t(std::min<uint64_t>(length + 3, size - out.Total())));
            state = 0;
            break;
        }
        }
        last = uint8_t(value);
    }
    out.Finish();
}

// ---- Huffman codes read most significant bit first -------------------------------

// A canonical code built from code lengths and decoded bit by bit through
// the counts per length; Invert decodes codes stored with their bits
// inverted (implode).
class THuffman {
public:
    // False when the lengths over-subscribe the code.
    bool Build(const uint8_t* lengths, size_t n)
    {
        counts_.fill(0);
        for (size_t i = 0; i < n; ++i)
            ++counts_[lengths[i]];
        counts_[0] = 0;
        int left = 1;
        for (int len = 1; len <= MaxBits; ++len) {
            left = (left << 1) - counts_[size_t(len)];
            if (left < 0)
                return false;
        }
        std::array<int, MaxBits + 2> offsets{};
        for (int len = 1; len <= MaxBits; ++len)
            offsets[size_t(len + 1)] = offsets[size_t(len)] + counts_[size_t(len)];
        symbols_.assign(n, 0);
        for (size_t i = 0; i < n; ++i)
            if (lengths[i] != 0)
                symbols_[size_t(offsets[lengths[i]]++)] = uint16_t(i);
        // The codes of up to FastBits bits, by their bits as they arrive
        // (the code's bits reversed), each with every value of the bits after it.
        fast_.fill({0, 0});
        std::array<uint32_t, MaxBits + 2> next{};
        for (int len = 1, code = 0; len <= MaxBits; ++len) {
            code = (code + counts_[size_t(len - 1)]) << 1;
            next[size_t(len)] = uint32_t(code);
        }
        for (size_t i = 0; i < n; ++i) {
            const int len = lengths[i];
            if (len == 0)
                continue;
            const uint32_t code = next[size_t(len)]++;
            if (len > FastBits)
                continue;
            uint32_t reversed = 0;
            for (int b = 0; b < len; ++b)
                reversed |= (code >> b & 1) << (len - 1 - b);
            for (uint32_t fill = reversed; fill < fast_.size(); fill += 1u << len)
                fast_[fill] = {uint16_t(i), uint8_t(len)};
        }
        return true;
    }
    // Decode<false> through the table of short codes.
    int DecodeFast(TBitInput& in) const
    {
        int have;
        const Fast f = fast_[in.Peek(FastBits, have)];
        if (f.length != 0 && f.length <= have) {
            in.Skip(f.length);
            return f.symbol;
        }
        return Decode<false>(in);
    }
    // The next symbol, or -1 for a code that is not in the set.
    template <bool Invert>
    int Decode(TBitInput& in) const
    {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= MaxBits; ++len) {
            code |= int(in.Bit() != Invert);
            const int count = counts_[size_t(len)];
            if (code - first < count)
                return symbols_[size_t(index + code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

    static constexpr int MaxBits = 16;

private:
    static constexpr int FastBits = 10;
    struct Fast {
        uint16_t symbol;
        uint8_t length;  // 0: a longer code, decoded bit by bit
    };

    std::array<int, MaxBits + 1> counts_{};
    std::vector<uint16_t> symbols_;
    std::array<Fast, 1u << FastBits> fast_{};
};

// ---- Implode (method 6) --------------------------------------------------------

// A tree as implode stores it: a count of bytes, each a run of codes of one length.
bool ReadImplodeTree(TBitInput& in, THuffman& tree, size_t n)
{
    std::vector<uint8_t> lengths;
    const int bytes = int(in.Bits(8)) + 1;
    for (int i = 0; i < bytes; ++i) {
        const uint32_t b = in.Bits(8);
        lengths.insert(lengths.end(), (b >> 4) + 1, uint8_t((b & 0x0F) + 1));
        if (lengths.size() > n)
            return false;
    }
    return lengths.size() == n && !in.Ended() && tree.Build(lengths.data(), n);
}

void Explode(TBitInput& in, TMethodStreams& streams, uint16_t flags, uint64_t size)
{
    const bool bigWindow = flags & 2, literals = flags & 4;
    THuffman literal, length, distance;
    if ((literals && !ReadImplodeTree(in, literal, 256)) || !ReadImplodeTree(in, length, 64) ||
        !ReadImplodeTree(in, distance, 64))
        return;
    const int rawDistanceBits = bigWindow ? 7 : 6;
    const size_t minimumLength = literals ? 3 : 2;
    TWindowOutput out(streams, 32768);
    while (out.Total() < size && !in.Ended()) {
        if (in.Bit()) {
            const int c = literals ? literal.Decode<true>(in) : int(in.Bits(8));
            if (c < 0)
                break;
            out.Put(uint8_t(c));
            continue;
        }
        const uint32_t low = in.Bits(rawDistanceBits);
        const int high = distance.Decode<true>(in);
        const int code = length.Decode<true>(in);
        if (high < 0 || code < 0)
            break;
        size_t n = size_t(code) + minimumLength;
        if (code == 63)
            n += in.Bits(8);
        out.Copy((size_t(high) << rawDistanceBits) + low + 1, size_t(std::min<uint64_t>(n, size - out.Total())));
    }
    out.Finish();
}

// ---- Deflate64 (method 9) ------------------------------------------------------

// Deflate with a 64 KiB window: length code 285 takes 16 extra bits (3 to
// 65,538) and distance codes 30 and 31 reach 65,536 back. Each stage below
// gives why the data cannot be decoded, or null.
constexpr const char* Deflate64Cut = "the compressed data ends before its stream does";
constexpr const char* Deflate64Broken = "the compressed data is broken";

// A stored block: takes the input after the block's type; copies its bytes,
// from the next whole byte on, to out.
const char* CopyStoredBlock(TBitInput& in, TWindowOutput& out)
{
    in.Align();
    int b[4];
    for (int& x : b)
        x = in.NextAlignedByte();
    if (b[3] < 0)
        return Deflate64Cut;
    const int len = b[0] | b[1] << 8;
    if (len != (~(b[2] | b[3] << 8) & 0xFFFF))
        return Deflate64Broken;
    for (int i = 0; i < len; ++i) {
        const int c = in.NextAlignedByte();
        if (c < 0)
            return Deflate64Cut;
        out.Put(uint8_t(c));
    }
    return nullptr;
}

// A dynamic block's code lengths: takes the input after the block's type;
// gives the lengths of the 288 literal/length codes, then of the 32
// distance codes (those the block does not use are 0).
const char* ReadDynamicLengths(TBitInput& in, uint8_t (&lengths)[320])
{
    const size_t nlit = in.Bits(5) + 257;
    const size_t ndist = in.Bits(5) + 1;
    const size_t ncode = in.Bits(4) + 4;
    static constexpr uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    uint8_t codeLengths[19] = {};
    for (size_t i = 0; i < ncode; ++i)
        codeLengths[order[i]] = uint8_t(in.Bits(3));
    THuffman code;
    if (!code.Build(codeLengths, 19))
        return Deflate64Broken;
    for (size_t i = 0; i < nlit + ndist;) {
        const int sym = code.DecodeFast(in);
        if (sym < 0 || in.Ended())
            return Deflate64Broken;
        if (sym < 16) {
            lengths[i++] = uint8_t(sym);
            continue;
        }
        uint8_t repeat = 0;
        size_t times;
        if (sym == 16) {
            if (i == 0)
                return Deflate64Broken;
            repeat = lengths[i - 1];
            times = 3 + in.Bits(2);
        } else {
            times = sym == 17 ? 3 + in.Bits(3) : 11 + in.Bits(7);
        }
        if (i + times > nlit + ndist)
            return Deflate64Broken;
        std::fill(lengths + i, lengths + i + times, repeat);
        i += times;
    }
    std::memmove(lengths + 288, lengths + nlit, ndist);
    std::fill(lengths + nlit, lengths + 288, 0);
    std::fill(lengths + 288 + ndist, lengths + 320, 0);
    return nullptr;
}

// A compressed block's codes: takes the input after the block's type; gives
// the literal/length and distance codes, fixed or read from the block.
const char* ReadBlockCodes(TBitInput& in, bool fixed, THuffman& lit, THuffman& dist)
{
    uint8_t lengths[320] = {};
    if (fixed) {
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        std::fill(lengths + 288, lengths + 320, 5);
    } else if (const char* why = ReadDynamicLengths(in, lengths)) {
        return why;
    }
    if (!lit.Build(lengths, 288) || !dist.Build(lengths + 288, 32))
        return Deflate64Broken;
    return nullptr;
}

// The extra bits of the length codes 257-285 (Deflate64's 285 takes 16;
// Deflate's takes none) and of the distance codes.
constexpr uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr uint8_t DistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                       7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

// A compressed block's data: takes the input after its codes; decodes
// literals and copies into out up to the end-of-block code.
const char* InflateBlockData(TBitInput& in, const THuffman& lit, const THuffman& dist, TWindowOutput& out)
{
    static constexpr uint16_t lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
    static constexpr uint32_t distanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                                  49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                                  2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
    for (;;) {
        const int sym = lit.DecodeFast(in);
        if (sym < 0 || in.Ended())
            return in.Ended() ? Deflate64Cut : Deflate64Broken;
        if (sym < 256) {
            out.Put(uint8_t(sym));
            continue;
        }
        if (sym == 256)
            return nullptr;
        const int l = sym - 257;
        if (l >= 29)
            return Deflate64Broken;
        const size_t length = lengthBase[l] + in.Bits(LengthExtra[l]);
        const int d = dist.DecodeFast(in);
        if (d < 0)
            return Deflate64Broken;
        const size_t distance = distanceBase[d] + in.Bits(DistanceExtra[d]);
        if (!out.Copy(distance, length, true))
            return "the compressed data is broken (a distance reaches before the data)";
    }
}

// Takes the entry's compressed data; decodes it block by block (a block's
// header, then a stored block, or a compressed one's codes and data) into
// streams; failure says why when it cannot.
void Inflate64(TBitInput& in, TMethodStreams& streams, std::string& failure)
{
    TWindowOutput out(streams, 65536);
    THuffman lit, dist;
    for (bool last = false; !last;) {
        last = in.Bit();
        const uint32_t type = in.Bits(2);
        const char* why = nullptr;
        if (in.Ended())
            why = Deflate64Cut;
        else if (type == 0)
            why = CopyStoredBlock(in, out);
        else if (type == 3)
            why = Deflate64Broken;
        else if (!(why = ReadBlockCodes(in, type == 1, lit, dist)))
            why = InflateBlockData(in, lit, dist, out);
        if (why) {
            failure = why;
            return;
        }
    }
    out.Finish();
}

// ---- Deflate block boundaries ---------------------------------------------------

// A stream held whole in memory, given in one chunk.
class TMemoryStreams : public TMethodStreams {
public:
    explicit TMemoryStreams(std::span<const uint8_t> data) : data_(data) {}
    size_t Refill(const uint8_t*& data) override
    {
        data = data_.data();
        return std::exchange(data_, {}).size();
    }
    void Flush(const uint8_t*, size_t) override {}

private:
    std::span<const uint8_t> data_;
};

// Takes the input after a compressed block's codes; reads its symbols up
// to the end-of-block code without decoding them. False when a code is
// not in the block's codes or the stream ends first.
bool PassBlockData(TBitInput& in, const THuffman& lit, const THuffman& dist)
{
    for (;;) {
        const int sym = lit.DecodeFast(in);
        if (sym < 0 || in.Ended())
            return false;
        if (sym == 256)
            return true;
        if (sym < 256)
            continue;
        const int l = sym - 257;
        if (l >= 29)
            return false;
        in.Bits(l == 28 ? 0 : LengthExtra[l]);
        const int d = dist.DecodeFast(in);
        if (d < 0 || d >= 30)
            return false;
        in.Bits(DistanceExtra[d]);
    }
}

}  // namespace

bool FindLastDeflateBlock(std::span<const uint8_t> stream, uint64_t& lastStart, uint64_t& end)
{
    TMemoryStreams streams(stream);
    TBitInput in(streams);
    TWindowOutput stored(streams, 65536);  // where stored blocks go, to be dropped
    THuffman lit, dist;
    for (bool last = false; !last;) {
        lastStart = in.BitsTaken();
        last = in.Bit();
        const uint32_t type = in.Bits(2);
        if (in.Ended() || type == 3)
            return false;
        if (type == 0 ? CopyStoredBlock(in, stored) != nullptr
                      : ReadBlockCodes(in, type == 1, lit, dist) != nullptr || !PassBlockData(in, lit, dist))
            return false;
    }
    end = in.BitsTaken();
    return !in.Ended();
}

namespace {

// ---- Library decoders ------------------------------------------------------------

// Zstandard frames may not ask for a window above 128 MiB, XZ streams and
// LZMA data not for more than 256 MiB of memory.
constexpr int ZstdWindowLogMax = 27;
constexpr uint64_t LzmaMemoryLimit = 256ull << 20;

// Feeds the compressed bytes through step(data, length, out, room, used,
// made, finished) until step says the stream ended (1) or failed (-1), or
// makes no progress once the bytes are used up (finished), handing on what
// it makes. Returns whether the stream ended.
template <class Step>
bool Pump(TBitInput& in, TMethodStreams& streams, Step step)
{
    std::vector<uint8_t> out(OutputChunk);
    const uint8_t* data = nullptr;
    size_t left = 0;
    bool more = true;
    for (;;) {
        if (left == 0 && more) {
            left = in.Chunk(data);
            more = left > 0;
        }
        size_t used = 0, made = 0;
        const int r = step(data, left, out.data(), out.size(), used, made, !more);
        data += used;
        left -= used;
        if (made > 0)
            streams.Flush(out.data(), made);
        if (r != 0)
            return r > 0;
        if (!more && used == 0 && made == 0)
            return false;  // no progress without more input
    }
}

void Bunzip2(TBitInput& in, TMethodStreams& streams, uint64_t size, std::string& failure)
{
    failure = DecodeBzip2([&](const uint8_t*& data) { return in.Chunk(data); },
                          [&](const uint8_t* data, size_t n) { streams.Flush(data, n); }, size);
}

// liblzma for LZMA (the ZIP form: version, properties, raw LZMA1 data) and XZ.
void Unxz(TBitInput& in, TMethodStreams& streams, const TMethodEntry& entry, std::string& failure)
{
    lzma_stream s = LZMA_STREAM_INIT;
    lzma_ret r;
    lzma_options_lzma options{};
    if (entry.method == 95) {
        r = lzma_stream_decoder(&s, LzmaMemoryLimit, LZMA_CONCATENATED);
    } else {
        // Two version bytes, the length of the properties (5), the properties.
        uint8_t head[9];
        for (uint8_t& b : head) {
            const int c = in.NextByte();
            if (c < 0) {
                failure = "the compressed data ends before its stream does";
                return;
            }
            b = uint8_t(c);
        }
        if ((head[2] | head[3] << 8) != 5) {
            failure = "the LZMA properties are not as the format has them";
            return;
        }
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
        if (lzma_properties_decode(&filters[0], nullptr, head + 4, 5) != LZMA_OK) {
            failure = "the LZMA properties are not as the format has them";
            return;
        }
        options = *static_cast<lzma_options_lzma*>(filters[0].options);
        std::free(filters[0].options);
        // No dictionary beyond the data it can hold; a larger one is refused.
        options.dict_size = uint32_t(std::max<uint64_t>(4096, std::min<uint64_t>(options.dict_size, entry.uncompressedSize)));
        if (options.dict_size > LzmaMemoryLimit) {
            failure = "the LZMA data needs a dictionary larger than 256 MiB";
            return;
        }
        // Bit 1 of the flags: an end marker ends the data; else the size does.
        options.ext_flags = entry.flags & 2 ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
        options.ext_size_low = uint32_t(entry.uncompressedSize);
        options.ext_size_high = uint32_t(entry.uncompressedSize >> 32);
        if (entry.flags & 2) {
            options.ext_size_low = UINT32_MAX;
            options.ext_size_high = UINT32_MAX;
        }
        filters[0].options = &options;
        r = lzma_raw_decoder(&s, filters);
    }
    if (r != LZMA_OK) {
        failure = "out of memory for decompression";
        return;
    }
    struct End {
        lzma_stream& s;
        ~End() { lzma_end(&s); }
    } end{s};
    lzma_ret last = LZMA_OK;
    const bool ended = Pump(in, streams, [&](const uint8_t* data, size_t left, uint8_t* out, size_t room, size_t& used,
                                             size_t& made, bool finished) {
        s.next_in = data;
        s.avail_in = left;
        s.next_out = out;
        s.avail_out = room;
        last = lzma_code(&s, finished ? LZMA_FINISH : LZMA_RUN);
        used = left - s.avail_in;
        made = room - s.avail_out;
        return last == LZMA_STREAM_END ? 1 : last == LZMA_OK ? 0 : -1;
    });
    if (!ended)
        failure = last == LZMA_MEMLIMIT_ERROR ? "the XZ data needs more than 256 MiB of memory"
                  : last == LZMA_OK || last == LZMA_BUF_ERROR ? "the compressed data ends before its stream does"
                                                              : "the compressed data is broken";
}

void Unzstd(TBitInput& in, TMethodStreams& streams, std::string& failure)
{
    const std::unique_ptr<ZSTD_DStream, size_t (*)(ZSTD_DStream*)> stream(ZSTD_createDStream(), ZSTD_freeDStream);
    ZSTD_DStream* s = stream.get();
    if (!s || ZSTD_isError(ZSTD_DCtx_setParameter(s, ZSTD_d_windowLogMax, ZstdWindowLogMax))) {
        failure = "out of memory for decompression";
        return;
    }
    size_t status = 0;
    bool frameEnded = false;
    Pump(in, streams, [&](const uint8_t* data, size_t left, uint8_t* out, size_t room, size_t& used, size_t& made,
                          bool finished) {
        // Frames may follow each other; the data ends after a whole one.
        if (finished && left == 0 && frameEnded)
            return 1;
        ZSTD_inBuffer input{data, left, 0};
        ZSTD_outBuffer output{out, room, 0};
        status = ZSTD_decompressStream(s, &output, &input);
        used = input.pos;
        made = output.pos;
        if (ZSTD_isError(status))
            return -1;
        if (used > 0 || made > 0)
            frameEnded = status == 0;
        return 0;
    });
    if (ZSTD_isError(status))
        failure = ZSTD_getErrorCode(status) == ZSTD_error_frameParameter_windowTooLarge
                      ? "the Zstandard data needs a window larger than 128 MiB"
                      : "the compressed data is broken";
    else if (!frameEnded)
        failure = "the compressed data ends before its stream does";
}

}  // namespace

bool MethodDecoded(uint16_t method)
{
    return (method >= 1 && method <= 6) || method == 9 || method == 12 || method == 14 || method == 93 ||
           method == 95;
}

void DecodeMethod(const TMethodEntry& entry, TMethodStreams& streams, std::string& failure)
{
    TBitInput in(streams);
    switch (entry.method) {
    case 1: Unshrink(in, streams); break;
    case 2:
    case 3:
    case 4:
    case 5: Unreduce(in, streams, entry.method - 1, entry.uncompressedSize); break;
    case 6: Explode(in, streams, entry.flags, entry.uncompressedSize); break;
    case 9: Inflate64(in, streams, failure); break;
    case 12: Bunzip2(in, streams, entry.uncompressedSize, failure); break;
    case 14:
    case 95: Unxz(in, streams, entry, failure); break;
    case 93: Unzstd(in, streams, failure); break;
    default: break;
    }
}

std::string MethodName(uint16_t method)
{
    switch (method) {
    case 0: return "stored";
    case 1: return "shrunk";
    case 2:
    case 3:
    case 4:
    case 5: return "reduced-" + std::to_string(method - 1);
    case 6: return "imploded";
    case 8: return "deflated";
    case 9: return "deflate64";
    case 12: return "bzip2";
    case 14: return "lzma";
    case 93: return "zstd";
    case 95: return "xz";
    case 98: return "ppmd";
    case 99: return "aes";
    default: return std::to_string(method);
    }
}
