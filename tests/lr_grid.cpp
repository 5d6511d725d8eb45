// Every Linkwitz-Riley set of the grid the alignment promises, measured as written: 44100 and
// 48000 Hz, two to five ways with the top crossover at 0.4 fs, orders 1 to 25 with the lowest
// crossover at 40 Hz and order 50 with the lowest at 80 Hz, both phases. A two-way set is
// run once with its crossover at the lowest and once at the top frequency; the crossovers of
// more ways are spaced evenly on a logarithmic axis. Prints the worst figures per order and
// per group and fails on any set beyond its limits. Beyond the grid, order 50 at 40 Hz must
// make the run's meter warn in both phases.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "crossover/LinkwitzRiley.h"
#include "tests/LinkwitzRileyMeasure.h"

namespace {

using tarn::test::MeasureSet;
using tarn::test::SetMeasures;

constexpr double LevelLimitDb = 0.01; // -6.02 dB at the crossover, mirrored slopes
constexpr double ImpulseLimit = 1e-6; // the linear-phase sum against a unit impulse
constexpr double SumLimitDb = tarn::SumDeviationLimitDb;

std::vector<std::vector<double>> Sets(double lowest, double fs) {
    const double top = 0.4 * fs;
    std::vector<std::vector<double>> sets = {{lowest}, {top}};
    for (int m = 2; m <= tarn::MaxCrossovers; ++m) {
        std::vector<double> crossovers;
        for (int i = 0; i < m; ++i)
            crossovers.push_back(lowest * std::pow(top / lowest, static_cast<double>(i) / (m - 1)));
        crossovers.back() = top;
        sets.push_back(crossovers);
    }
    return sets;
}

std::string Describe(int order, const std::vector<double>& crossovers, double fs, bool minimum) {
    char text[200];
    int length = std::snprintf(text, sizeof text, "order %d, %.0f Hz, %s phase, crossovers", order,
                               fs, minimum ? "minimum" : "linear");
    for (const double f : crossovers)
        length += std::snprintf(text + length, sizeof text - length, " %.1f", f);
    return text;
}

struct Worst {
    double deviation = 0, tail = 0, level = 0, symmetry = 0, impulse = 0;
    void Take(const SetMeasures& m) {
        deviation = std::max(deviation, std::abs(m.sumDeviationDb));
        tail = std::max(tail, m.worstTail);
        level = std::max(level, m.levelErrorDb);
        symmetry = std::max(symmetry, m.symmetryErrorDb);
        impulse = std::max(impulse, m.impulseError);
    }
};

} // namespace

