#include "tests/cli/CliSupport.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace cli_test {

int Shell(const std::string& command, std::string* output)
{
    return testing_support::Run(command, output);
}

std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Sha256(const std::string& file)
{
    std::string output;
    Shell("sha256sum " + Quoted(file), &output);
    return output.substr(0, 64);
}

Result CliTest::Cli(const std::string& args)
{
    const std::string errors = scratch / "stderr";
    fs::create_directories(scratch / "tmp");
    Result result;
    // setsid: no controlling terminal, so nothing can wait for an answer.
    result.code = Shell("cd " + Quoted(dir.Path()) + " && { TMPDIR=" + Quoted(scratch / "tmp") + " setsid -w " +
                          Quoted(ZAMBLOK_CLI) + " " + args + " </dev/null 2>" + Quoted(errors) + "; }",
                      &result.out);
    result.err = testing_support::ReadFile(errors);
    return result;
}

std::vector<std::string> CliTest::Everything() const
{
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
        names.push_back(fs::relative(entry.path(), dir.Path()).string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> CliTest::TempLeftovers() const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(scratch / "tmp", ec))
        names.push_back(entry.path().filename().string());
    return names;
}

void CliTest::MakeTree(const std::string& root)
{
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "line " + std::to_string(i) + " of a text that compresses well\n";
    std::string binary(70000, '\0');
    uint32_t x = 12345;
    for (char& c : binary) {
        x = x * 1103515245 + 12345;
        c = char(x >> 24);
    }
    Write(root + "/a.txt", text);
    Write(root + "/b.bin", binary);
    Write(root + "/empty.txt", "");
    Write(root + "/.hidden", "hidden\n");
    Write(root + "/sub/c.txt", "in a subfolder\n");
    Write(root + "/sub/caf\xc3\xa9.txt", "accented name\n");
}

std::vector<std::string> CliTest::PeerNames(const std::string& archive)
{
    std::string output;
    Shell("unzip -Z1 " + Quoted(Path(archive)), &output);
    std::vector<std::string> names;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        names.push_back(line);
    std::sort(names.begin(), names.end());
    return names;
}

PtyRun::PtyRun(const std::string& folder, const std::string& tempFolder, const std::vector<std::string>& args)
{
    winsize size{};
    size.ws_col = 120;
    size.ws_row = 30;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
        std::vector<char*> argv{const_cast<char*>(ZAMBLOK_CLI)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        setenv("TMPDIR", tempFolder.c_str(), 1);
        if (chdir(folder.c_str()) == 0)
            execv(ZAMBLOK_CLI, argv.data());
        _exit(127);
    }
}

PtyRun::~PtyRun()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0)
        close(master_);
}

bool PtyRun::ReadSome(int timeoutMs)
{
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return false;
    char buffer[4096];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0)
        return false;  // the program has gone
    shown_.append(buffer, size_t(n));
    return true;
}

bool PtyRun::WaitFor(const std::string& text, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (shown_.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        siginfo_t info{};
        if (!ReadSome(50) && waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0)
            return false;  // ended without showing it
    }
    return true;
}

void PtyRun::Type(const std::string& keys)
{
    if (write(master_, keys.data(), keys.size()) != ssize_t(keys.size()))
        ADD_FAILURE() << "cannot type into the terminal";
}

int PtyRun::Finish()
{
    while (ReadSome(1000)) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace cli_test
