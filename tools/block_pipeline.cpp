// The three-stage pipeline: one lock and one condition variable guard how far each stage has
// got. Blocks are large (milliseconds of audio), so a hand-off per block costs nothing that
// shows, and the slots' samples are touched by one stage at a time without a lock of their own:
// a stage hands a block on under the lock, which orders its writes before the next stage's reads.
#include "block_pipeline.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace cli {

namespace {

class ring {
  public:
    ring(size_t slots, const pipeline_stages &stages)
        : slots_(slots), stages_(stages), frames_(slots) {}

    void reader() {
        try {
            for (size_t b = 0;; ++b) {
                {
                    std::unique_lock<std::mutex> lock(m_);
                    changed_.wait(lock, [&] { return stopped_ || b - written_ < slots_; });
                    if (stopped_)
                        return;
                }
                const size_t n = stages_.read(b % slots_);
                std::lock_guard<std::mutex> lock(m_);
                if (n == 0) {
                    read_end_ = true;
                } else {
                    frames_[b % slots_] = n;
                    read_ = b + 1;
                }
                changed_.notify_all();
                if (n == 0)
                    return;
            }
        } catch (...) {
            fail(std::current_exception());
        }
    }

    // On the calling thread; returns the frames processed.
    size_t processor() {
        size_t total = 0;
        try {
            for (size_t b = 0;; ++b) {
                size_t n = 0;
                {
                    std::unique_lock<std::mutex> lock(m_);
                    changed_.wait(lock, [&] { return stopped_ || b < read_ || read_end_; });
                    if (stopped_ || b >= read_)
                        break;
                    n = frames_[b % slots_];
                }
                stages_.process(b % slots_, n);
                total += n;
                std::lock_guard<std::mutex> lock(m_);
                processed_ = b + 1;
                changed_.notify_all();
            }
        } catch (...) {
            fail(std::current_exception());
        }
        std::lock_guard<std::mutex> lock(m_);
        processed_end_ = true;
        changed_.notify_all();
        return total;
    }

    void writer() {
        try {
            for (size_t b = 0;; ++b) {
                size_t n = 0;
                {
                    std::unique_lock<std::mutex> lock(m_);
                    changed_.wait(lock,
                                  [&] { return stopped_ || b < processed_ || processed_end_; });
                    if (stopped_ || b >= processed_)
                        return;
                    n = frames_[b % slots_];
                }
                stages_.write(b % slots_, n);
                std::lock_guard<std::mutex> lock(m_);
                written_ = b + 1;
                changed_.notify_all();
            }
        } catch (...) {
            fail(std::current_exception());
        }
    }

    // Stops every stage before its next block; the first failure is the one reported.
    void fail(std::exception_ptr e) {
        std::lock_guard<std::mutex> lock(m_);
        if (!error_)
            error_ = e;
        stopped_ = true;
        changed_.notify_all();
    }

    std::exception_ptr error() {
        std::lock_guard<std::mutex> lock(m_);
        return error_;
    }

  private:
    const size_t slots_;
    const pipeline_stages &stages_;
    std::mutex m_;
    std::condition_variable changed_;
    std::vector<size_t> frames_;                    // each slot's frames, set by the reader
    size_t read_ = 0, processed_ = 0, written_ = 0; // blocks through each stage
    bool read_end_ = false, processed_end_ = false; // no more blocks will come to the next stage
    bool stopped_ = false;
    std::exception_ptr error_;
};

} // namespace

size_t run_pipeline(size_t slots, const pipeline_stages &stages) {
    ring r(slots < 1 ? 1 : slots, stages);
    std::thread reader, writer;
    size_t total = 0;
    try {
        reader = std::thread([&] { r.reader(); });
        writer = std::thread([&] { r.writer(); });
        total = r.processor();
    } catch (...) {
        r.fail(std::current_exception()); // a thread that did not start
    }
    if (reader.joinable())
        reader.join();
    if (writer.joinable())
        writer.join();
    if (const std::exception_ptr e = r.error())
        std::rethrow_exception(e);
    return total;
}

} // namespace cli
