#include "engine/Bzip2Decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Memory.h"

// The table of the randomised blocks that bzip2 0.9.0 and older wrote; libbz2
// exports it.
extern "C" int BZ2_rNums[512];

namespace {

constexpr int MaxGroups = 6;
constexpr int GroupSize = 50;
constexpr int MaxAlphabet = 258;
constexpr int MaxCodeLength = 20;
constexpr int FastBits = 10;
constexpr int MaxSelectors = 18002;  // 900000 / 50 and a margin; more are read and dropped
constexpr int Interleaved = 3;       // blocks whose sorts are undone together
constexpr size_t OutputChunk = 1 << 18;

const char* const Broken = "the compressed data is broken";
const char* const Short = "the compressed data ends before its stream does";

// bzip2's CRC-32: polynomial 0x04C11DB7, most significant bit first, eight
// bytes a step.
struct TCrcTables {
    uint32_t t[8][256];
    constexpr TCrcTables() : t{}
    {
        for (uint32_t x = 0; x < 256; ++x) {
            uint32_t c = x << 24;
            for (int k = 0; k < 8; ++k)
                c = c & 0x80000000u ? c << 1 ^ 0x04C11DB7u : c << 1;
            t[0][x] = c;
        }
        for (int k = 1; k < 8; ++k)
            for (int x = 0; x < 256; ++x)
                t[k][x] = t[k - 1][x] << 8 ^ t[0][t[k - 1][x] >> 24];
    }
};
constexpr TCrcTables CrcTables;

uint32_t UpdateCrc(uint32_t crc, const uint8_t* p, size_t n)
{
    const auto& t = CrcTables.t;
    for (; n >= 8; p += 8, n -= 8) {
        const uint32_t a = crc ^ (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]);
        crc = t[7][a >> 24] ^ t[6][a >> 16 & 0xFF] ^ t[5][a >> 8 & 0xFF] ^ t[4][a & 0xFF] ^ t[3][p[4]] ^
              t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; n > 0; --n)
        crc = crc << 8 ^ t[0][(crc >> 24) ^ *p++];
    return crc;
}

// The compressed bits, most significant first. Past the end of the data
// every bit is 0, and Ended() tells that some of them were taken.
class TBits {
public:
    explicit TBits(const std::function<size_t(const uint8_t*&)>& more) : more_(more) {}

    uint32_t Get(int n)  // n <= 32
    {
        if (count_ < n)
            Fill();
        count_ -= n;
        return uint32_t(held_ >> count_) & uint32_t((uint64_t(1) << n) - 1);
    }
    bool Bit() { return Get(1) != 0; }
    // The next MaxCodeLength bits without taking them.
    uint32_t Peek()
    {
        if (count_ < MaxCodeLength)
            Fill();
        return uint32_t(held_ >> (count_ - MaxCodeLength)) & ((1u << MaxCodeLength) - 1);
    }
    void Skip(int n) { count_ -= n; }
    bool Ended() const { return count_ < padding_; }

private:
    // Tops the held bits up to at least 57.
    void Fill()
    {
        if (end_ - next_ >= 8) {
            uint64_t w;
            std::memcpy(&w, next_, 8);
            w = __builtin_bswap64(w);
            const int take = (63 - count_) >> 3;
            held_ = held_ << (take * 8) | w >> (64 - take * 8);
            next_ += take;
            count_ += take * 8;
            return;
        }
        while (count_ <= 56) {
            if (next_ == end_) {
                const size_t n = ended_ ? 0 : more_(next_);
                end_ = next_ + n;
                if (n == 0) {
                    ended_ = true;
                    held_ <<= 8;
                    count_ += 8;
                    padding_ += 8;
                    continue;
                }
            }
            held_ = held_ << 8 | *next_++;
            count_ += 8;
        }
    }

    const std::function<size_t(const uint8_t*&)>& more_;
    const uint8_t* next_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint64_t held_ = 0;
    int count_ = 0;    // the low count_ bits of held_ are next, highest first
    int padding_ = 0;  // zero bits added past the end, the lowest of held_
    bool ended_ = false;
};

// A canonical Huffman code: the codes up to FastBits long are looked up in
// one step, longer ones by their length.
struct THuffman {
    uint16_t fast[1 << FastBits];  // symbol << 5 | length; 0 for a longer code
    uint32_t limit[MaxCodeLength + 1];  // one past the last code of each length
    int base[MaxCodeLength + 1];        // where the codes of each length start in symbols, less their first code
    uint16_t symbols[MaxAlphabet];      // by length, then by value

