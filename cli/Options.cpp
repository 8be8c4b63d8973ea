#include "cli/Options.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "cli/Console.h"
#include "cli/Session.h"

namespace cli {

namespace {

constexpr int64_t MinBlockSize = 65536;
constexpr size_t MaxPasswordLength = 1024;

// The first line of a password file ("-": standard input): read byte by byte
// up to its end, never more than a password can hold, and only from a
// regular file, a pipe or a terminal (not a folder, nor a device that never
// ends such as /dev/zero).
std::string FirstLine(const std::string& file)
{
    const int fd = file == "-" ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    const bool usable = fd >= 0 && ::fstat(fd, &st) == 0 &&
                        (S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || ::isatty(fd));
    std::string line;
    bool ended = false;
    while (usable && !ended && line.size() <= MaxPasswordLength) {
        char c;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        ended = n <= 0 || c == '\n';
        if (!ended)
            line += c;
    }
    if (fd >= 0 && fd != STDIN_FILENO)
        ::close(fd);
    if (!usable)
        throw UsageError("cannot read a password from " + (file == "-" ? std::string("standard input") : file));
    if (line.size() > MaxPasswordLength)
        throw UsageError("the first line of " + file + " is longer than a password (" +
                         std::to_string(MaxPasswordLength) + " bytes)");
    return line;
}

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
    } else {
        password = FirstLine(file);
    }
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return Trimmed(password);
}

}  // namespace cli
