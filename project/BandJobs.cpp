#include "project/BandJobs.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "crossover/Tarndef.h"

namespace tarn {

namespace {

std::atomic<int> requestedThreads{0};

// How long the calling thread waits for another thread's job before it lets the window in:
// short enough that the window never looks stuck.
constexpr std::chrono::milliseconds IdleInterval{10};

class Jobs {
  public:
    explicit Jobs(const BandJobs& jobs)
        : jobs_(jobs), ended_(jobs.count, false), errors_(jobs.count) {}

    void Run() {
        {
            std::vector<std::thread> helpers;
            // However the calling thread leaves, no other thread may outlive the jobs.
            struct Join {
                Jobs& jobs;
                std::vector<std::thread>& helpers;
                ~Join() {
                    jobs.Stop();
                    for (std::thread& helper : helpers)
                        helper.join();
                }
            } join{*this, helpers};

            const std::size_t wanted =
                std::min<std::size_t>(std::max(jobs_.threads, 1), jobs_.count);
            for (std::size_t t = 1; t < wanted; ++t) {
                try {
                    helpers.emplace_back([this] { Helper(); });
                } catch (const std::system_error&) {
                    break; // fewer threads, same result
                }
            }
            try {
                jobs_.onThread([this] { Lead(); });
            } catch (...) {
                Fail(std::current_exception());
                WaitForStarted();
            }
        }
        Rethrow();
    }

  private:
    std::optional<std::size_t> Take() {
        const std::lock_guard lock(mutex_);
        if (stop_ || next_ >= jobs_.count) return std::nullopt;
        return next_++;
    }

    void Compute(std::size_t i) {
        std::exception_ptr error;
        try {
            jobs_.compute(i);
        } catch (...) {
            error = std::current_exception();
        }
        {
            const std::lock_guard lock(mutex_);
            ended_[i] = true;
            if (error) {
                errors_[i] = error;
                stop_ = true;
            }
        }
        changed_.notify_all();
    }

    void Helper() {
        try {
            jobs_.onThread([this] {
                while (const auto i = Take())
                    Compute(*i);
            });
        } catch (...) {
            // Only the thread's own setup can fail here (a job's failure is kept by Compute):
            // the other threads take its share, with the same result.
        }
    }

    // The calling thread: consumes in order, computes while there is a job to take, and
    // otherwise waits with the window live. After a job's failure it still consumes the jobs
    // before it, as a one-thread run would have, in case one of those fails first.
    void Lead() {
        std::size_t consumed = 0;
        while (consumed < jobs_.count) {
            if (Ready(consumed)) {
                jobs_.consume(consumed++);
                continue;
            }
            const bool stopped = Stopped();
            if (!stopped) {
                if (jobs_.interrupted && jobs_.interrupted()) {
                    interrupted_ = true;
                    Stop();
                    break;
                }
                if (const auto i = Take()) {
                    Compute(*i);
                    continue;
                }
            } else if (Failed(consumed) || !Started(consumed)) {
                break;
            }
            {
                std::unique_lock lock(mutex_);
                changed_.wait_for(lock, IdleInterval,
                                  [&] { return ended_[consumed] || stop_ != stopped; });
            }
            if (jobs_.idle) jobs_.idle();
        }
        WaitForStarted();
    }

    // Job i computed without an error.
    bool Ready(std::size_t i) {
        const std::lock_guard lock(mutex_);
        return ended_[i] && !errors_[i];
    }

    bool Failed(std::size_t i) {
        const std::lock_guard lock(mutex_);
        return ended_[i] && errors_[i];
    }

    bool Started(std::size_t i) {
        const std::lock_guard lock(mutex_);
        return i < next_;
    }

    bool Stopped() {
        const std::lock_guard lock(mutex_);
        return stop_;
    }

    void Stop() {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }

    void Fail(std::exception_ptr error) {
        const std::lock_guard lock(mutex_);
        if (!failure_) failure_ = error;
        stop_ = true;
    }

    // Every job that has started has ended (stop_ set, so no new one starts).
    void WaitForStarted() {
        std::unique_lock lock(mutex_);
        stop_ = true;
        changed_.wait(lock, [&] {
            return std::all_of(ended_.begin(), ended_.begin() + static_cast<std::ptrdiff_t>(next_),
                               [](bool ended) { return ended; });
        });
    }

    // The failure a one-thread run would have met first: the calling thread's (a consumer
    // fails before any later job is computed), the lowest job's, the interruption.
    void Rethrow() {
        if (failure_) std::rethrow_exception(failure_);
        for (const std::exception_ptr& error : errors_)
            if (error) std::rethrow_exception(error);
        if (interrupted_) throw InterruptedError();
    }

    const BandJobs& jobs_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0; // the next job to start
    bool stop_ = false;    // no job starts any more
    std::vector<bool> ended_;
    std::vector<std::exception_ptr> errors_;
    std::exception_ptr failure_;
    bool interrupted_ = false;
};

} // namespace

int CalculationThreads() {
    if (const int requested = requestedThreads.load(); requested > 0) return requested;
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, 4);
}

void SetCalculationThreads(int threads) {
    requestedThreads.store(std::max(threads, 0));
}

void RunBandJobs(const BandJobs& jobs) {
    if (jobs.count == 0) return;
    Jobs(jobs).Run();
}

} // namespace tarn
