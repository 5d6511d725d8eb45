// tarn-cli's command line read in-process: every argument is one field's text, and an
// option given an empty value is wrong usage rather than a silent default.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "project/CliOptions.h"

namespace tarn {
namespace {

struct Read {
    CliParse result;
    std::string out;
    std::string err;
};

Read Parse(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv{"tarn-cli"};
    for (const auto& a : arguments)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    Read r;
    r.result = ParseCliOptions(static_cast<int>(argv.size()), argv.data(), out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

TEST(CliOptions, EveryArgumentIsOneFieldText) {
    const Read r = Parse({"[500,2000]", "", "1,5", "-300"});
    ASSERT_TRUE(r.result.options) << r.err;
    EXPECT_EQ(r.result.options->frequencies,
              (std::vector<std::string>{"[500,2000]", "", "1,5", "-300"}));

    const Read after = Parse({"--rate", "48000", "--", "--phase", "[80]"});
    ASSERT_TRUE(after.result.options) << after.err;
    EXPECT_EQ(after.result.options->rate, 48000);
    EXPECT_EQ(after.result.options->frequencies, (std::vector<std::string>{"--phase", "[80]"}));
    EXPECT_FALSE(after.result.options->minimumPhase.has_value()); // the project decides

    const Read five = Parse({"1", "2", "3", "4", "5"});
    EXPECT_FALSE(five.result.options);
    EXPECT_EQ(five.result.exitStatus, 2);
}

TEST(CliOptions, EmptyValuesAreWrongUsage) {
    for (const char* option : {"--rate", "--precision", "--phase"}) {
        const Read r = Parse({option, "", "500"});
        EXPECT_FALSE(r.result.options) << option;
        EXPECT_EQ(r.result.exitStatus, 2) << option;
        EXPECT_NE(r.err.find(option), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(CliOptions, AnOrderGivenEmptyIsKeptApartFromNoOrder) {
    const Read none = Parse({"500"});
    ASSERT_TRUE(none.result.options);
    EXPECT_FALSE(none.result.options->order);

    const Read empty = Parse({"--order", "", "500"});
    ASSERT_TRUE(empty.result.options) << empty.err;
    EXPECT_EQ(empty.result.options->order, std::optional<std::string>(""));
    EXPECT_EQ(empty.result.options->frequencies, std::vector<std::string>{"500"});
}

TEST(CliOptions, HelpGoesToStandardOutputWithStatusZero) {
    const Read r = Parse({"--help"});
    EXPECT_FALSE(r.result.options);
    EXPECT_EQ(r.result.exitStatus, 0);
    EXPECT_NE(r.out.find("--precision"), std::string::npos);
    EXPECT_EQ(r.err, "");
}

TEST(CliOptions, VersionGoesToStandardOutputWithStatusZero) {
    // Also after other options: it ends the run before anything is computed.
    for (const auto& arguments :
         {std::vector<std::string>{"--version"},
          std::vector<std::string>{"--rate", "48000", "--version", "500"}}) {
        const Read r = Parse(arguments);
        EXPECT_FALSE(r.result.options);
        EXPECT_EQ(r.result.exitStatus, 0);
        EXPECT_EQ(r.out, "tarn-cli " TARN_VERSION "\n");
        EXPECT_EQ(r.err, "");
    }
    EXPECT_NE(Parse({"--help"}).out.find("--version"), std::string::npos);
}

TEST(CliOptions, DesignSettingsAndPerBandTrims) {
    const Read r =
        Parse({"--rate",   "all",     "--format", "wav",     "--alignment", "lr",      "--taps",
               "6144",     "--level", "High=-6",  "--delay", "High=0.5",    "--delay", "Sub=343mm",
               "--invert", "Mid",     "--level",  "Full=2",  "80",          "500"});
    ASSERT_TRUE(r.result.options) << r.err;
    const CliOptions& o = *r.result.options;
    EXPECT_EQ(o.rate, 0);
    EXPECT_EQ(o.format, "wav");
    EXPECT_EQ(o.alignment, "Linkwitz-Riley");
    EXPECT_EQ(o.taps, 6144);
    ASSERT_EQ(o.trims.size(), 5u);
    // Levels first, then delays, then inversions, each in the order given.
    EXPECT_EQ(o.trims[0].band, "High");
    EXPECT_EQ(o.trims[0].levelDb, -6.0);
    EXPECT_EQ(o.trims[1].band, "");
    EXPECT_EQ(o.trims[1].levelDb, 2.0);
    EXPECT_EQ(o.trims[2].delayMs, 0.5);
    EXPECT_EQ(o.trims[3].band, "Sub");
    EXPECT_DOUBLE_EQ(*o.trims[3].delayMs, 1.0); // 343 mm at 343 m/s
    EXPECT_TRUE(o.trims[4].invert);
    EXPECT_EQ(Parse({"--rate", "96000"}).result.options->rate, 96000);
}

TEST(CliOptions, BadDesignArgumentsAreWrongUsageNamingTheArgument) {
    struct Case {
        std::vector<std::string> args;
        const char* named; // what the message must name
    };
    for (const Case& c :
         {Case{{"--rate", "22050"}, "--rate"}, Case{{"--rate", "all48"}, "--rate"},
          Case{{"--taps", "255"}, "--taps"}, Case{{"--taps", "131073"}, "--taps"},
          Case{{"--taps", "8k"}, "--taps"}, Case{{"--format", "flac"}, "--format"},
          Case{{"--alignment", "bessel"}, "--alignment"},
          Case{{"--level", "Tweeter=-3"}, "Tweeter"}, Case{{"--level", "High=-61"}, "High=-61"},
          Case{{"--level", "High=21"}, "High=21"}, Case{{"--level", "High"}, "--level"},
          Case{{"--level", "High=loud"}, "High=loud"}, Case{{"--delay", "Low=-1"}, "Low=-1"},
          Case{{"--delay", "Low=20.1"}, "Low=20.1"}, Case{{"--delay", "Low=7000mm"}, "Low=7000mm"},
          Case{{"--delay", "Low=1e999"}, "Low=1e999"}, Case{{"--invert", "high"}, "high"}}) {
        const Read r = Parse(c.args);
        EXPECT_FALSE(r.result.options) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(r.result.exitStatus, 2) << c.args[0] << " " << c.args[1];
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    }
}

} // namespace
} // namespace tarn
