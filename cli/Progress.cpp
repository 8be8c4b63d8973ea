#include "cli/Progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/Console.h"

namespace cli {

namespace {

// The line stays away until a run has taken this long, and is redrawn at most
// this often.
constexpr auto ShowAfter = std::chrono::milliseconds(500);
constexpr auto RedrawEvery = std::chrono::milliseconds(200);

}  // namespace

void Progress::Start(std::vector<std::string> archives)
{
    steps_ = std::move(archives);
    step_ = 0;
    start_ = Clock::now();
    archive_.clear();
    entry_.clear();
    countsBytes_ = false;
    bytesBefore_ = operationBytes_ = 0;
    percent_ = 0;
}

void Progress::Archive(const std::string& name)
{
    if (name == archive_)
        return;
    const auto found = std::find(steps_.begin() + long(std::min(step_, steps_.size())), steps_.end(), name);
    if (found != steps_.end())
        step_ = size_t(found - steps_.begin());
    archive_ = name;
    entry_.clear();
    Settle();
    Tick();
}

void Progress::Operation(int64_t totalBytes)
{
    Settle();
    operationBytes_ = std::max<int64_t>(0, totalBytes);
    countsBytes_ = countsBytes_ || operationBytes_ > 0;
}

void Progress::Settle()
{
    bytesBefore_ += operationBytes_ * percent_ / 100;
    operationBytes_ = 0;
    percent_ = 0;
}

void Progress::Entry(const std::string& name)
{
    entry_ = name;
    Tick();
}

void Progress::Percent(int percent)
{
    percent_ = std::clamp(percent, 0, 100);
    Tick();
}

void Progress::Tick()
{
    if (!shown_)
        return;
    const auto now = Clock::now();
    if (now - start_ < ShowAfter || (drawn_ && now - lastDraw_ < RedrawEvery))
        return;
    Draw(now);
}

void Progress::Clear()
{
    if (!drawn_)
        return;
    std::fputs("\r\033[K", stderr);
    drawn_ = false;
    // Cleared for other output: the next tick draws the line again at once.
    lastDraw_ = {};
}

void Progress::Draw(Clock::time_point now)
{
    const double within = percent_ / 100.0;
    const double done = steps_.empty() ? within : std::min(1.0, (double(step_) + within) / double(steps_.size()));
    const double elapsed = std::chrono::duration<double>(now - start_).count();

    char figures[128];
    int n = std::snprintf(figures, sizeof figures, "%3d%%", int(done * 100));
    if (countsBytes_) {
        const double bytes = double(bytesBefore_) + double(operationBytes_) * within;
        n += std::snprintf(figures + n, sizeof figures - size_t(n), "  %s  %s/s", Bytes(bytes).c_str(),
                           Bytes(bytes / std::max(elapsed, 0.001)).c_str());
    }
    if (done >= 0.01 && elapsed >= 1.0)
        std::snprintf(figures + n, sizeof figures - size_t(n), "  %s left",
                      Duration(elapsed * (1.0 - done) / done).c_str());

    std::string line = figures;
    std::string what = archive_;
    if (!entry_.empty())
        what += (what.empty() ? "" : ": ") + entry_;
    // One column short of the width: a full line would wrap on some terminals.
    const size_t width = size_t(std::max(TerminalWidth() - 1, 20));
    if (!what.empty() && TextWidth(line) + 2 < width)
        line += "  " + FitFromEnd(Printable(what), width - TextWidth(line) - 2);
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    drawn_ = true;
    lastDraw_ = now;
}

std::string Progress::Bytes(double bytes)
{
    static const char* const units[] = {"B", "kB", "MB", "GB", "TB"};
    size_t unit = 0;
    while (bytes >= 1000 && unit + 1 < std::size(units)) {
        bytes /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

std::string Progress::Duration(double seconds)
{
    const long total = std::lround(std::max(seconds, 0.0));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

}  // namespace cli
