#include "app/Wildcards.h"

#include "app/IniFile.h"

namespace {
const char* const Section = "Common";
}

std::vector<std::string> LoadWildcards(const std::string& settingsPath)
{
    const TIniFile ini(settingsPath);
    std::vector<std::string> list;
    const int total = ini.ReadInteger(Section, "Wildcard Total", 0);
    for (int i = 0; i < total; ++i) {
        std::string value = ini.ReadString(Section, "Wildcard" + std::to_string(i), "");
        if (!value.empty())
            list.push_back(std::move(value));
    }
    return list;
}

bool SaveWildcards(const std::string& settingsPath, const std::vector<std::string>& wildcards)
{
    TIniFile ini(settingsPath);
    ini.WriteInteger(Section, "Wildcard Total", int(wildcards.size()));
    for (size_t i = 0; i < wildcards.size(); ++i)
        ini.WriteString(Section, "Wildcard" + std::to_string(i), wildcards[i]);
    return ini.UpdateFile();
}
