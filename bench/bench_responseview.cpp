// Speed of the response view after a run: from the run's end (RunCompleted) to the window
// fully drawn - the set found and read, analysed, the charts and the table filled and the
// whole window painted - for the five-way example set (48000 Hz, 80, 500, 3000, 8000 Hz,
// minimum phase), as designed (argument 0) and with its High band 6 dB down and delayed
// 0.1 ms (1: the crossover's own sum, trims taken out, is analysed and drawn too). Besides the
// time, the counter "block_ms" is the longest stretch in which the window's thread did not come
// back to its event loop, measured by a timer that beats every millisecond: how long the main
// window could not answer a click. "block_cpu_ms" is the processor time of that stretch, which a
// loaded machine does not stretch.
//
// Runs on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise:
//   build/bench/tarn_bench_responseview --benchmark_repetitions=10
//   --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <ctime>

#include "FiveWaySet.h"
#include "app/ResponseWindow.h"
#include "crossover/Tarndef.h"

namespace {

double Ms(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Processor time of the calling thread [ms].
double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The longest stretch between two beats of the event loop, in wall and processor time.
class Heartbeat {
  public:
    Heartbeat() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Beat(); });
    }
    void Start() {
        wall_ = cpu_ = 0;
        since_.start();
        cpuSince_ = ThreadCpuMs();
        timer_.start();
    }
    // Also a beat: the end of a stretch of work outside the event loop.
    void Beat() {
        const double cpu = ThreadCpuMs();
        wall_ = std::max(wall_, Ms(since_));
        cpu_ = std::max(cpu_, cpu - cpuSince_);
        since_.restart();
        cpuSince_ = cpu;
    }
    void Stop() { timer_.stop(); }
    double Wall() const { return wall_; }
    double Cpu() const { return cpu_; }

  private:
    QTimer timer_;
    QElapsedTimer since_;
    double cpuSince_ = 0;
    double wall_ = 0;
    double cpu_ = 0;
};

void BM_ResponseViewAfterRun(benchmark::State& state) {
    static const tarn::bench::FiveWaySet plain;
    static const tarn::bench::FiveWaySet trimmed(true,
                                                 {{"High", tarn::BandTrim{-6.0, 0.1, false}}});
    const tarn::bench::FiveWaySet& set = state.range(0) == 0 ? plain : trimmed;
    tarn::ProjectPath = set.Project();
    tarn::ResponseWindow view;
    view.show();
    QEventLoop loop;
    QObject::connect(&view, &tarn::ResponseWindow::Shown, &loop, &QEventLoop::quit);
    // Its first reading, on show.
    if (view.Busy()) loop.exec();
    QApplication::processEvents();

    Heartbeat heartbeat;
    double longest = 0, longestCpu = 0;
    for (auto _ : state) {
        QElapsedTimer total;
        total.start();
        heartbeat.Start();
        view.RunCompleted(set.Project(), "48", true);
        heartbeat.Beat();
        if (view.Busy()) loop.exec();
        // What the event loop has still to do (the charts' layout requests, the scenes'
        // updates), then the paint it would do next, at once.
        QApplication::sendPostedEvents();
        heartbeat.Beat();
        view.repaint();
        heartbeat.Beat();
        heartbeat.Stop();
        state.SetIterationTime(Ms(total) / 1000.0);
        longest = std::max(longest, heartbeat.Wall());
        longestCpu = std::max(longestCpu, heartbeat.Cpu());
    }
    state.counters["block_ms"] = longest;
    state.counters["block_cpu_ms"] = longestCpu;
}
BENCHMARK(BM_ResponseViewAfterRun)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
