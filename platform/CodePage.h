// Name encodings. Names in memory are UTF-8; archives from DOS tools hold
// code page 437 bytes.
#pragma once

#include <string>
#include <string_view>

namespace platform {

bool IsAscii(std::string_view s);
bool IsValidUtf8(std::string_view s);
// Every byte to the UTF-8 form of its code page 437 character.
std::string Cp437ToUtf8(std::string_view s);
// s read in codePage (an iconv name such as "CP850", "CP932", "CP1252"); code
// page 437 when codePage is empty or s cannot be read in it.
std::string CodePageToUtf8(std::string_view s, const std::string& codePage);
// Whether iconv can read codePage.
bool KnownCodePage(const std::string& codePage);
// Every character to its code page 437 byte. False (and out unchanged) when a
// character has no code page 437 byte or s is not valid UTF-8.
bool Utf8ToCp437(std::string_view s, std::string& out);

}  // namespace platform
