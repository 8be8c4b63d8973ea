#pragma once
// A bzip2 decoder of its own: it decodes three blocks' Huffman data before
// undoing their sorts together, so that the three chains of the inverse
// Burrows-Wheeler transform, each a cache miss per byte, wait for memory at
// the same time.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Decodes one bzip2 stream. more points its argument at the next compressed
// bytes and returns how many (0 when they are used up); out takes the
// decoded bytes and may raise, which ends the decoding; size is how many
// bytes are expected, as a hint. Returns the empty
// string when the stream ended whole with every check sum right, or why it
// did not.
std::string DecodeBzip2(const std::function<size_t(const uint8_t*&)>& more,
                        const std::function<void(const uint8_t*, size_t)>& out, uint64_t size);
