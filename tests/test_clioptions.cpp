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
    EXPECT_TRUE(after.result.options->minimumPhase);

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

} // namespace
} // namespace tarn