    // False for lengths that claim more codes than there are.
    bool Build(const uint8_t* lengths, int n)
    {
        int count[MaxCodeLength + 1] = {};
        for (int i = 0; i < n; ++i)
            ++count[lengths[i]];
        int64_t left = 1;
        int start[MaxCodeLength + 2] = {};
        uint32_t code = 0;
        for (int len = 1; len <= MaxCodeLength; ++len) {
            left = left * 2 - count[len];
            if (left < 0)
                return false;
            start[len + 1] = start[len] + count[len];
            base[len] = start[len] - int(code);
            code += uint32_t(count[len]);
            limit[len] = code;
            code <<= 1;
        }
        int at[MaxCodeLength + 2];
        std::copy(std::begin(start), std::end(start), at);
        for (int i = 0; i < n; ++i)
            symbols[at[lengths[i]]++] = uint16_t(i);
        std::fill(std::begin(fast), std::end(fast), 0);
        for (int len = 1; len <= FastBits; ++len)
            for (int k = start[len]; k < start[len + 1]; ++k) {
                const uint32_t c = uint32_t(k - base[len]);
                const uint32_t from = c << (FastBits - len), to = (c + 1) << (FastBits - len);
                std::fill(fast + from, fast + to, uint16_t(symbols[k] << 5 | len));
            }
        return true;
    }

    // The next symbol, or -1 for bits that are no code.
    int Decode(TBits& in) const
    {
        const uint32_t bits = in.Peek();
        const uint16_t e = fast[bits >> (MaxCodeLength - FastBits)];
        if (e != 0) {
            in.Skip(e & 31);
            return e >> 5;
        }
        for (int len = FastBits + 1; len <= MaxCodeLength; ++len) {
            const uint32_t c = bits >> (MaxCodeLength - len);
            if (c < limit[len]) {
                in.Skip(len);
                return symbols[int(c) + base[len]];
            }
        }
        return -1;
    }
};

// One block: its bytes in sorted order with, once the sort is undone, the
// index of the next byte in the upper 24 bits; then its bytes in order.
struct TBlock {
    platform::LargeMemory memory;  // of tt and text
    uint32_t* tt = nullptr;
    uint8_t* text = nullptr;
    uint32_t size = 0;
    uint32_t origin = 0;
    uint32_t crc = 0;
    bool randomised = false;
};

// Follows K chains from position from to position to.
template <int K>
void Chase(const uint32_t* const* tt, uint8_t* const* text, uint32_t* at, uint32_t from, uint32_t to)
{
    const uint32_t* t[K];
    uint8_t* o[K];
    uint32_t a[K];
    for (int k = 0; k < K; ++k) {
        t[k] = tt[k];
        o[k] = text[k];
        a[k] = at[k];
    }
    for (uint32_t i = from; i < to; ++i)
        for (int k = 0; k < K; ++k) {
            const uint32_t v = t[k][a[k]];
            o[k][i] = uint8_t(v);
            a[k] = v >> 8;
        }
    std::copy_n(a, K, at);
}

class TDecoder {
public:
    TDecoder(const std::function<size_t(const uint8_t*&)>& more, const std::function<void(const uint8_t*, size_t)>& out,
             uint64_t size)
        : in_(more), out_(out), size_(size)
    {
    }

    std::string Run()
    {
        if (in_.Get(24) != 0x425A68)  // "BZh"
            return Failed(Broken);
        const uint32_t level = in_.Get(8) - '0';
        if (level < 1 || level > 9)
            return Failed(Broken);
        limit_ = level * 100000;
        // Huge pages pay for themselves only for more than one block.
        const bool hugePages = size_ > limit_;
        for (;;) {
            int ready = 0;
            bool last = false;
            while (ready < Interleaved && !last) {
                const uint64_t magic = uint64_t(in_.Get(24)) << 24 | in_.Get(24);
                if (magic == 0x177245385090) {
                    last = true;
                } else if (magic != 0x314159265359) {
                    return Failed(Broken);
                } else if (!blocks_[ready].memory && !Allocate(blocks_[ready], hugePages)) {
                    return "out of memory for decompression";
                } else if (const char* failure = ReadBlock(blocks_[ready])) {
                    return Failed(failure);
                } else {
                    ++ready;
                }
            }
            Unsort(ready);
            for (int k = 0; k < ready; ++k) {
                if (Unrun(blocks_[k]) != std::optional(blocks_[k].crc))
                    return Failed(Broken);
                combined_ = (combined_ << 1 | combined_ >> 31) ^ blocks_[k].crc;
            }
            if (last) {
                const uint32_t crc = in_.Get(32);
                return in_.Ended() ? Short : crc == combined_ ? "" : Broken;
            }
        }
    }

private:
    // A stream that went wrong after its bytes ran out is short, whatever
    // else the padding then made of it.
    const char* Failed(const char* failure) const { return in_.Ended() ? Short : failure; }

