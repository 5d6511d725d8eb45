// The bands of a run computed on several threads and consumed in order on the calling one.
//
// The calling thread is the window's: it computes jobs like the others, and it alone consumes
// their results (stages files, shows nothing until the end) and waits for the rest while
// pumping the window's messages. Results are consumed strictly in job order, so what a run
// writes and says does not depend on how many threads computed it or which finished first.
#pragma once

#include <cstddef>
#include <functional>

namespace tarn {

// Threads a run computes on: the machine's cores, at most four (each one keeps about 15 MiB
// of conversion tables and workspace), at least one. Set for a test or a benchmark through
// SetCalculationThreads; 0 goes back to the machine's count.
int CalculationThreads();
void SetCalculationThreads(int threads);

struct BandJobs {
    std::size_t count = 0;
    int threads = 1;
    // Wraps a thread's whole share of the work, on that thread (the calling one included):
    // where per-thread state is set up around body().
    std::function<void(const std::function<void()>& body)> onThread;
    // Computes job i, on any thread. May throw.
    std::function<void(std::size_t i)> compute;
    // Uses job i's result on the calling thread, once every job up to i is computed. May throw.
    std::function<void(std::size_t i)> consume;
    // On the calling thread while it has nothing to compute, every few milliseconds.
    std::function<void()> idle;
    // Polled on the calling thread between jobs; true stops the run with InterruptedError.
    std::function<bool()> interrupted;
};

// Computes and consumes every job. The first failure (a job's exception, the interruption)
// lets no further job start; it is thrown once every started job has ended, and where several
// jobs failed, the lowest one's exception is thrown: the error a one-thread run would give.
// If no thread can be started, the calling thread does all the work.
void RunBandJobs(const BandJobs& jobs);

} // namespace tarn
