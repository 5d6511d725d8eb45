#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "crossover/Tarndef.h"
#include "project/IniFile.h"
#include "tests/TestSupport.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
  protected:
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    }

    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }
    void Put(const std::string& name, const std::string& bytes) const {
        test::WriteText(dir_ / name, bytes);
    }
    std::string Get(const std::string& name) const { return test::ReadText(dir_ / name); }
    // Names in the directory: a write must leave no temporary file behind.
    std::size_t EntryCount() const {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_))
            ++n;
        return n;
    }

    test::TempDir scratch_;
    const fs::path& dir_ = scratch_.Path();
};

// A file as the Windows program and a user's editor leave it.
const std::string WindowsFile = "; written by hand\r\n"
                                "[Other]\r\n"
                                "FilterOrder=3\r\n"
                                "\r\n"
                                "[ crossover ]\r\n"
                                "  frequency1 =  80  \r\n"
                                "Frequency2\t=\t\"500 Hz\"\r\n"
                                ";Frequency3=999\r\n"
                                "Frequency3='3000'\r\n"
                                "Frequency4=\"8000'\r\n"
                                "FILTERORDER = 0x10\r\n"
                                "Empty=\r\n"
                                "\r\n"
                                "[Tail]\r\n"
                                "x=1\r\n";

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault) {
    IniFile missing(PathOf("none.ini"));
    EXPECT_EQ(missing.ReadString("Crossover", "Frequency1", "def"), "def");
    EXPECT_EQ(missing.ReadInteger("Crossover", "FilterOrder", 10), 10);

    Put("a.ini", WindowsFile);
    IniFile ini(PathOf("a.ini"));
    EXPECT_EQ(ini.ReadString("Nowhere", "x", "d"), "d");
    EXPECT_EQ(ini.ReadString("Crossover", "Missing", "d"), "d");
    // A key of another section is not found in this one.
    EXPECT_EQ(ini.ReadString("Tail", "FilterOrder", "d"), "d");
    // A present key with an empty value is empty, not the default.
    EXPECT_EQ(ini.ReadString("Crossover", "Empty", "d"), "");

    // A directory of that name is no file.
    fs::create_directory(dir_ / "dir.ini");
    EXPECT_EQ(IniFile(PathOf("dir.ini")).ReadString("a", "b", "d"), "d");
}

TEST_F(IniFileTest, ReadsTheShapesWindowsWrites) {
    Put("a.ini", WindowsFile);
    IniFile ini(PathOf("a.ini"));
    EXPECT_EQ(ini.ReadString("Crossover", "Frequency1", ""), "80");
    EXPECT_EQ(ini.ReadString("CROSSOVER", "frequency2", ""), "500 Hz");
    // A commented-out line is no key; single quotes are stripped like double ones.
    EXPECT_EQ(ini.ReadString("Crossover", "Frequency3", ""), "3000");
    // Quotes that do not match stay.
    EXPECT_EQ(ini.ReadString("Crossover", "Frequency4", ""), "\"8000'");
    EXPECT_EQ(ini.ReadInteger("Crossover", "FilterOrder", 10), 16);
    EXPECT_EQ(ini.ReadInteger("Other", "FilterOrder", 10), 3);
    EXPECT_EQ(ini.ReadString("tail", "X", ""), "1");
}

TEST_F(IniFileTest, LineEndsOfEveryKind) {
    Put("lf.ini", "[S]\na=1\nb=2");
    Put("cr.ini", "[S]\ra=1\rb=2\r");
    Put("mixed.ini", "[S]\r\na=1\nb=2\r");
    for (const char* name : {"lf.ini", "cr.ini", "mixed.ini"}) {
        IniFile ini(PathOf(name));
        EXPECT_EQ(ini.ReadString("S", "a", ""), "1") << name;
        EXPECT_EQ(ini.ReadString("S", "b", ""), "2") << name;
    }
}