    bool Allocate(TBlock& b, bool hugePages)
    {
        b.memory = platform::AllocateLarge(size_t(limit_) * (sizeof(uint32_t) + 1), hugePages);
        b.tt = static_cast<uint32_t*>(b.memory.get());
        b.text = reinterpret_cast<uint8_t*>(b.tt + limit_);
        return b.tt != nullptr;
    }

    // Reads a block's head and Huffman data into b.tt. Null, or what is wrong.
    const char* ReadBlock(TBlock& b)
    {
        b.crc = in_.Get(32);
        b.randomised = in_.Bit();
        b.origin = in_.Get(24);

        // The byte values in use.
        uint8_t values[256];
        int used = 0;
        const uint32_t groupsUsed = in_.Get(16);
        for (int i = 0; i < 16; ++i)
            if (groupsUsed & 0x8000u >> i) {
                const uint32_t bits = in_.Get(16);
                for (int j = 0; j < 16; ++j)
                    if (bits & 0x8000u >> j)
                        values[used++] = uint8_t(i * 16 + j);
            }
        if (used == 0)
            return Broken;
        const int alphabet = used + 2;

        const int groups = int(in_.Get(3));
        const int selectorCount = int(in_.Get(15));
        if (groups < 2 || groups > MaxGroups || selectorCount < 1)
            return Broken;
        // The selectors, each the position of its table in a move-to-front list.
        uint8_t order[MaxGroups];
        for (int g = 0; g < groups; ++g)
            order[g] = uint8_t(g);
        const int kept = std::min(selectorCount, MaxSelectors);
        for (int s = 0; s < selectorCount; ++s) {
            int j = 0;
            while (in_.Bit())
                if (++j >= groups || in_.Ended())
                    return Broken;
            const uint8_t table = order[j];
            std::memmove(order + 1, order, size_t(j));
            order[0] = table;
            if (s < kept)
                selectors_[s] = table;
        }
        // The tables: a start length, then per symbol steps of +1 (10) or -1 (11) until a 0.
        for (int g = 0; g < groups; ++g) {
            uint8_t lengths[MaxAlphabet];
            int length = int(in_.Get(5));
            for (int i = 0; i < alphabet; ++i) {
                for (;;) {
                    if (length < 1 || length > MaxCodeLength || in_.Ended())
                        return Broken;
                    if (!in_.Bit())
                        break;
                    length += in_.Bit() ? -1 : 1;
                }
                lengths[i] = uint8_t(length);
            }
            if (!tables_[g].Build(lengths, alphabet))
                return Broken;
        }

        // The symbols: runs of the front byte (RUNA, RUNB as bijective base 2),
        // move-to-front positions, and the end of the block.
        uint8_t front[256];
        std::copy(values, values + used, front);
        uint32_t counts[256] = {};
        uint32_t* const tt = b.tt;
        uint32_t n = 0, run = 0, weight = 1;
        const int endOfBlock = used + 1;
        const THuffman* table = nullptr;
        int selector = 0, groupLeft = 0;
        for (;;) {
            if (groupLeft == 0) {
                if (selector == kept || in_.Ended())
                    return Broken;
                table = &tables_[selectors_[selector++]];
                groupLeft = GroupSize;
            }
            --groupLeft;
            const int symbol = table->Decode(in_);
            if (symbol < 0)
                return Broken;
            if (symbol <= 1) {
                run += weight << symbol;
                weight <<= 1;
                if (run > limit_)
                    return Broken;
                continue;
            }
            if (run > 0) {
                if (run > limit_ - n)
                    return Broken;
                const uint8_t v = front[0];
                counts[v] += run;
                std::fill(tt + n, tt + n + run, v);
                n += run;
                run = 0;
                weight = 1;
            }
            if (symbol == endOfBlock)
                break;
            if (n == limit_)
                return Broken;
            const int j = symbol - 1;
            const uint8_t v = front[j];
            if (j < 16) {
                // Within the first sixteen bytes, in one word: bytes 0..j-1 move up one.
                unsigned __int128 w;
                std::memcpy(&w, front, 16);
                const unsigned __int128 moved = ~(unsigned __int128)0 >> (120 - 8 * j);  // bytes 0..j
                w = ((w << 8 | v) & moved) | (w & ~moved);
                std::memcpy(front, &w, 16);
            } else {
                std::memmove(front + 1, front, size_t(j));
                front[0] = v;
            }
            ++counts[v];
            tt[n++] = v;
        }
        if (b.origin >= n)
            return Broken;
        b.size = n;

        // Links each position of the sorted bytes to the next one of the text.
        uint32_t next[256];
        uint32_t sum = 0;
        for (int v = 0; v < 256; ++v) {
            next[v] = sum;
            sum += counts[v];
        }
        for (uint32_t i = 0; i < n; ++i)
            tt[next[tt[i] & 0xFF]++] |= i << 8;
        return nullptr;
    }

