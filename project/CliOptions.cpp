#include "project/CliOptions.h"

#include <charconv>
#include <cmath>
#include <utility>

#include <CLI/CLI.hpp>

#include "crossover/BandTrim.h"
#include "crossover/Bands.h"
#include "crossover/Shorten.h"
#include "project/IniFile.h"
#include "project/ProjectSettings.h"

namespace tarn {

namespace {

// A band name as the user types it: "Sub", "Low", "LowMid", "Mid", "High" or "Full".
std::string BandWord(const std::string& name, const std::string& argument) {
    const std::string_view word = BandWordOfName(name);
    if (word == InvalidBandName)
        throw CLI::ValidationError(argument, "unknown band \"" + name +
                                                 "\" (Sub, Low, LowMid, Mid, High or Full)");
    return std::string(word);
}

double Number(const std::string& text, const std::string& argument) {
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value))
        throw CLI::ValidationError(argument, "\"" + text + "\" is not a number");
    return value;
}

// "BAND=VALUE" split in two.
std::pair<std::string, std::string> BandValue(const std::string& text, const std::string& option) {
    const auto eq = text.find('=');
    if (eq == std::string::npos)
        throw CLI::ValidationError(option + " " + text, "expected BAND=VALUE");
    return {text.substr(0, eq), text.substr(eq + 1)};
}

} // namespace

CliParse ParseCliOptions(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"Tarn: designs the FIR filters of a multi-way loudspeaker crossover and writes "
                 "one left and one right coefficient file per band into the project directory.",
                 "tarn-cli"};
    app.footer("Settings left out keep the project's stored design (TarnProject.ini).\n"
               "tarn-cli report [--project DIR]: prints the response table (peak, delay, "
               "band edges, the sum's flatness) of the coefficient files already in DIR.");
    app.set_version_flag("--version", "tarn-cli " TARN_VERSION, "Print the version and exit");
    CliOptions options;
    app.add_option("--project", options.project,
                   "Project directory (default: the current directory)");
    std::string rate, order, phase, precision, format, alignment, taps;
    app.add_option("--rate", rate,
                   "Sample rate in Hz: 44100, 48000, 88200, 96000, 176400, 192000, or all");
    app.add_option("--order", order,
                   "Filter order 1..50 (default: the project's stored order, else 10)");
    app.add_option("--phase", phase, "Filter phase: minimum (default) or linear")
        ->check(CLI::IsMember({"minimum", "linear"}));
    app.add_option("--precision", precision, "64: \".dbl\" files (default), 32: \".pcm\" files")
        ->check(CLI::IsMember({"64", "32"}));
    app.add_option("--format", format, "raw (default: .dbl/.pcm) or wav (mono float WAV)")
        ->check(CLI::IsMember({"raw", "wav"}));
    app.add_option("--alignment", alignment, "tarn (default) or lr (Linkwitz-Riley)")
        ->check(CLI::IsMember({"tarn", "lr"}));
    app.add_option("--taps", taps, "Taps per file, 256..131072 (default 65536)");
    std::vector<std::string> levels, delays, inverts;
    // One value per occurrence, so that a frequency after "--level High=-6" stays a frequency.
    const auto once = [](CLI::Option* option) {
        option->expected(1)->allow_extra_args(false)->multi_option_policy(
            CLI::MultiOptionPolicy::TakeAll);
    };
    once(app.add_option("--level", levels, "BAND=DB: a band's level, -60..20 dB (repeatable)"));
    once(app.add_option("--delay", delays,
                        "BAND=MS or BAND=MMmm: a band's delay, 0..20 ms, or as a distance in mm "
                        "at 343 m/s (repeatable)"));
    once(app.add_option("--invert", inverts, "BAND: inverts a band's polarity (repeatable)"));
    // Four single positionals rather than one list: CLI11 splits a list argument of the
    // form "[a,b]" into several, and each argument here is exactly one field's text.
    std::string fields[4];
    for (int i = 0; i < 4; ++i)
        app.add_option("F" + std::to_string(i + 1), fields[i],
                       i == 0 ? "Crossover frequencies F1..F4 in Hz, lowest first; the first "
                                "unusable one (empty, not a number, not positive) ends the "
                                "list. Without any, the project's stored frequencies are used."
                              : "");

    CliParse result;
    try {
        app.parse(argc, argv);
        // An empty value passes CLI11's set checks for numbers, so each is judged here.
        if (app.count("--rate") != 0) {
            if (rate == "all") {
                options.rate = AllRates;
            } else {
                const auto hz = IntegerFromText(rate);
                if (!hz || TagOfRate(*hz).empty())
                    throw CLI::ValidationError("--rate",
                                               "\"" + rate + "\" is not a rate Tarn writes");
                options.rate = *hz;
            }
        }
        if (app.count("--phase") != 0) options.minimumPhase = phase == "minimum";
        if (app.count("--precision") != 0) {
            if (precision != "64" && precision != "32")
                throw CLI::ValidationError("--precision", "\"\" not in {64,32}");
            options.precision = precision == "64" ? 64 : 32;
        }
        if (app.count("--format") != 0) options.format = format;
        if (app.count("--alignment") != 0)
            options.alignment = alignment == "lr" ? "Linkwitz-Riley" : "Tarn";
        if (app.count("--taps") != 0) {
            const auto n = IntegerFromText(taps);
            if (!n || *n < MinTapCount || *n > MaxTapCount)
                throw CLI::ValidationError("--taps", "\"" + taps + "\" is not a tap count from " +
                                                         std::to_string(MinTapCount) + " to " +
                                                         std::to_string(MaxTapCount));
            options.taps = *n;
        }
        for (const std::string& text : levels) {
            const auto [band, value] = BandValue(text, "--level");
            const double db = Number(value, "--level " + text);
            if (db < MinLevelDb || db > MaxLevelDb)
                throw CLI::ValidationError("--level " + text, "the level lies outside -60..20 dB");
            options.trims.push_back({BandWord(band, "--level " + text), db, std::nullopt, false});
        }
        for (const std::string& text : delays) {
            const auto [band, value] = BandValue(text, "--delay");
            const bool mm = value.size() > 2 && value.ends_with("mm");
            double ms = Number(mm ? value.substr(0, value.size() - 2) : value, "--delay " + text);
            if (mm) ms = DelayMsFromMillimetres(ms);
            if (ms < 0.0 || ms > MaxDelayMs)
                throw CLI::ValidationError("--delay " + text, "the delay lies outside 0..20 ms");
            options.trims.push_back({BandWord(band, "--delay " + text), std::nullopt, ms, false});
        }
        for (const std::string& band : inverts)
            options.trims.push_back(
                {BandWord(band, "--invert " + band), std::nullopt, std::nullopt, true});
        // Given but empty is a text that holds no integer, as in an empty spin edit.
        if (app.count("--order") != 0) options.order = order;
        for (int i = 0; i < 4; ++i)
            if (app.count("F" + std::to_string(i + 1)) != 0)
                options.frequencies.push_back(fields[i]);
    } catch (const CLI::CallForVersion& e) {
        result.exitStatus = app.exit(e, out, err);
        return result;
    } catch (const CLI::CallForHelp& e) {
        result.exitStatus = app.exit(e, out, err);
        return result;
    } catch (const CLI::ParseError& e) {
        app.exit(e, out, err);
        result.exitStatus = 2;
        return result;
    }
    result.options = std::move(options);
    return result;
}

} // namespace tarn