TEST_F(IniFileTest, FirstSectionAndFirstKeyWin) {
    Put("a.ini", "[S]\r\nk=first\r\nK=second\r\n[s]\r\nk=third\r\nonly=later\r\n");
    IniFile ini(PathOf("a.ini"));
    EXPECT_EQ(ini.ReadString("S", "k", ""), "first");
    EXPECT_EQ(ini.ReadString("S", "only", "d"), "d");
}

TEST_F(IniFileTest, KeysBeforeAnySectionBelongToNone) {
    Put("a.ini", "k=outside\r\n[S]\r\nj=inside\r\n");
    IniFile ini(PathOf("a.ini"));
    EXPECT_EQ(ini.ReadString("S", "k", "d"), "d");
    EXPECT_EQ(ini.ReadString("S", "j", "d"), "inside");
}

TEST_F(IniFileTest, ValuesAreCutAt2047Characters) {
    const std::string exact(2047, 'a');
    Put("a.ini", "[S]\r\nexact=" + exact + "\r\nlong=" + std::string(2047, 'b') + "cut\r\n" +
                     "umlaut=" + std::string(3000, '\xE4') + "\r\n");
    IniFile ini(PathOf("a.ini"));
    EXPECT_EQ(ini.ReadString("S", "exact", ""), exact);
    EXPECT_EQ(ini.ReadString("S", "long", ""), std::string(2047, 'b'));
    // The cut counts characters of the file, not bytes of the UTF-8 result.
    std::string umlauts;
    for (int i = 0; i < 2047; ++i)
        umlauts += "ä";
    EXPECT_EQ(ini.ReadString("S", "umlaut", ""), umlauts);
}

TEST_F(IniFileTest, IntegerReadings) {
    Put("a.ini", "[S]\nhex=0x10\ndollar=$10\nx=X1f\nabc=abc\nempty=\nneg= -5\n"
                 "plus=+7\nbig=99999999999\nzero=0x\n");
    IniFile ini(PathOf("a.ini"));
    EXPECT_EQ(ini.ReadInteger("S", "hex", 10), 16);
    EXPECT_EQ(ini.ReadInteger("S", "dollar", 10), 16);
    EXPECT_EQ(ini.ReadInteger("S", "X", 10), 31);
    EXPECT_EQ(ini.ReadInteger("S", "abc", 10), 10);
    EXPECT_EQ(ini.ReadInteger("S", "empty", 10), 10);
    EXPECT_EQ(ini.ReadInteger("S", "neg", 10), -5);
    EXPECT_EQ(ini.ReadInteger("S", "plus", 10), 7);
    EXPECT_EQ(ini.ReadInteger("S", "big", 10), 10);
    EXPECT_EQ(ini.ReadInteger("S", "zero", 10), 10);
    EXPECT_EQ(ini.ReadInteger("S", "missing", 42), 42);
}

