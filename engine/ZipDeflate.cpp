#include "engine/ZipDeflate.h"

#include <algorithm>
#include <cstdlib>
#include <libdeflate.h>
#include <memory>

#include "engine/ZipExceptions.h"
#include "engine/ZipMethods.h"

namespace {

// How much of the data the trial compresses, and the least gain (a 128th)
// that makes the full search worth its time.
constexpr size_t TrialBytes = 64 << 10;
constexpr size_t TrialGainShift = 7;
// Less data than this is deflated without a trial.
constexpr size_t TrialMinimum = 4096;

using TCompressor = std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>;

// Each thread keeps a compressor per level: making one costs more than
// deflating a small file.
libdeflate_compressor& Compressor(int level)
{
    thread_local std::vector<TCompressor> compressors;
    while (compressors.size() <= size_t(level))
        compressors.emplace_back(nullptr, libdeflate_free_compressor);
    TCompressor& compressor = compressors[size_t(level)];
    if (!compressor)
        compressor.reset(libdeflate_alloc_compressor(level));
    if (!compressor)
        throw EZCompressionError("out of memory for compression");
    return *compressor;
}

}  // namespace

void DeflateWhole(int level, std::span<const uint8_t> data, std::vector<uint8_t>& out)
{
    libdeflate_compressor& compressor = Compressor(level);
    out.resize(libdeflate_deflate_compress_bound(&compressor, data.size()));
    const size_t made = libdeflate_deflate_compress(&compressor, data.data(), data.size(), out.data(), out.size());
    if (made == 0)
        throw EZCompressionError();
    out.resize(made);
}

bool InflateWhole(std::span<const uint8_t> packed, std::vector<uint8_t>& out)
{
    thread_local std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater{
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor};
    if (!inflater)
        throw EZCompressionError("out of memory for decompression");
    size_t made = 0;
    return libdeflate_deflate_decompress(inflater.get(), packed.data(), packed.size(), out.data(), out.size(),
                                         &made) == LIBDEFLATE_SUCCESS &&
           made == out.size();
}

namespace {

// Whether packed, made of data, saves too little to be worth a search.
bool GainsTooLittle(std::span<const uint8_t> data, std::span<const uint8_t> packed)
{
    return data.size() >= TrialMinimum && packed.size() + (data.size() >> TrialGainShift) >= data.size();
}

}  // namespace

int LevelForData(int level, std::span<const uint8_t> data)
{
    const std::span<const uint8_t> trial = data.first(std::min(data.size(), TrialBytes));
    if (level == 0 || trial.size() < TrialMinimum)
        return level;
    thread_local std::vector<uint8_t> packed;
    DeflateWhole(1, trial, packed);
    return GainsTooLittle(trial, packed) ? 0 : level;
}

namespace {

int LibdeflateLevel(int level)
{
    // The libdeflate level that stands for the user's level (0-9).
    // libdeflate searches better than zlib at the same level: each of the
    // user's levels 1-9 takes the fastest libdeflate level whose output of a
    // mixed tree of documents, code and data is still no larger than zlib's
    // (and Info-ZIP's) at that level, with a margin.
    static constexpr int Levels[] = {0, 1, 1, 2, 3, 5, 5, 6, 6, 7};
    return Levels[std::clamp(level, 0, 9)];
}

// Stored blocks of data (at most 65,535 bytes each, each starting on a byte
// boundary), the last of them final when last; nothing for no data unless last.
void StoreBlocks(std::span<const uint8_t> data, bool last, std::vector<uint8_t>& out)
{
    out.clear();
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(data.size() - at, 0xFFFF);
        const bool final = last && at + n == data.size();
        if (n == 0 && !final)
            break;
        out.insert(out.end(), {uint8_t(final), uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
        out.insert(out.end(), data.begin() + std::ptrdiff_t(at), data.begin() + std::ptrdiff_t(at + n));
        at += n;
    } while (at < data.size());
}

}  // namespace

void DeflateBlock(int level, std::span<const uint8_t> data, bool last, std::vector<uint8_t>& out)
{
    level = LibdeflateLevel(level);
    if (level == 0) {
        StoreBlocks(data, last, out);
        return;
    }
    DeflateWhole(level, data, out);
    if (last)
        return;
    // libdeflate ends every stream with a final block. Its final bit is
    // cleared, and an empty stored block after its end-of-block code (three
    // zero header bits, zero bits to the byte boundary, then lengths 0 and
    // 0xFFFF) ends the stream on a byte boundary, so that the next block's
    // stream follows on.
    uint64_t lastStart = 0, end = 0;
    if (!FindLastDeflateBlock(out, lastStart, end))
        throw EZCompressionError();
    out[lastStart / 8] &= uint8_t(~(1u << (lastStart % 8)));
    out.resize((end + 3 + 7) / 8, 0);
    out[end / 8] &= uint8_t((1u << (end % 8)) - 1);
    std::fill(out.begin() + std::ptrdiff_t(end / 8 + 1), out.end(), 0);
    out.insert(out.end(), {0x00, 0x00, 0xFF, 0xFF});
}

void DeflateWholeOrStore(int level, std::span<const uint8_t> data, std::vector<uint8_t>& out)
{
    level = LibdeflateLevel(level);
    // Data the trial would cover whole is deflated at its level straight
    // away, and stored when that gains too little: one pass instead of two.
    if (data.size() > TrialBytes) {
        DeflateWhole(LevelForData(level, data), data, out);
        return;
    }
    DeflateWhole(level, data, out);
    if (level > 0 && GainsTooLittle(data, out))
        DeflateWhole(0, data, out);
}

int DefaultThreads()
{
    if (const char* text = std::getenv("ZAMBLOK_THREADS")) {
        const int n = std::atoi(text);
        if (n >= 1 && n <= 64)
            return n;
    }
    // Each thread keeps a compressor and decompressor of its own (about a
    // megabyte): beyond 16 they would cost more memory than they gain. (The
    // count is read from /sys once: a run of one-file archives asks for
    // each.)
    static const int cores = std::clamp(int(std::thread::hardware_concurrency()), 1, 16);
    return cores;
}

TWorkers::TWorkers(int threads) : count_(std::max(1, threads)) {}

TWorkers::~TWorkers()
{
    {
        std::lock_guard lock(mutex_);
        queue_.clear();
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

std::future<void> TWorkers::Run(std::function<void()> task)
{
    std::packaged_task<void()> work(std::move(task));
    std::future<void> done = work.get_future();
    if (count_ == 1) {
        work();
        return done;
    }
    while (int(threads_.size()) < count_)
        threads_.emplace_back(&TWorkers::Work, this);
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    wake_.notify_one();
    return done;
}

void TWorkers::Work()
{
    for (;;) {
        std::packaged_task<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task();
    }
}
