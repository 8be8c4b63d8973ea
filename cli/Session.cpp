#include "cli/Session.h"

#include <cstdio>

#include "cli/Console.h"

namespace cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int)
{
    interrupted = 1;
}

}  // namespace

Session::Session(bool showProgress) : progress_(showProgress), savedHooks_(platform::InstalledHooks())
{
    interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a question waiting on the terminal returns at once.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, &savedAction_);

    platform::Hooks& hooks = platform::InstalledHooks();
    hooks.PumpMessages = [this] {
        if (interrupted && cancel_)
            cancel_();
        if (poll_)
            poll_();
        progress_.Tick();
    };
    // The engine's notices (a source file that shrank, an unknown method)
    // are reported; its questions get the answer of a user who declines.
    hooks.MessageBox = [this](const std::string& text, const std::string& caption, unsigned flags) {
        Problem(caption + ": " + text);
        return platform::DefaultButton(flags);
    };
}

Session::~Session()
{
    progress_.Clear();
    platform::InstalledHooks() = savedHooks_;
    sigaction(SIGINT, &savedAction_, nullptr);
}

bool Session::Interrupted() const
{
    return interrupted != 0;
}

void Session::CheckInterrupted() const
{
    if (Interrupted())
        throw cli::Interrupted();
}

void Session::Problem(const std::string& text)
{
    ++problems_;
    progress_.Clear();
    std::fprintf(stderr, "zamblok-cli: %s\n", Printable(text).c_str());
}

void Session::ProblemOnce(const std::string& text)
{
    if (notes_.insert(text).second)
        Problem(text);
}

void Session::Note(const std::string& text)
{
    if (!notes_.insert(text).second)
        return;
    progress_.Clear();
    std::fprintf(stderr, "zamblok-cli: %s\n", Printable(text).c_str());
}

void Session::Print(const std::string& line)
{
    progress_.Clear();
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    // The progress line on standard error must not overtake buffered results.
    std::fflush(stdout);
}

}  // namespace cli
