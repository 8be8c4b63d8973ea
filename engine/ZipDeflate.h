// Deflating and inflating entry data, and the worker threads that do such
// work ahead of the thread that writes or reads the archive.
//
// A small file is deflated whole by libdeflate. A large one is cut into
// blocks that libdeflate deflates one by one, each ended on a byte boundary,
// so that the blocks joined in order are one deflate stream. A block starts
// without the 32 KiB before it: that costs about 0.1% of the size and lets
// libdeflate, three times as fast as zlib, do the work. What is made
// depends only on the bytes and the level, never on the number of threads
// or the order the blocks finish in.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

// Deflates data whole (level 0: stored blocks only) into out, replacing it.
void DeflateWhole(int level, std::span<const uint8_t> data, std::vector<uint8_t>& out);

// Deflates one block of a longer stream into out, replacing it, at the
// libdeflate level that stands for the user's level: ended by a final block
// when last, else by an empty stored block, which ends it on a byte boundary.
void DeflateBlock(int level, std::span<const uint8_t> data, bool last, std::vector<uint8_t>& out);

// Inflates packed whole into out, which has the expected size; false when
// the stream is broken or does not give exactly that many bytes.
bool InflateWhole(std::span<const uint8_t> packed, std::vector<uint8_t>& out);

// The level data is deflated at: 0 when a trial on its start shows that it
// does not compress (photos, archives), so that no time goes into searching
// for matches that are not there; else level.
int LevelForData(int level, std::span<const uint8_t> data);
// Deflates data whole, at the libdeflate level that stands for the user's
// level (the fastest whose output is no larger than zlib's), or at 0
// when LevelForData says so; when all of it fits in the trial, as stored
// blocks if deflating gained too little.
void DeflateWholeOrStore(int level, std::span<const uint8_t> data, std::vector<uint8_t>& out);

// The threads to use when the caller leaves it to the machine: ZAMBLOK_THREADS
// when set (1 to 64), else the number of cores, at most 16.
int DefaultThreads();

// Work given to the workers: what it fills, and the end of the task. The work
// does not hold its own end: the task holds the work until it is done, and
// an end held by the work would keep both alive for ever.
template <class T>
struct TTask {
    std::shared_ptr<T> work;
    std::future<void> done;
};

// A few threads that run tasks in the order they were given, started with
// the first task. With a single thread there are none: a task runs in Run
// itself.
class TWorkers {
public:
    explicit TWorkers(int threads);
    // Drops the tasks not started and waits for the running ones.
    ~TWorkers();
    TWorkers(const TWorkers&) = delete;
    TWorkers& operator=(const TWorkers&) = delete;

    // The task's end; get() raises what the task raised.
    std::future<void> Run(std::function<void()> task);
    int Threads() const { return count_; }

private:
    void Work();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::packaged_task<void()>> queue_;
    bool stopping_ = false;
    int count_;
    std::vector<std::thread> threads_;
};
