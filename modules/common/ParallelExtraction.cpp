// The worker pool of one extraction and the walk that feeds it and names its files in order.
#include "modules/common/ParallelExtraction.h"

#include <algorithm>
#include <condition_variable>
#include <dirent.h>
#include <fcntl.h>
#include <deque>
#include <memory>
#include <mutex>
#include <sched.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "platform/AnsiCodec.h"

namespace norvex::modules {

using namespace norvex::literals;

namespace {

// Entries decoded ahead of the one whose turn it is, per worker: enough to keep the workers busy
// while the calling thread names small files, few enough to bound descriptors and disk use.
constexpr std::size_t kAheadPerWorker = 8;
constexpr unsigned kMaxWorkers = 8;
// An idle worker is woken once this many entries wait for one (or when the walk waits for an entry
// not begun): small entries then cost a wake-up per few entries, not one each.
constexpr std::size_t kWakeBatch = 4;
// An entry this large wakes a worker at once.
constexpr int64_t kLargeEntry = 256 * 1024;

// An entry without data (a folder), in the walk's terms.
class NoData : public ArchiveSource {
public:
    int32_t nextEntry(EntryInfo&) override { return ARC_FIND_END; }
    int32_t readBlock(const void*&, std::size_t& size) override {
        size = 0;
        return ARC_OK;
    }
};

// A job's reader seen as a source, for an entry that goes through extract() after all (the worker
// could not make its file, and so never touched the reader).
class ReaderSource : public ArchiveSource {
public:
    explicit ReaderSource(const std::unique_ptr<EntryDataReader>& reader) : reader_(reader) {}
    int32_t nextEntry(EntryInfo&) override { return ARC_FIND_END; }
    int32_t readBlock(const void*& data, std::size_t& size) override { return reader_->readBlock(data, size); }
    AnsiString lastMessage() const override { return reader_->lastMessage(); }

private:
    const std::unique_ptr<EntryDataReader>& reader_;
};

class Pool;

// One entry in the window between the walk and its turn.
class Job : public AheadWrite {
public:
    Job(Pool& pool, EntryInfo entry, std::unique_ptr<EntryDataReader> reader)
        : pool_(pool), entry(std::move(entry)), reader(std::move(reader)), isFile(this->reader != nullptr) {}
    int64_t wait(int64_t since, bool& over) override;
    WrittenData* outcome() override { return prepared ? &data : nullptr; }
    void abandon() override;

    Pool& pool_;
    EntryInfo entry;
    std::unique_ptr<EntryDataReader> reader;
    const bool isFile;       // false: a folder, named in its turn
    WrittenData data;
    // Under the pool's lock:
    bool begun = false;      // the worker has made the file and is writing
    bool over = false;       // the worker is done with it (or it was never started)
    bool prepared = false;   // valid when over: the worker made the file (data holds the outcome)
    bool abandoned = false;
    int64_t written = 0;
};

class Pool {
public:
    Pool(SafeExtractor& extractor, unsigned workers) : extractor_(extractor), workers_(workers) {}
    ~Pool() { shutdown(); }

    void submit(const std::shared_ptr<Job>& job) {
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(job);
            // Workers start with the first entry that has work for them.
            if (threads_.size() < workers_) threads_.emplace_back([this] { run(); });
            wake = idle_ > 0 && (queue_.size() >= kWakeBatch || job->entry.size >= kLargeEntry);
        }
        if (wake) workCv_.notify_one();
    }

    // Every worker stops at its next block; entries not begun are never begun.
    void stopAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        for (auto& job : queue_) job->over = true;
        queue_.clear();
        doneCv_.notify_all();
    }

    void shutdown() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        workCv_.notify_all();
        for (auto& t : threads_) t.join();
        threads_.clear();
    }

private:
    friend class Job;

    void run() {
        FolderCache folders;
        for (;;) {
            std::shared_ptr<Job> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (queue_.empty() && !closing_) {
                    ++idle_;
                    workCv_.wait(lock, [this] { return closing_ || !queue_.empty(); });
                    --idle_;
                }
                if (queue_.empty()) return;
                job = std::move(queue_.front());
                queue_.pop_front();
            }
            bool prepared = extractor_.writeAhead(job->entry, *job->reader, job->data, [&](int64_t n) {
                std::lock_guard<std::mutex> lock(mutex_);
                job->begun = true;
                job->written = n;
                doneCv_.notify_all();
                return !stop_ && !job->abandoned;
            }, folders);
            // The decoder's buffers go now; a reader that was not used stays for extract().
            if (prepared) job->reader.reset();
            std::lock_guard<std::mutex> lock(mutex_);
            job->prepared = prepared;
            job->over = true;
            doneCv_.notify_all();
        }
    }

    SafeExtractor& extractor_;
    const unsigned workers_;
    std::mutex mutex_;
    std::condition_variable workCv_, doneCv_;
    std::deque<std::shared_ptr<Job>> queue_;  // not begun, in archive order
    std::vector<std::thread> threads_;
    unsigned idle_ = 0;                        // workers waiting for work
    bool stop_ = false, closing_ = false;
};

