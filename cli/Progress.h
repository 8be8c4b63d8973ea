// The progress line on standard error: percentage, bytes done, rate, time
// left, and the archive and entry under way. It appears only once a run has
// taken a moment, and only when it is shown at all (a terminal, no --quiet).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

class Progress {
public:
    explicit Progress(bool shown) : shown_(shown) {}

    // A run over these archives, one step each, in the order they are worked on.
    void Start(std::vector<std::string> archives);
    // The archive under way: the next step of that name, from the current one on.
    void Archive(const std::string& name);
    // An engine operation over totalBytes begins within the current step.
    void Operation(int64_t totalBytes);
    void Entry(const std::string& name);
    // How far the current operation is, 0 to 100.
    void Percent(int percent);

    // Redraws the line when it is due; cheap enough to call at every poll.
    void Tick();
    // Takes the line off the screen, before anything else is written there.
    void Clear();

    // "1.5 MB" and the like.
    static std::string Bytes(double bytes);
    // "1:05" or "2:01:05".
    static std::string Duration(double seconds);

private:
    using Clock = std::chrono::steady_clock;

    // Counts the bytes of the operation under way as done and starts afresh.
    void Settle();
    void Draw(Clock::time_point now);

    bool shown_;
    bool drawn_ = false;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastDraw_;
    std::vector<std::string> steps_;
    size_t step_ = 0;
    std::string archive_;
    std::string entry_;
    bool countsBytes_ = false;
    int64_t bytesBefore_ = 0;  // of the operations finished before this one
    int64_t operationBytes_ = 0;
    int percent_ = 0;
};

}  // namespace cli