int main() {
    const double rates[] = {44100.0, 48000.0};
    std::vector<int> orders;
    for (int n = 1; n <= 25; ++n)
        orders.push_back(n);
    orders.push_back(tarn::MaxLinkwitzRileyOrder);

    int failures = 0, sets = 0;
    auto fail = [&](const std::string& what, const std::string& where) {
        ++failures;
        std::printf("FAIL %s: %s\n", where.c_str(), what.c_str());
    };

    // [phase][rate] for orders 1..25 and for 50.
    Worst groups[2][2][2];
    std::printf("Per order: the worst |sum deviation| [dB] per phase and rate; the worst tail\n"
                "share per phase; over both rates and phases the worst -6.02 dB error and\n"
                "slope mirror error [dB] of two-way sets; the linear-phase sum against a unit\n"
                "impulse.\n\n");
    std::printf("%5s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n", "order", "min 44.1", "min 48",
                "lin 44.1", "lin 48", "tail min", "tail lin", "level", "mirror", "impulse");
    for (const int order : orders) {
        const double lowest = order == tarn::MaxLinkwitzRileyOrder ? 80.0 : 40.0;
        const int group = order == tarn::MaxLinkwitzRileyOrder ? 1 : 0;
        Worst row[2][2];
        Worst all;
        for (int phase = 0; phase < 2; ++phase)
            for (int r = 0; r < 2; ++r)
                for (const auto& crossovers : Sets(lowest, rates[r])) {
                    const bool minimum = phase == 0;
                    const SetMeasures m = MeasureSet(order, crossovers, rates[r], minimum);
                    ++sets;
                    row[phase][r].Take(m);
                    groups[phase][r][group].Take(m);
                    all.Take(m);
                    const std::string where = Describe(order, crossovers, rates[r], minimum);
                    if (std::abs(m.sumDeviationDb) > SumLimitDb)
                        fail("sum deviates " + std::to_string(m.sumDeviationDb) + " dB at " +
                                 std::to_string(m.deviationHz) + " Hz",
                             where);
                    if (m.worstTail >=
                        (minimum ? tarn::TailEnergyLimit : tarn::LinearTailEnergyLimit))
                        fail("tail energy " + std::to_string(m.worstTail), where);
                    if (m.levelErrorDb > LevelLimitDb)
                        fail("level at the crossover off by " + std::to_string(m.levelErrorDb),
                             where);
                    if (m.symmetryErrorDb > LevelLimitDb)
                        fail("slopes differ by " + std::to_string(m.symmetryErrorDb), where);
                    if (m.impulseError > ImpulseLimit)
                        fail("sum differs from a unit impulse by " + std::to_string(m.impulseError),
                             where);
                    if (!m.fit.Holds()) fail("the run's meter would warn", where);
                }
        std::printf("%5d %9.2e %9.2e %9.2e %9.2e %9.2e %9.2e %9.2e %9.2e %9.2e\n", order,
                    row[0][0].deviation, row[0][1].deviation, row[1][0].deviation,
                    row[1][1].deviation, std::max(row[0][0].tail, row[0][1].tail),
                    std::max(row[1][0].tail, row[1][1].tail), all.level, all.symmetry, all.impulse);
    }

    std::printf("\nWorst per group: |sum deviation| [dB], tail share, level, mirror [dB], "
                "impulse\n");
    const char* groupNames[] = {"orders 1-25, lowest 40 Hz", "order 50, lowest 80 Hz"};
    for (int phase = 0; phase < 2; ++phase)
        for (int r = 0; r < 2; ++r)
            for (int g = 0; g < 2; ++g) {
                const Worst& w = groups[phase][r][g];
                std::printf("%-7s %7.1f Hz  %-26s %9.2e %9.2e %9.2e %9.2e %9.2e\n",
                            phase == 0 ? "minimum" : "linear", rates[r], groupNames[g], w.deviation,
                            w.tail, w.level, w.symmetry, w.impulse);
            }

    // Beyond the grid: the taps cannot hold order 50 at 40 Hz, and the run must say so.
    std::printf("\nBeyond the grid, order 50 with the lowest crossover at 40 Hz:\n");
    for (const bool minimum : {true, false})
        for (const double fs : rates)
            for (const auto& crossovers : Sets(40.0, fs)) {
                if (crossovers[0] != 40.0) continue;
                const int order = tarn::MaxLinkwitzRileyOrder;
                const SetMeasures m = MeasureSet(order, crossovers, fs, minimum);
                std::printf("  %s, %d ways, %.0f Hz: tail %.2e, sum %.4f dB at %.1f Hz; the "
                            "meter: tail %.2e, sum %.4f dB\n",
                            minimum ? "minimum" : "linear", static_cast<int>(crossovers.size()) + 1,
                            fs, m.worstTail, m.sumDeviationDb, m.deviationHz,
                            *std::max_element(m.fit.tailEnergy.begin(), m.fit.tailEnergy.end()),
                            m.fit.sumDeviationDb);
                if (m.fit.Holds())
                    fail("the run's meter does not warn", Describe(order, crossovers, fs, minimum));
            }

    std::printf("\n%d sets, %d failures\n", sets, failures);
    return failures == 0 ? 0 : 1;
}
