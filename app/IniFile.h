// The settings file: sections of keys and values, read and written by the
// program itself so that section and key names stay exactly as given
// (spaces and letter case included) and keys keep their order.
#pragma once

#include <string>
#include <utility>
#include <vector>

class TIniFile {
public:
    // Reads path; a missing or unreadable file gives an empty one.
    explicit TIniFile(std::string path);

    const std::string& Path() const { return path_; }

    // The value, or fallback when the key is missing.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback) const;
    // A decimal number; fallback when missing or unreadable.
    int ReadInteger(const std::string& section, const std::string& key, int fallback) const;
    // True for a non-zero integer; fallback when missing or unreadable.
    bool ReadBool(const std::string& section, const std::string& key, bool fallback) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    // "1" or "0".
    void WriteBool(const std::string& section, const std::string& key, bool value);
    // Removes a section with all its keys.
    void EraseSection(const std::string& section);

    // Writes the whole file through a new file renamed over the old one;
    // false when that fails.
    bool UpdateFile() const;

private:
    using Keys = std::vector<std::pair<std::string, std::string>>;
    const std::string* Find(const std::string& section, const std::string& key) const;

    std::string path_;
    std::vector<std::pair<std::string, Keys>> sections_;
};
