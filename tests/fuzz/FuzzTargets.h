// What each fuzz target does with one input. The libFuzzer entry points call
// these, and so does the regression test that replays every input that once
// crashed, so both run the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// The first byte chooses how the archive is read: bit 0 rebuilds a directory
// that cannot be found from the local headers, bit 1 sorts the entries by
// name, bit 2 extracts into a folder of its own (and aborts when anything
// lands beside it) instead of test-decoding; the rest is the archive. Reads
// its directory, then decodes every entry with a password.
void Archive(const uint8_t* data, size_t size);
// Central and local headers with their names and extra fields, and the end
// record, parsed from the bytes.
void Headers(const uint8_t* data, size_t size);
// A pattern and a name, split at the first line end, matched.
void Wildcard(const uint8_t* data, size_t size);
// The bytes as an entry's deflated data, the first eight giving its declared
// sizes, inside an archive that is sound otherwise; test-decoded.
void Inflate(const uint8_t* data, size_t size);

// The first byte chooses a method other than stored and deflate (shrink,
// reduce, implode, Deflate64, bzip2, LZMA, Zstandard, XZ), the second the
// flags (implode's window and trees, LZMA's end marker); the rest as for
// Inflate.
void Methods(const uint8_t* data, size_t size);

// Runs the target named name ("archive", "headers", "wildcard", "inflate",
// "methods") on one input; false for an unknown name.
bool Run(const std::string& name, const uint8_t* data, size_t size);

}  // namespace fuzz