TEST_F(IniFileTest, NewFileHasOneSectionAndOneKeyInCrLf) {
    IniFile ini(PathOf("Tarn.ini"));
    ini.WriteString("Project", "ProjectDir", "/a/b/");
    EXPECT_EQ(Get("Tarn.ini"), "[Project]\r\nProjectDir=/a/b/\r\n");
    ini.WriteInteger("Project", "Count", -12);
    EXPECT_EQ(Get("Tarn.ini"), "[Project]\r\nProjectDir=/a/b/\r\nCount=-12\r\n");
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(IniFileTest, ReplacingAValueKeepsEveryOtherByte) {
    Put("a.ini", WindowsFile);
    IniFile ini(PathOf("a.ini"));
    ini.WriteInteger("Crossover", "filterorder", 7);
    std::string expected = WindowsFile;
    const std::string old = "FILTERORDER = 0x10";
    expected.replace(expected.find(old), old.size(), "FILTERORDER=7");
    EXPECT_EQ(Get("a.ini"), expected);

    ini.WriteString("crossover", "Frequency1", "100");
    expected.replace(expected.find("  frequency1 =  80  "), 20, "frequency1=100");
    EXPECT_EQ(Get("a.ini"), expected);
    EXPECT_EQ(ini.ReadInteger("Crossover", "FilterOrder", 10), 7);
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(IniFileTest, SeveralWritesAtOnceLeaveWhatTheyLeaveOneByOne) {
    // Odd files as hands and other programs leave them; the writes of a run plus keys of a
    // section of its own, new and existing, written twice.
    const std::vector<std::string> files = {
        "",
        WindowsFile,
        "[Crossover]",
        "[Crossover]\rFrequency1=1\rFilterOrder=3",
        "; top\n\n[crossover]\n\n  frequency2 = x \n\n\n[Other]\nk=v\n[Crossover]\nx=1\n",
        "[Other]\r\nk=1\n[Crossover]\r\n;Frequency1=9\rX-WAY-SYSTEM=9\r\n\r\n   ",
        "k=before any section\r\nFrequency1=x\r\n",
        "[Bands]\r\nSubLevel=1\r\n[Crossover] ; comment\r\nFrequency4=\"8000\"",
    };
    const std::vector<IniWrite> writes = {
        {"Crossover", "Frequency1", "80"},  {"Crossover", "Frequency2", "500"},
        {"Crossover", "Frequency3", ""},    {"Crossover", "Frequency4", "8000"},
        {"Crossover", "FilterOrder", "10"}, {"Bands", "SubLevel", "-3"},
        {"Bands", "MidDelay", "0.5"},       {"Crossover", "X-way-system", "3"},
        {"Crossover", "Frequency1", "81"},
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(i);
        Put("one.ini", files[i]);
        Put("all.ini", files[i]);
        IniFile one(PathOf("one.ini"));
        for (const IniWrite& w : writes)
            one.WriteString(w.section, w.key, w.value);
        IniFile(PathOf("all.ini")).WriteStrings(writes);
        EXPECT_EQ(Get("all.ini"), Get("one.ini"));
        EXPECT_EQ(EntryCount(), 2u);
    }
    // A file that does not exist yet.
    fs::remove(dir_ / "one.ini");
    fs::remove(dir_ / "all.ini");
    IniFile one(PathOf("one.ini"));
    for (const IniWrite& w : writes)
        one.WriteString(w.section, w.key, w.value);
    IniFile(PathOf("all.ini")).WriteStrings(writes);
    EXPECT_EQ(Get("all.ini"), Get("one.ini"));
}

TEST_F(IniFileTest, OnlyTheFirstOfDuplicateKeysIsReplaced) {
    Put("a.ini", "[S]\r\nk=1\r\nk=2\r\n");
    IniFile(PathOf("a.ini")).WriteString("S", "K", "3");
    EXPECT_EQ(Get("a.ini"), "[S]\r\nk=3\r\nk=2\r\n");
}

TEST_F(IniFileTest, NewKeyGoesAfterTheLastNonBlankLineOfItsSection) {
    Put("a.ini", WindowsFile);
    IniFile(PathOf("a.ini")).WriteString("Crossover", "X-way-system", "3");
    std::string expected = WindowsFile;
    const std::string anchor = "Empty=\r\n";
    expected.insert(expected.find(anchor) + anchor.size(), "X-way-system=3\r\n");
    EXPECT_EQ(Get("a.ini"), expected);

    // A comment is a non-blank line of the section too.
    Put("b.ini", "[S]\na=1\n;note\n\n\n[T]\n");
    IniFile(PathOf("b.ini")).WriteString("S", "b", "2");
    EXPECT_EQ(Get("b.ini"), "[S]\na=1\n;note\nb=2\n\n\n[T]\n");

    // An empty section: right after its header.
    Put("c.ini", "[S]\n\n[T]\nz=0\n");
    IniFile(PathOf("c.ini")).WriteString("S", "b", "2");
    EXPECT_EQ(Get("c.ini"), "[S]\nb=2\n\n[T]\nz=0\n");
}

TEST_F(IniFileTest, AddedLinesUseTheFilesLineEnd) {
    Put("lf.ini", "[A]\nk=1\n");
    IniFile(PathOf("lf.ini")).WriteString("B", "k", "2");
    EXPECT_EQ(Get("lf.ini"), "[A]\nk=1\n[B]\nk=2\n");

    // No final line end: the last line gets one before anything is added.
    Put("open.ini", "[A]\r\nk=1");
    IniFile(PathOf("open.ini")).WriteString("A", "j", "2");
    EXPECT_EQ(Get("open.ini"), "[A]\r\nk=1\r\nj=2\r\n");
    Put("open2.ini", "[A]\nk=1");
    IniFile(PathOf("open2.ini")).WriteString("B", "j", "2");
    EXPECT_EQ(Get("open2.ini"), "[A]\nk=1\n[B]\nj=2\n");
    // Replacing the value of an unterminated last line adds nothing.
    IniFile(PathOf("open.ini")).WriteString("A", "j", "3");
    Put("open3.ini", "[A]\r\nk=1");
    IniFile(PathOf("open3.ini")).WriteString("A", "k", "5");
    EXPECT_EQ(Get("open3.ini"), "[A]\r\nk=5");

    // An empty existing file is a new one.
    Put("empty.ini", "");
    IniFile(PathOf("empty.ini")).WriteString("A", "k", "1");
    EXPECT_EQ(Get("empty.ini"), "[A]\r\nk=1\r\n");
}

TEST_F(IniFileTest, ANewlineInAValueCannotAddALine) {
    IniFile ini(PathOf("a.ini"));
    ini.WriteString("S", "k", "1\r\n[Evil]\nB=2\r");
    EXPECT_EQ(Get("a.ini"), "[S]\r\nk=1  [Evil] B=2 \r\n");
    EXPECT_EQ(ini.ReadString("Evil", "B", "none"), "none");
    EXPECT_EQ(ini.ReadString("S", "k", ""), "1  [Evil] B=2");
}

TEST_F(IniFileTest, TextsAreStoredAsWindows1252) {
    IniFile ini(PathOf("a.ini"));
    ini.WriteString("S", "k", "größer 100 µs €");
    EXPECT_EQ(Get("a.ini"), "[S]\r\nk=gr\xF6\xDF"
                            "er 100 \xB5s \x80\r\n");
    EXPECT_EQ(ini.ReadString("S", "k", ""), "größer 100 µs €");
    // Names are converted as well, and match in either case.
    ini.WriteString("Grüße", "Öl", "1");
    EXPECT_EQ(ini.ReadString("GRÜSSE", "öl", "d"), "d");
    EXPECT_EQ(ini.ReadString("GRÜßE", "öl", "d"), "1");
}

TEST_F(IniFileTest, TextsWindows1252CannotHoldAreStoredAsUtf8AndReadBackAsWritten) {
    IniFile ini(PathOf("a.ini"));
    struct Case {
        const char* what;
        std::string value;
        std::string stored; // the bytes of the value in the file
    };
    const std::vector<Case> cases = {
        {"Cyrillic", "/home/\xD0\xB8\xD0\xB2\xD0\xB0\xD0\xBD/",
         "/home/\xD0\xB8\xD0\xB2\xD0\xB0\xD0\xBD/"},
        {"CJK beside Latin-1", "\xC3\xA4\xE6\x97\xA5", "\xC3\xA4\xE6\x97\xA5"},
        {"Latin-1 only", "\xC3\xA4", "\xE4"},
        // In Windows-1252 these two characters would read back as the UTF-8 of an "a umlaut".
        {"Windows-1252 that reads as UTF-8", "\xC3\x83\xC2\xA4", "\xC3\x83\xC2\xA4"},
        {"invalid UTF-8 and a NUL", std::string("a\xFF\0b", 4), "a??b"},
    };
    for (const Case& c : cases) {
        ini.WriteString("S", "k", c.value);
        EXPECT_EQ(Get("a.ini"), "[S]\r\nk=" + c.stored + "\r\n") << c.what;
        EXPECT_EQ(ini.ReadString("S", "k", ""), c.stored == "a??b" ? "a??b" : c.value) << c.what;
    }
    // A UTF-8 byte-order mark is no part of the first line, and its file takes UTF-8.
    Put("bom.ini", "\xEF\xBB\xBF[S]\r\nk=\xC3\xA4\r\n");
    IniFile bom(PathOf("bom.ini"));
    EXPECT_EQ(bom.ReadString("S", "k", ""), "\xC3\xA4");
    bom.WriteString("S", "j", "\xC3\xB6");
    EXPECT_EQ(Get("bom.ini"), "\xEF\xBB\xBF[S]\r\nk=\xC3\xA4\r\nj=\xC3\xB6\r\n");
}

TEST(Cp1252, FullTableRoundTrips) {
    int undefined = 0;
    for (int b = 1; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::string utf8 = Cp1252ToUtf8(byte);
        if (utf8 == "\xEF\xBF\xBD") {
            ++undefined;
            EXPECT_EQ(Utf8ToCp1252(utf8), "?");
            continue;
        }
        EXPECT_EQ(Utf8ToCp1252(utf8), byte) << "byte " << b;
    }
    EXPECT_EQ(undefined, 5);
    EXPECT_EQ(Cp1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(Cp1252, KnownCodePoints) {
    EXPECT_EQ(Cp1252ToUtf8("\x80\x8A\x9F\xA0\xFF"), "€Š\u0178\u00A0ÿ");
    EXPECT_EQ(Utf8ToCp1252("‚„…†‡ˆ‰‹Œ‘’“”•–—˜™›œžŽ"),
              "\x82\x84\x85\x86\x87\x88\x89\x8B\x8C\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9B\x9C"
              "\x9E\x8E");
    // C1 controls are not in the code page, even where their bytes are.
    EXPECT_EQ(Utf8ToCp1252("\u0080\u009F"), "??");
    // NUL passes through both ways.
    EXPECT_EQ(Utf8ToCp1252(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(Cp1252ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Cp1252, InvalidUtf8BecomesQuestionMarks) {
    EXPECT_EQ(Utf8ToCp1252("a\xFF"
                           "b"),
              "a?b");
    EXPECT_EQ(Utf8ToCp1252("\xC3"), "?"); // cut short at the end
    EXPECT_EQ(Utf8ToCp1252("\xC3"
                           "A"),
              "?A");                                     // cut short by a plain character
    EXPECT_EQ(Utf8ToCp1252("\xC0\xAF"), "??");           // overlong "/"
    EXPECT_EQ(Utf8ToCp1252("\xED\xA0\x80"), "???");      // a surrogate
    EXPECT_EQ(Utf8ToCp1252("\xF4\x90\x80\x80"), "????"); // beyond U+10FFFF
    EXPECT_EQ(Utf8ToCp1252("\xF0\x9F\x8E\xB5"), "?");    // valid, outside the code page
}

TEST_F(IniFileTest, FailedWritesRaiseTheErrorAndLeaveNothingBehind) {
    const std::string missing = PathOf("nodir/Tarn.ini");
    try {
        IniFile(missing).WriteString("Project", "ProjectDir", "x");
        FAIL() << "no error";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "In " + missing + " kann nicht geschrieben werden");
    }

    fs::create_directory(dir_ / "dir.ini");
    EXPECT_THROW(IniFile(PathOf("dir.ini")).WriteString("S", "k", "v"), IniWriteError);
    EXPECT_TRUE(fs::is_directory(dir_ / "dir.ini"));
    EXPECT_EQ(EntryCount(), 1u);
}

// Permission bits do not stop root, so the read-only attribute is checked by the writer
// itself; this holds whoever runs the test.
TEST_F(IniFileTest, AReadOnlyFileIsNotReplaced) {
    Put("a.ini", "[S]\r\nk=1\r\n");
    fs::permissions(dir_ / "a.ini", fs::perms::owner_read | fs::perms::group_read);
    EXPECT_THROW(IniFile(PathOf("a.ini")).WriteString("S", "k", "2"), IniWriteError);
    EXPECT_EQ(Get("a.ini"), "[S]\r\nk=1\r\n");
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(IniFileTest, AnUnwritableDirectoryFails) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into any directory";
    Put("a.ini", "[S]\r\nk=1\r\n");
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(IniFile(PathOf("a.ini")).WriteString("S", "k", "2"), IniWriteError);
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(Get("a.ini"), "[S]\r\nk=1\r\n");
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(IniFileTest, AWriteKeepsPermissionsAndSymbolicLinks) {
    Put("a.ini", "[S]\r\nk=1\r\n");
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(dir_ / "a.ini", mode);
    fs::create_symlink("a.ini", dir_ / "link.ini");
    IniFile(PathOf("link.ini")).WriteString("S", "k", "2");
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.ini"));
    EXPECT_EQ(Get("a.ini"), "[S]\r\nk=2\r\n");
    EXPECT_EQ(fs::status(dir_ / "a.ini").permissions() & fs::perms::all, mode);
    EXPECT_EQ(EntryCount(), 2u);
}

TEST_F(IniFileTest, AFileThatIsNotTextIsAnErrorAndStaysAsItIs) {
    using namespace std::string_literals;
    const std::vector<std::string> files = {
        "[T]\0x\r\n[S]\nk=a\xFF\n"s,
        "\xFF\xFE[\0S\0]\0\r\0\n\0"s, // UTF-16, as some editors save
        "\xFE\xFF\0[\0S\0]"s,
    };
    for (const std::string& text : files) {
        Put("a.ini", text);
        IniFile ini(PathOf("a.ini"));
        EXPECT_THROW(ini.ReadString("S", "k", ""), IniReadError);
        EXPECT_THROW(ini.WriteString("S", "k", "2"), IniReadError);
        EXPECT_EQ(Get("a.ini"), text);
        EXPECT_EQ(EntryCount(), 1u);
    }
}

TEST_F(IniFileTest, StrayBytesAndHugeValues) {
    const std::string text = "[T]\x01x\r\n[S]\nk=a\x7F"
                             "b\xFF\nj=\x01\r\n";
    Put("a.ini", text);
    IniFile ini(PathOf("a.ini"));
    EXPECT_EQ(ini.ReadString("S", "k", ""), "a\x7F"
                                            "b\xC3\xBF");
    EXPECT_EQ(ini.ReadString("t", "k", "d"), "d");
    ini.WriteString("S", "j", "2");
    const std::string written = "[T]\x01x\r\n[S]\nk=a\x7F"
                                "b\xFF\nj=2\r\n";
    EXPECT_EQ(Get("a.ini"), written);

    // Ten megabytes in one line, written and read: must stay linear.
    const std::string big(10 * 1024 * 1024, 'v');
    ini.WriteString("Big", "value", big);
    EXPECT_EQ(ini.ReadString("Big", "value", ""), big.substr(0, 2047));
    EXPECT_EQ(ini.ReadUncut("Big", "value"), big);
    ini.WriteString("Big", "after", "1");
    EXPECT_EQ(ini.ReadString("Big", "after", ""), "1");
    EXPECT_EQ(Get("a.ini"), written + "[Big]\r\nvalue=" + big + "\r\nafter=1\r\n");
}

TEST_F(IniFileTest, AFileFarLargerThanSettingsIsRefusedNotRead) {
    Put("huge.ini", "[Crossover]\r\nFilterOrder=7\r\n");
    // Sparse: no disk space, but a size no settings file has.
    fs::resize_file(dir_ / "huge.ini", IniFile::MaxFileSize + 1);
    IniFile file(PathOf("huge.ini"));
    try {
        file.ReadString("Crossover", "FilterOrder", "");
        ADD_FAILURE() << "a file beyond the bound was read";
    } catch (const IniReadError& e) {
        EXPECT_NE(std::string(e.what()).find("too large"), std::string::npos) << e.what();
    }
    EXPECT_THROW(file.WriteString("Crossover", "FilterOrder", "8"), TarnError);

    // Read once, a file that changes afterwards is read again.
    Put("small.ini", "[Crossover]\r\nFilterOrder=7\r\n");
    IniFile small(PathOf("small.ini"));
    EXPECT_EQ(small.ReadInteger("Crossover", "FilterOrder", 0), 7);
    Put("small.ini", "[Crossover]\r\nFilterOrder=12\r\n");
    EXPECT_EQ(small.ReadInteger("Crossover", "FilterOrder", 0), 12);
}

} // namespace
} // namespace tarn
