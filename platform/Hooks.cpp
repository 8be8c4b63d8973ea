#include "platform/Hooks.h"

#include <utility>

namespace platform {

Hooks& InstalledHooks()
{
    static Hooks hooks;
    return hooks;
}

namespace {
thread_local std::function<void()> threadPoll;
}

ThreadPoll::ThreadPoll(std::function<void()> poll) : previous_(std::exchange(threadPoll, std::move(poll))) {}

ThreadPoll::~ThreadPoll()
{
    threadPoll = std::move(previous_);
}

void PumpMessages()
{
    if (auto& pump = InstalledHooks().PumpMessages)
        pump();
    if (threadPoll)
        threadPoll();
}

int DefaultButton(unsigned flags)
{
    switch (flags & 0x0F) {
    case mbOK: return idOK;
    case mbAbortRetryIgnore: return idAbort;
    case mbYesNo:
    case mbYesNoCancel: return idNo;
    default: return idCancel;  // OK/Cancel, Retry/Cancel
    }
}

int MessageBox(const std::string& text, const std::string& caption, unsigned flags)
{
    if (auto& box = InstalledHooks().MessageBox)
        return box(text, caption, flags);
    return DefaultButton(flags);
}

bool OpenFileDialog(std::string& fileName)
{
    auto& dialog = InstalledHooks().OpenFileDialog;
    return dialog && dialog(fileName);
}

bool FolderDialog(std::string& folder)
{
    auto& dialog = InstalledHooks().FolderDialog;
    return dialog && dialog(folder);
}

}  // namespace platform