int64_t Job::wait(int64_t since, bool& overOut) {
    std::unique_lock<std::mutex> lock(pool_.mutex_);
    // Waiting for an entry no worker has taken: every idle worker is needed now.
    if (!begun && !over && pool_.idle_ > 0) pool_.workCv_.notify_all();
    pool_.doneCv_.wait(lock, [&] { return over || (begun && written > since); });
    overOut = over;
    return written;
}

void Job::abandon() {
    std::unique_lock<std::mutex> lock(pool_.mutex_);
    abandoned = true;
    auto it = std::find_if(pool_.queue_.begin(), pool_.queue_.end(), [&](const auto& j) { return j.get() == this; });
    if (it != pool_.queue_.end()) {
        pool_.queue_.erase(it);
        over = true;
        return;
    }
    pool_.doneCv_.wait(lock, [&] { return over; });
}

// The descriptors this process has open.
std::size_t DescriptorsInUse(rlim_t limit) {
    if (DIR* d = ::opendir("/proc/self/fd")) {
        std::size_t n = 0;
        while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
        ::closedir(d);
        return n > 0 ? n - 1 : 0;  // the listing's own
    }
    std::size_t n = 0;
    const int probe = static_cast<int>(std::min<rlim_t>(limit, 4096));
    for (int fd = 0; fd < probe; ++fd) n += ::fcntl(fd, F_GETFD) != -1;
    return n;
}

// How many entries may be written ahead. Each holds a descriptor until its turn, and each worker one
// more for its folder: together at most a quarter of what the process may still open, so that a low
// limit (ulimit -n) slows the extraction instead of failing it.
std::size_t AheadWindow(unsigned workers) {
    const std::size_t window = kAheadPerWorker * workers;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return window;
    const std::size_t inUse = DescriptorsInUse(limit.rlim_cur);
    const std::size_t free = limit.rlim_cur > inUse ? static_cast<std::size_t>(limit.rlim_cur) - inUse : 0;
    return std::clamp<std::size_t>(free / 4, 1, window);
}

}  // namespace

unsigned ExtractionWorkers() {
    cpu_set_t set;
    CPU_ZERO(&set);
    unsigned cores = sched_getaffinity(0, sizeof set, &set) == 0 ? static_cast<unsigned>(CPU_COUNT(&set))
                                                                   : std::thread::hardware_concurrency();
    return std::clamp(cores, 1u, kMaxWorkers);
}

int32_t ExtractInParallel(ArchiveSource& source, SafeExtractor& extractor, const MaskSet& masks,
                          const AnsiString& archive, unsigned workers) {
    const std::size_t window = AheadWindow(workers);
    Pool pool(extractor, static_cast<unsigned>(std::min<std::size_t>(workers, (window + 1) / 2)));
    std::deque<std::shared_ptr<Job>> pending;  // in archive order
    NoData noData;

    // The entry at the front takes its turn.
    auto commitFront = [&]() {
        std::shared_ptr<Job> job = pending.front();
        int32_t code;
        if (!job->isFile) {
            code = extractor.extract(job->entry, noData);
        } else {
            ReaderSource fallback(job->reader);
            code = extractor.extractWritten(job->entry, *job, fallback);
        }
        pending.pop_front();
        return code;
    };
    auto drain = [&]() {
        while (!pending.empty()) {
            if (commitFront() == ARC_ERROR_USER_CANCEL) return false;
        }
        return true;
    };

    int32_t code = ARC_OK;
    bool cancelled = false, first = true;
    for (;;) {
        EntryInfo entry;
        code = source.nextEntry(entry);
        if (code == ARC_FIND_END) {
            code = ARC_OK;
            break;
        }
        if (code != ARC_OK) {
            AnsiString why = source.lastMessage();
            if (!drain()) {
                cancelled = true;
                break;
            }
            extractor.fail(code, (first ? "> 書庫ではありません: "_ansi : "> 書庫が壊れています: "_ansi) + archive +
                                     (why.empty() ? AnsiString() : " (" + why + ")"));
            break;
        }
        first = false;
        if (!masks.matches(entry.path)) continue;
        std::unique_ptr<EntryDataReader> reader;
        if (entry.type == EntryType::File) reader = source.takeDataReader();
        if (reader) {
            auto job = std::make_shared<Job>(pool, std::move(entry), std::move(reader));
            pending.push_back(job);
            pool.submit(job);
        } else if (entry.type == EntryType::Directory) {
            pending.push_back(std::make_shared<Job>(pool, std::move(entry), nullptr));
        } else {
            // Data only the walk can read, or a link that may depend on what came before.
            if (!drain()) {
                cancelled = true;
                break;
            }
            code = extractor.extract(entry, source);
            if (code == ARC_ERROR_USER_CANCEL) {
                cancelled = true;
                break;
            }
            if (code != ARC_OK && source.fatal()) break;
            continue;
        }
        while (pending.size() >= window && !cancelled) cancelled = commitFront() == ARC_ERROR_USER_CANCEL;
        if (cancelled) break;
    }
    if (!cancelled && !drain()) cancelled = true;
    if (cancelled) {
        // Nothing written ahead is named: every worker lets go of its file.
        pool.stopAll();
        for (auto& job : pending) {
            if (job->isFile) job->abandon();
        }
        code = ARC_ERROR_USER_CANCEL;
    }
    pool.shutdown();
    pending.clear();  // closes what the workers wrote
    return code;
}

}  // namespace norvex::modules
