#include "app/IniFile.h"

#include <charconv>
#include <cstdio>
#include <fstream>

namespace {

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path))
{
    std::ifstream in(path_);
    for (std::string line; std::getline(in, line);) {
        const std::string text = Trimmed(line);
        if (text.empty() || text[0] == ';' || text[0] == '#')
            continue;
        if (text.front() == '[' && text.back() == ']') {
            sections_.push_back({text.substr(1, text.size() - 2), {}});
            continue;
        }
        const size_t equals = text.find('=');
        if (equals == std::string::npos || sections_.empty())
            continue;
        sections_.back().second.emplace_back(Trimmed(text.substr(0, equals)), Trimmed(text.substr(equals + 1)));
    }
}

const std::string* TIniFile::Find(const std::string& section, const std::string& key) const
{
    for (const auto& [name, keys] : sections_)
        if (name == section)
            for (const auto& [k, value] : keys)
                if (k == key)
                    return &value;
    return nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& fallback) const
{
    const std::string* value = Find(section, key);
    return value ? *value : fallback;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int fallback) const
{
    const std::string* value = Find(section, key);
    if (!value)
        return fallback;
    int number = 0;
    const char* end = value->data() + value->size();
    const auto [at, error] = std::from_chars(value->data(), end, number);
    return error == std::errc() && at == end ? number : fallback;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool fallback) const
{
    const int sentinel = fallback ? 1 : 0;
    return ReadInteger(section, key, sentinel) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    auto s = sections_.begin();
    while (s != sections_.end() && s->first != section)
        ++s;
    if (s == sections_.end())
        s = sections_.insert(s, {section, {}});
    for (auto& [k, v] : s->second)
        if (k == key) {
            v = value;
            return;
        }
    s->second.emplace_back(key, value);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(const std::string& section)
{
    std::erase_if(sections_, [&](const auto& s) { return s.first == section; });
}

bool TIniFile::UpdateFile() const
{
    const std::string temp = path_ + ".new";
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const auto& [name, keys] : sections_) {
            out << '[' << name << "]\n";
            for (const auto& [key, value] : keys)
                out << key << '=' << value << '\n';
            out << '\n';
        }
        out.flush();
        if (!out) {
            std::remove(temp.c_str());
            return false;
        }
    }
    return std::rename(temp.c_str(), path_.c_str()) == 0;
}
