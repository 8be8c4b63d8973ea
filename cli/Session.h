// One run of a command: Ctrl-C, the progress line, the reports of skipped
// and failed entries, and the exit status they add up to.
#pragma once

#include <csignal>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>

#include "cli/Progress.h"
#include "platform/Hooks.h"

namespace cli {

// Exit statuses.
constexpr int ExitDone = 0;     // everything done
constexpr int ExitSkipped = 1;  // some entries were skipped or failed
constexpr int ExitUsage = 2;    // the command line was wrong
constexpr int ExitStopped = 3;  // the run stopped on an error or a cancel

// A command line that names something unusable; reported like CLI11's own errors.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Ctrl-C stopped the run; raised where no job is there to stop.
class Interrupted : public std::runtime_error {
public:
    Interrupted() : std::runtime_error("cancelled") {}
};

// Installs the Ctrl-C handler and the engine's hooks for its lifetime. The
// handler only sets a flag; the hook through which the engine lets messages
// through turns it into a call of the running job's Cancel, on the thread
// that runs the job. A second Ctrl-C ends the program at once.
class Session {
public:
    explicit Session(bool showProgress);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // What Ctrl-C does, from the engine's next poll on.
    void SetCancel(std::function<void()> cancel) { cancel_ = std::move(cancel); }
    // Called at every poll of the engine, e.g. to follow the archive under way.
    void SetPoll(std::function<void()> poll) { poll_ = std::move(poll); }
    bool Interrupted() const;
    // Raises Interrupted after a Ctrl-C.
    void CheckInterrupted() const;

    Progress& Line() { return progress_; }

    // An entry skipped or failed, or a warning about the run: "zamblok-cli:
    // text" on standard error, and the run ends with ExitSkipped at least.
    void Problem(const std::string& text);
    // A Problem made once however often it is made.
    void ProblemOnce(const std::string& text);
    // A remark about the run, "zamblok-cli: text" on standard error once
    // however often it is made; the exit status stays as it is.
    void Note(const std::string& text);
    // A line of results on standard output.
    void Print(const std::string& line);
    int Status() const { return problems_ > 0 ? ExitSkipped : ExitDone; }

private:
    Progress progress_;
    std::function<void()> cancel_;
    std::function<void()> poll_;
    int problems_ = 0;
    std::set<std::string> notes_;  // the texts of Note and ProblemOnce told
    platform::Hooks savedHooks_;
    struct sigaction savedAction_ {};
};

}  // namespace cli
