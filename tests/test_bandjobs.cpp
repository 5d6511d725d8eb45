// The jobs of a run on several threads: each computed once, consumed in order on the calling
// thread, the first failure in a one-thread run's order thrown, no thread left behind.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crossover/Tarndef.h"
#include "project/BandJobs.h"

namespace tarn {
namespace {

// What the jobs saw, for one run.
struct Record {
    std::vector<std::atomic<int>> computed;
    std::vector<std::size_t> consumed;
    bool consumedEarly = false;     // consumed before it (or an earlier job) was computed
    bool consumedElsewhere = false; // consumed or idled off the calling thread
    std::atomic<int> threadsWrapped{0};
    explicit Record(std::size_t count) : computed(count) {}
};

BandJobs JobsFor(Record& record, std::size_t count, int threads) {
    const std::thread::id caller = std::this_thread::get_id();
    return {
        .count = count,
        .threads = threads,
        .onThread =
            [&record](const std::function<void()>& body) {
                ++record.threadsWrapped;
                body();
            },
        .compute =
            [&record](std::size_t i) {
                std::this_thread::sleep_for(std::chrono::microseconds(200 * (i % 3)));
                ++record.computed[i];
            },
        .consume =
            [&record, caller](std::size_t i) {
                for (std::size_t j = 0; j <= i; ++j)
                    if (record.computed[j] == 0) record.consumedEarly = true;
                if (std::this_thread::get_id() != caller) record.consumedElsewhere = true;
                record.consumed.push_back(i);
            },
        .idle =
            [&record, caller] {
                if (std::this_thread::get_id() != caller) record.consumedElsewhere = true;
            },
        .interrupted = [] { return false; },
    };
}

TEST(BandJobs, EveryJobIsComputedOnceAndConsumedInOrderOnTheCallingThread) {
    for (const int threads : {1, 2, 4})
        for (const std::size_t count :
             {std::size_t{0}, std::size_t{1}, std::size_t{5}, std::size_t{30}}) {
            SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(count) + " jobs");
            Record record(count);
            RunBandJobs(JobsFor(record, count, threads));
            std::vector<std::size_t> expected(count);
            for (std::size_t i = 0; i < count; ++i)
                expected[i] = i;
            EXPECT_EQ(record.consumed, expected);
            for (std::size_t i = 0; i < count; ++i)
                EXPECT_EQ(record.computed[i], 1) << "job " << i;
            EXPECT_FALSE(record.consumedEarly);
            EXPECT_FALSE(record.consumedElsewhere);
            // No more threads than jobs, and every thread's work wrapped.
            EXPECT_EQ(record.threadsWrapped,
                      count == 0 ? 0 : static_cast<int>(std::min<std::size_t>(threads, count)));
        }
}

TEST(BandJobs, TwoThreadsComputeAtTheSameTime) {
    // Job 0 waits for job 1 to start: only a second thread can let it finish.
    std::mutex mutex;
    std::condition_variable started;
    bool secondStarted = false, waitedInVain = false;
    BandJobs jobs{
        .count = 2,
        .threads = 2,
        .onThread = [](const std::function<void()>& body) { body(); },
        .compute =
            [&](std::size_t i) {
                std::unique_lock lock(mutex);
                if (i == 1) {
                    secondStarted = true;
                    started.notify_all();
                } else if (!started.wait_for(lock, std::chrono::seconds(20),
                                             [&] { return secondStarted; })) {
                    waitedInVain = true;
                }
            },
        .consume = [](std::size_t) {},
        .idle = [] {},
        .interrupted = [] { return false; },
    };
    RunBandJobs(jobs);
    EXPECT_FALSE(waitedInVain);
}

struct JobError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

TEST(BandJobs, TheFirstFailureInOrderIsThrownAfterEveryStartedJobEnded) {
    struct Case {
        const char* what;
        std::vector<std::size_t> failingComputes;
        std::size_t failingConsume; // count: none
        bool interrupt;
        std::string expected;
    };
    constexpr std::size_t count = 12;
    const std::vector<Case> cases = {
        {"one job fails", {5}, count, false, "compute 5"},
        {"the lowest of several", {9, 3, 7}, count, false, "compute 3"},
        {"the first job", {0}, count, false, "compute 0"},
        {"the last job", {count - 1}, count, false, "compute 11"},
        {"a consumer before a later job", {6}, 4, false, "consume 4"},
        {"an interruption", {}, count, true, "Calculation interrupted"},
        {"a job before an interruption", {2}, count, true, "compute 2"},
    };
    for (const int threads : {1, 2, 4})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(threads) + " threads");
            std::atomic<int> started{0}, ended{0};
            std::vector<std::size_t> consumed;
            // The interruption comes once three jobs are consumed; the jobs from the fifth on
            // wait for it, so that it is seen before the run could end.
            std::atomic<bool> interruptSeen{false};
            BandJobs jobs{
                .count = count,
                .threads = threads,
                .onThread = [](const std::function<void()>& body) { body(); },
                .compute =
                    [&](std::size_t i) {
                        ++started;
                        std::this_thread::sleep_for(std::chrono::microseconds(300));
                        for (int wait = 0; c.interrupt && i >= 4 && !interruptSeen && wait < 5000;
                             ++wait)
                            std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        ++ended;
                        for (const std::size_t failing : c.failingComputes)
                            if (i == failing) throw JobError("compute " + std::to_string(i));
                    },
                .consume =
                    [&](std::size_t i) {
                        if (i == c.failingConsume) throw JobError("consume " + std::to_string(i));
                        consumed.push_back(i);
                    },
                .idle = [] {},
                .interrupted =
                    [&] {
                        if (c.interrupt && consumed.size() >= 3) interruptSeen = true;
                        return interruptSeen.load();
                    },
            };
            std::string thrown;
            try {
                RunBandJobs(jobs);
            } catch (const std::exception& e) {
                thrown = e.what();
            }
            EXPECT_EQ(thrown, c.expected);
            EXPECT_EQ(started.load(), ended.load()); // nothing still running
            for (const std::size_t failing : c.failingComputes) {
                for (const std::size_t i : consumed) {
                    EXPECT_LT(i, failing);
                }
            }
        }
}

} // namespace
} // namespace tarn
