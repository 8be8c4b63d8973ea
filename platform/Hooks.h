// Process-wide hooks through which the engine reaches the user interface.
// The GUI installs its own; tests install scripted answers. With nothing
// installed, each hook gives the answer of a user who declines.
#pragma once

#include <functional>
#include <string>

namespace platform {

// Button sets of a message box (the flags argument, low four bits).
constexpr unsigned mbOK = 0;
constexpr unsigned mbOKCancel = 1;
constexpr unsigned mbAbortRetryIgnore = 2;
constexpr unsigned mbYesNoCancel = 3;
constexpr unsigned mbYesNo = 4;
constexpr unsigned mbRetryCancel = 5;

// Buttons a message box returns.
constexpr int idOK = 1;
constexpr int idCancel = 2;
constexpr int idAbort = 3;
constexpr int idRetry = 4;
constexpr int idIgnore = 5;
constexpr int idYes = 6;
constexpr int idNo = 7;

struct Hooks {
    // Lets pending window messages through during a long run.
    std::function<void()> PumpMessages;
    // Shows text with caption and the button set of flags; returns the button.
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)> MessageBox;
    // Asks for a file (or a folder); false when cancelled. The argument holds
    // the proposed name on entry and the chosen one on return.
    std::function<bool(std::string& fileName)> OpenFileDialog;
    std::function<bool(std::string& folder)> FolderDialog;
};

// The installed hooks; an empty member means the default.
Hooks& InstalledHooks();

// A poll of the calling thread's own, run by PumpMessages after the
// process-wide pump: a run on a thread of its own turns a cancel asked for
// from elsewhere into its job's and engine's cancel here, on its own thread,
// where every check of theirs sees it. Installed for the life of the object.
class ThreadPoll {
public:
    explicit ThreadPoll(std::function<void()> poll);
    ~ThreadPoll();
    ThreadPoll(const ThreadPoll&) = delete;
    ThreadPoll& operator=(const ThreadPoll&) = delete;

private:
    std::function<void()> previous_;
};

void PumpMessages();
int MessageBox(const std::string& text, const std::string& caption, unsigned flags);
bool OpenFileDialog(std::string& fileName);
bool FolderDialog(std::string& folder);

// The button a message box with these flags returns when nobody answers:
// OK for an OK box, No for Yes/No questions, Cancel where there is one.
int DefaultButton(unsigned flags);

}  // namespace platform
