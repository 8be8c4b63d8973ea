// Running the built zamblok-cli: plainly, with its output captured, or on a
// pseudo-terminal that the test reads and types into.
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <sys/types.h>
#include <vector>

#include "tests/TestSupport.h"

namespace cli_test {

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

// A shell command's exit code; its output (standard error too) to *output.
// Inside a test, Run would name the test's own member.
int Shell(const std::string& command, std::string* output = nullptr);
// text in single quotes for the shell.
std::string Quoted(const std::string& text);
std::string Sha256(const std::string& file);

// A work folder for the commands, and a scratch folder that is their
// temporary folder: a test can tell that nothing was left behind there.
class CliTest : public ::testing::Test {
protected:
    // zamblok-cli with args (shell words) in the work folder, without a
    // controlling terminal and with nothing on standard input.
    Result Cli(const std::string& args);
    std::string Path(const std::string& name) const { return dir / name; }
    void Write(const std::string& name, const std::string& data) { testing_support::WriteFile(Path(name), data); }
    std::string Read(const std::string& name) const { return testing_support::ReadFile(Path(name)); }
    // Files and folders under the work folder, relative to it, sorted.
    std::vector<std::string> Everything() const;
    // Files left in the temporary folder.
    std::vector<std::string> TempLeftovers() const;
    // A small tree under root: text, binary, an empty file, a hidden file, a
    // subfolder and a non-ASCII name.
    void MakeTree(const std::string& root);
    // Stored names as Info-ZIP lists them, sorted.
    std::vector<std::string> PeerNames(const std::string& archive);

    testing_support::TempDir dir;
    testing_support::TempDir scratch;
};

// zamblok-cli on a pseudo-terminal of 120 columns: its standard streams and
// its controlling terminal. Ctrl-C is typed as "\x03".
class PtyRun {
public:
    PtyRun(const std::string& folder, const std::string& tempFolder, const std::vector<std::string>& args);
    ~PtyRun();
    PtyRun(const PtyRun&) = delete;
    PtyRun& operator=(const PtyRun&) = delete;

    // Reads what the program shows until text appears; false after seconds.
    bool WaitFor(const std::string& text, double seconds = 30);
    void Type(const std::string& keys);
    // Reads to the end and returns the exit code.
    int Finish();
    const std::string& Shown() const { return shown_; }

private:
    bool ReadSome(int timeoutMs);

    pid_t pid_ = -1;
    int master_ = -1;
    std::string shown_;
};

}  // namespace cli_test
