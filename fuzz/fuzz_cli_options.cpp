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

#include "project/CliOptions.h"

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
    return a.project == b.project && a.rate == b.rate && a.order == b.order &&
           a.minimumPhase == b.minimumPhase && a.precision == b.precision &&
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
    Check(o.rate == 44100 || o.rate == 48000, "rate out of range");
    Check(o.precision == 64 || o.precision == 32, "precision out of range");
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
    for (const auto& a : {option("--rate", std::to_string(o.rate)),
                          option("--phase", o.minimumPhase ? "minimum" : "linear"),
                          option("--precision", std::to_string(o.precision))})
        again.insert(again.end(), a.begin(), a.end());
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
