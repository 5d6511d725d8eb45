// Any argument list of tarn-cli: reading it never throws or crashes; a run gets options
// within their ranges with the frequencies and project exactly as given; help and usage
// errors print and end with status 0 and 2; and the options of a run, written back as a
// command line, read back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "crossover/BandTrim.h"
#include "crossover/Bands.h"
#include "crossover/Shorten.h"
#include "project/CliOptions.h"
#include "project/ProjectSettings.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "ParseCliOptions: %s\n", what);
        std::abort();
    }
}

struct Parsed {
    tarn::CliParse result;
    std::string out;
    std::string err;
};

Parsed Parse(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv{"tarn-cli"};
    for (const auto& a : arguments)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    std::ostringstream out, err;
    Parsed p;
    p.result = tarn::ParseCliOptions(static_cast<int>(argv.size() - 1), argv.data(), out, err);
    p.out = out.str();
    p.err = err.str();
    return p;
}

bool Same(const tarn::CliOptions& a, const tarn::CliOptions& b) {
    const auto sameTrims = [&] {
        if (a.trims.size() != b.trims.size()) return false;
        for (std::size_t i = 0; i < a.trims.size(); ++i)
            if (a.trims[i].band != b.trims[i].band || a.trims[i].levelDb != b.trims[i].levelDb ||
                a.trims[i].delayMs != b.trims[i].delayMs || a.trims[i].invert != b.trims[i].invert)
                return false;
        return true;
    };
    return a.project == b.project && a.rate == b.rate && a.order == b.order &&
           a.minimumPhase == b.minimumPhase && a.precision == b.precision && a.format == b.format &&
           a.alignment == b.alignment && a.taps == b.taps && sameTrims() &&
           a.frequencies == b.frequencies;
}

// True when the values appear in the arguments in this order.
bool Subsequence(const std::vector<std::string>& values, const std::vector<std::string>& args) {
    std::size_t v = 0;
    for (std::size_t a = 0; a < args.size() && v < values.size(); ++a)
        if (args[a] == values[v]) ++v;
    return v == values.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // NUL bytes separate the arguments, as in the process's own argument block.
    std::vector<std::string> arguments(1);
    for (std::size_t i = 0; i < size && arguments.size() <= 16; ++i) {
        if (data[i] == 0)
            arguments.emplace_back();
        else
            arguments.back().push_back(static_cast<char>(data[i]));
    }

    const Parsed p = Parse(arguments);
    if (!p.result.options) {
        Check(p.result.exitStatus == 0 || p.result.exitStatus == 2, "exit status not 0 or 2");
        if (p.result.exitStatus == 2) Check(!p.err.empty(), "usage error without a message");
        if (p.result.exitStatus == 0) Check(!p.out.empty(), "help without a text");
        return 0;
    }
    const tarn::CliOptions& o = *p.result.options;
    Check(p.result.exitStatus == 0 && p.out.empty() && p.err.empty(), "a run printed");
    Check(!o.rate || *o.rate == tarn::AllRates || !tarn::TagOfRate(*o.rate).empty(),
          "rate out of range");
    Check(!o.precision || *o.precision == 64 || *o.precision == 32, "precision out of range");
    Check(!o.taps || (*o.taps >= tarn::MinTapCount && *o.taps <= tarn::MaxTapCount),
          "taps out of range");
    for (const tarn::CliTrim& t : o.trims) {
        Check(!t.levelDb || (*t.levelDb >= tarn::MinLevelDb && *t.levelDb <= tarn::MaxLevelDb),
              "level out of range");
        Check(!t.delayMs || (*t.delayMs >= 0.0 && *t.delayMs <= tarn::MaxDelayMs),
              "delay out of range");
    }
    Check(o.frequencies.size() <= 4, "more than four frequencies");
    Check(Subsequence(o.frequencies, arguments), "frequencies not as given");
    bool projectGiven = o.project == ".";
    for (const auto& a : arguments)
        projectGiven = projectGiven || a == o.project || a == "--project=" + o.project;
    Check(projectGiven, "project not as given");

    // "--name=value" holds any value but an empty one, which only stands on its own.
    auto option = [](const std::string& name, const std::string& value) {
        return value.empty() ? std::vector<std::string>{name, value}
                             : std::vector<std::string>{name + "=" + value};
    };
    std::vector<std::string> again = option("--project", o.project);
    const auto add = [&again](const std::vector<std::string>& a) {
        again.insert(again.end(), a.begin(), a.end());
    };
    if (o.rate) add(option("--rate", *o.rate == tarn::AllRates ? "all" : std::to_string(*o.rate)));
    if (o.minimumPhase) add(option("--phase", *o.minimumPhase ? "minimum" : "linear"));
    if (o.precision) add(option("--precision", std::to_string(*o.precision)));
    if (o.format) add(option("--format", *o.format));
    if (o.alignment) add(option("--alignment", *o.alignment == "Tarn" ? "tarn" : "lr"));
    if (o.taps) add(option("--taps", std::to_string(*o.taps)));
    // Given back in the order the options are read: levels, delays, then inversions.
    for (const tarn::CliTrim& t : o.trims) {
        const std::string band(tarn::BandName(t.band));
        char value[64];
        if (t.levelDb) {
            std::snprintf(value, sizeof value, "%.17g", *t.levelDb);
            add(option("--level", band + "=" + value));
        }
        if (t.delayMs) {
            std::snprintf(value, sizeof value, "%.17g", *t.delayMs);
            add(option("--delay", band + "=" + value));
        }
        if (t.invert) add(option("--invert", band));
    }
    if (o.order) {
        const auto a = option("--order", *o.order);
        again.insert(again.end(), a.begin(), a.end());
    }
    again.push_back("--");
    again.insert(again.end(), o.frequencies.begin(), o.frequencies.end());
    const Parsed q = Parse(again);
    Check(q.result.options && Same(*q.result.options, o), "options did not read back");
    return 0;
}