    // Follows the chains of the first count blocks side by side: all of
    // them as far as the shortest goes, then the longer ones on.
    void Unsort(int count)
    {
        TBlock* order[Interleaved];
        for (int k = 0; k < count; ++k)
            order[k] = &blocks_[k];
        std::sort(order, order + count, [](const TBlock* a, const TBlock* b) { return a->size > b->size; });
        const uint32_t* tt[Interleaved];
        uint8_t* text[Interleaved];
        uint32_t at[Interleaved];
        for (int k = 0; k < count; ++k) {
            tt[k] = order[k]->tt;
            text[k] = order[k]->text;
            at[k] = tt[k][order[k]->origin] >> 8;
        }
        static constexpr decltype(&Chase<1>) chases[] = {Chase<1>, Chase<2>, Chase<3>, Chase<4>};
        static_assert(Interleaved <= 4);
        uint32_t done = 0;
        for (int going = count; going > 0; --going) {
            const uint32_t until = order[going - 1]->size;
            chases[going - 1](tt, text, at, done, until);
            done = until;
        }
    }

    // Undoes the runs of four and more of a block's text and hands the bytes
    // on. Returns their CRC, or nothing when the text ends in a run of four
    // without its count byte: no encoder writes that, and libbz2 refuses it.
    std::optional<uint32_t> Unrun(TBlock& b)
    {
        uint8_t* const text = b.text;
        const uint32_t n = b.size;
        if (b.randomised) {
            // bzip2 0.9.0 flipped the lowest bit of the bytes the table picks.
            int toGo = 0, at = 0;
            for (uint32_t i = 0; i < n; ++i) {
                if (toGo == 0) {
                    toGo = BZ2_rNums[at];
                    at = (at + 1) % 512;
                }
                if (--toGo == 1)
                    text[i] ^= 1;
            }
        }
        uint32_t crc = 0xFFFFFFFF;
        uint8_t* const o = output_.data();
        size_t held = 0;
        auto hand = [&] {
            crc = UpdateCrc(crc, o, held);
            out_(o, held);
            held = 0;
        };
        uint32_t i = 0;
        while (i < n) {
            if (held + 260 > OutputChunk)
                hand();
            const uint8_t v = text[i];
            if (i + 3 < n && text[i + 1] == v && text[i + 2] == v && text[i + 3] == v) {
                i += 4;
                if (i == n)
                    return std::nullopt;
                const size_t run = 4 + size_t(text[i++]);
                std::memset(o + held, v, run);
                held += run;
            } else {
                o[held++] = v;
                ++i;
            }
        }
        hand();
        return ~crc;
    }

    TBits in_;
    const std::function<void(const uint8_t*, size_t)>& out_;
    const uint64_t size_;
    uint32_t limit_ = 0;  // the most bytes a block holds
    uint32_t combined_ = 0;
    std::array<TBlock, Interleaved> blocks_;
    THuffman tables_[MaxGroups];
    uint8_t selectors_[MaxSelectors];
    std::vector<uint8_t> output_ = std::vector<uint8_t>(OutputChunk);
};

}  // namespace

std::string DecodeBzip2(const std::function<size_t(const uint8_t*&)>& more,
                        const std::function<void(const uint8_t*, size_t)>& out, uint64_t size)
{
    return std::make_unique<TDecoder>(more, out, size)->Run();
}
