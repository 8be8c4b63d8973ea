#include "cli/Options.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iostream>
#include <utility>

#include "cli/Console.h"
#include "cli/Session.h"

namespace cli {

namespace {

constexpr int64_t MinBlockSize = 65536;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

}  // namespace

std::optional<int64_t> ParseBlockSize(const std::string& text)
{
    static const std::pair<const char*, int64_t> named[] = {
        {"1.2M", 1213952},      {"1.44M", 1457664},     {"2.88M", 2915328},     {"5M", 5242880},
        {"100M", 100000000},    {"250M", 250000000},    {"650M", 650000000},
    };
    for (const auto& [name, size] : named)
        if (Lower(text) == Lower(name))
            return size;

    if (text.size() < 2)
        return std::nullopt;
    int64_t unit = 0;
    switch (text.back()) {
    case 'B': case 'b': unit = 1; break;
    case 'K': case 'k': unit = 1024; break;
    case 'M': case 'm': unit = 1048576; break;
    default: return std::nullopt;
    }
    int64_t number = 0;
    const char* end = text.data() + text.size() - 1;
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    if (error != std::errc() || stop != end || number > INT64_MAX / unit || number * unit < MinBlockSize)
        return std::nullopt;
    return number * unit;
}

std::string ArchiveBaseName(const std::string& text)
{
    std::string name = Trimmed(text);
    if (name.size() >= 4 && Lower(name.substr(name.size() - 4)) == ".zip")
        name.resize(name.size() - 4);
    return name.empty() ? "Zamblok" : name;
}

std::string FolderPrefix(const std::string& folder)
{
    if (folder.empty() || folder.back() == '/')
        return folder;
    return folder + '/';
}

std::string ObtainPassword(const Session& session, bool ask, const std::string& file, bool confirm)
{
    std::string password;
    if (ask) {
        const auto stopped = [&session] { return session.Interrupted(); };
        auto first = AskTerminal("Password: ", true, stopped);
        auto second = first && confirm ? AskTerminal("Confirm password: ", true, stopped) : first;
        session.CheckInterrupted();
        if (!first || !second)
            throw UsageError("no terminal to ask for the password on; use --password-file");
        if (*first != *second)
            throw UsageError("the passwords do not match");
        password = *first;
    } else if (file == "-") {
        std::getline(std::cin, password);
    } else {
        std::ifstream in(file);
        if (!in)
            throw UsageError("cannot read the password file " + file);
        std::getline(in, password);
    }
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return Trimmed(password);
}

}  // namespace cli
