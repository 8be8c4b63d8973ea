// Decoders of the compression methods other than stored and deflate: the
// legacy shrink (1), reduce (2-5) and implode (6), Deflate64 (9), and
// through their libraries bzip2 (12), LZMA (14), Zstandard (93) and XZ (95).
// Each takes the compressed bytes of one entry in chunks and hands its
// output on in chunks, so that decryption, part changes, the size check and
// the CRC stay with the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// Where a decoder takes its compressed bytes and puts its output.
class TMethodStreams {
public:
    virtual ~TMethodStreams() = default;
    // Points data at the next chunk of compressed bytes and returns its
    // length; 0 when the entry's bytes are used up.
    virtual size_t Refill(const uint8_t*& data) = 0;
    // Takes n decoded bytes; raises when the entry cannot hold them.
    virtual void Flush(const uint8_t* data, size_t n) = 0;
};

// What a decoder needs to know of its entry.
struct TMethodEntry {
    uint16_t method = 0;
    uint16_t flags = 0;             // general purpose flags
    uint64_t uncompressedSize = 0;  // as recorded
};

// Whether DecodeMethod decodes the method.
bool MethodDecoded(uint16_t method);

// Decodes the entry's data. A stream that does not decode ends the
// decoding early: failure then says why when the decoder can tell (empty
// when it just stops, and the size and CRC checks give the verdict).
// Exceptions come only from the streams.
void DecodeMethod(const TMethodEntry& entry, TMethodStreams& streams, std::string& failure);

// The method's name as listings show it: "stored", "deflated", "shrunk",
// "reduced-1".."reduced-4", "imploded", "deflate64", "bzip2", "lzma",
// "zstd", "xz", "aes" (an AES-encrypted entry), and the number otherwise.
std::string MethodName(uint16_t method);

// Where the last block of a whole raw Deflate stream begins (its final-block
// bit) and where its end-of-block code ends, in bits from the stream's start.
// False when the stream does not read as Deflate.
bool FindLastDeflateBlock(std::span<const uint8_t> stream, uint64_t& lastStart, uint64_t& end);
