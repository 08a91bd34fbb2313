#include "tools/mkupdate/SegmentPipeline.h"

#include <condition_variable>
#include <exception>
#include <fstream>
#include <mutex>
#include <thread>

#include "archive/ArchiveWriter.h"
#include "base/Exception.h"

namespace {

std::string ReadSegment(const SegmentJob& job) {
    std::string data(job.length, '\0');
    if (!job.file) return data;
    std::ifstream in(*job.file, std::ios::binary);
    in.seekg(job.offset);
    in.read(data.data(), std::streamsize(job.length));
    if (!in || in.gcount() != std::streamsize(job.length))
        throw Exception(job.shownName + ": cannot be read completely (changed while building?)");
    return data;
}

// Job i is kept in slot i % window until it has been consumed; a worker takes
// job j only once job j - window is consumed, so a slot is never overwritten.
class Pipeline {
public:
    Pipeline(const std::vector<SegmentJob>& jobs, unsigned threads)
        : jobs_(jobs), window_(2 * threads + 2), slots_(window_), ready_(window_, false) {
        for (unsigned t = 0; t < threads; ++t) workers_.emplace_back([this] { work(); });
    }

    ~Pipeline() {
        {
            std::lock_guard<std::mutex> g(lock_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& w : workers_) w.join();
    }

    // The stream of job i, once it is done; rethrows a worker's error.
    std::string take(std::size_t i) {
        std::unique_lock<std::mutex> g(lock_);
        changed_.wait(g, [&] { return ready_[i % window_] || failure_; });
        if (failure_) std::rethrow_exception(failure_);
        std::string stream = std::move(slots_[i % window_]);
        ready_[i % window_] = false;
        consumed_ = i + 1;
        g.unlock();
        changed_.notify_all();
        return stream;
    }

private:
    void work() {
        for (;;) {
            std::size_t i;
            {
                std::unique_lock<std::mutex> g(lock_);
                changed_.wait(g, [&] { return stop_ || next_ >= jobs_.size() || next_ < consumed_ + window_; });
                if (stop_ || failure_ || next_ >= jobs_.size()) return;
                i = next_++;
            }
            std::string stream;
            try {
                std::string data = ReadSegment(jobs_[i]);
                stream = CompressZlib(data.data(), data.size(), 6);
            } catch (...) {
                std::lock_guard<std::mutex> g(lock_);
                if (!failure_) failure_ = std::current_exception();
                changed_.notify_all();
                return;
            }
            {
                std::lock_guard<std::mutex> g(lock_);
                slots_[i % window_] = std::move(stream);
                ready_[i % window_] = true;
            }
            changed_.notify_all();
        }
    }

    const std::vector<SegmentJob>& jobs_;
    const std::size_t window_;
    std::vector<std::string> slots_;
    std::vector<bool> ready_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::size_t next_ = 0, consumed_ = 0;
    bool stop_ = false;
    std::exception_ptr failure_;
    std::vector<std::thread> workers_;
};

}  // namespace

void CompressSegments(const std::vector<SegmentJob>& jobs, unsigned threads,
                      const std::function<void(std::size_t job, const std::string& stream)>& consume) {
    Pipeline pipeline(jobs, threads == 0 ? 1 : threads);
    for (std::size_t i = 0; i < jobs.size(); ++i) consume(i, pipeline.take(i));
}
