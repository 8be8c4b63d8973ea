// Wildcard matching of file names with the engine's own pattern syntax:
//   *        any run of characters
//   *<set>   a run of characters that are all in the set
//   ?        any one character
//   <set>    one character in the set; "<!...>" or "<^...>" negates it;
//            members are characters or ranges "x-y" of character codes
// Letters compare without regard to case (ASCII letters only).
#pragma once

#include <string>

// True when text matches pattern.
bool MatchesPattern(const std::string& pattern, const std::string& text);

// True when text holds one of the wildcard characters * ? < > |.
bool IsWild(const std::string& text);
