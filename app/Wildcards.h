// The stored wildcard list, section "Common" of the settings file.
#pragma once

#include <string>
#include <vector>

// Keys "Wildcard0" to "Wildcard<total - 1>" in order, empty values skipped.
std::vector<std::string> LoadWildcards(const std::string& settingsPath);
// Writes the total and every entry; keys beyond the new total stay in the
// file, unread. False when the file cannot be written.
bool SaveWildcards(const std::string& settingsPath, const std::vector<std::string>& wildcards);
