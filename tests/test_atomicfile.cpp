// The one atomic file writer: what it leaves on disk when it succeeds, when it refuses and
// when it is abandoned, and the temporary names the stale-file removal recognises.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "core/AtomicFile.h"
#include "tests/TestSupport.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
  protected:
    // The error a write of "new" to name fails with, or 0.
    int WriteError(const std::string& name) {
        try {
            ReplaceFile(dir.Path() / name, "new");
        } catch (const AtomicFileError& e) {
            return e.Error();
        }
        return 0;
    }
    test::TempDir dir;
};

TEST(TemporaryNames, AreHiddenAndLeadBackToTheirTarget) {
    const std::string temp = TemporaryName("XOLowL44.dbl");
    EXPECT_TRUE(temp.starts_with(".tarn-XOLowL44.dbl-")) << temp;
    EXPECT_EQ(TemporaryTarget(temp), "XOLowL44.dbl");
    EXPECT_NE(TemporaryName("a"), TemporaryName("a"));
    EXPECT_EQ(TemporaryTarget(".tarn-TarnProject.ini-0123456789ab.tmp"), "TarnProject.ini");
    for (const char* other :
         {"x.tmp", ".tarn-x.tmp", ".tarn--0123456789ab.tmp", ".tarn-x-0123456789AB.tmp",
          ".tarn-x_0123456789ab.tmp", ".TarnProject.ini.123.4.tmp", ".tarn-x-0123456789ab.tmpx"})
        EXPECT_EQ(TemporaryTarget(other), std::nullopt) << other;
}

TEST_F(AtomicFileTest, ReplacesTheFileAndLeavesNothingElse) {
    test::WriteText(dir.Path() / "a", std::string(1000, 'o'));
    ReplaceFile(dir.Path() / "a", std::string("n\0w", 3));
    EXPECT_EQ(test::ReadText(dir.Path() / "a"), std::string("n\0w", 3));
    EXPECT_EQ(test::FileNames(dir.Path()), std::vector<std::string>{"a"});
}

TEST_F(AtomicFileTest, NothingAppearsBeforeTheCommitOrAfterAnAbandonedWrite) {
    test::WriteText(dir.Path() / "a", "old");
    {
        AtomicFile file(dir.Path() / "a");
        file.Write("new", 3);
        file.Sync();
        EXPECT_EQ(test::ReadText(dir.Path() / "a"), "old");
        EXPECT_EQ(test::FileNames(dir.Path()).size(), 2u);
    }
    EXPECT_EQ(test::FileNames(dir.Path()), std::vector<std::string>{"a"});
    EXPECT_EQ(test::ReadText(dir.Path() / "a"), "old");
}

TEST_F(AtomicFileTest, RefusesProtectedFilesAndDirectoriesEvenThroughLinks) {
    test::WriteText(dir.Path() / "ro", "keep");
    fs::permissions(dir.Path() / "ro", fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory(dir.Path() / "dir");
    fs::create_symlink("ro", dir.Path() / "link-ro");
    fs::create_symlink("dir", dir.Path() / "link-dir");
    EXPECT_EQ(WriteError("ro"), EACCES);
    EXPECT_EQ(WriteError("link-ro"), EACCES);
    EXPECT_EQ(WriteError("dir"), EISDIR);
    EXPECT_EQ(WriteError("link-dir"), EISDIR);
    EXPECT_EQ(WriteError("missing/a"), ENOENT);
    EXPECT_EQ(test::ReadText(dir.Path() / "ro"), "keep");
    EXPECT_EQ(test::FileNames(dir.Path()), (std::vector<std::string>{"link-ro", "ro"}));
}

TEST_F(AtomicFileTest, ALinkIsReplacedNotFollowed) {
    test::WriteText(dir.Path() / "elsewhere", "theirs");
    fs::create_symlink("elsewhere", dir.Path() / "a");
    ReplaceFile(dir.Path() / "a", "new");
    EXPECT_FALSE(fs::is_symlink(dir.Path() / "a"));
    EXPECT_EQ(test::ReadText(dir.Path() / "a"), "new");
    EXPECT_EQ(test::ReadText(dir.Path() / "elsewhere"), "theirs");
}

TEST_F(AtomicFileTest, PermissionsAreKeptOnlyWhenAskedFor) {
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    for (const char* name : {"kept", "fresh"}) {
        test::WriteText(dir.Path() / name, "old");
        fs::permissions(dir.Path() / name, mode);
    }
    ReplaceFile(dir.Path() / "kept", "new", {.keepPermissions = true});
    ReplaceFile(dir.Path() / "fresh", "new");
    EXPECT_EQ(fs::status(dir.Path() / "kept").permissions(), mode);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(static_cast<mode_t>(fs::status(dir.Path() / "fresh").permissions()), 0666 & ~mask);
}

TEST_F(AtomicFileTest, ATemporaryNameFitsWhereverTheTargetFits) {
    // A directory whose path leaves room for the target's name but not for the longer
    // temporary one: the names are used relative to the open directory.
    fs::path deep = dir.Path();
    while (deep.string().size() < PATH_MAX - 150)
        deep /= std::string(100, 'd');
    deep /= std::string(PATH_MAX - 21 - deep.string().size(), 'e');
    fs::create_directories(deep);
    const fs::path target = deep / "TarnProject.ini";
    ASSERT_LT(target.string().size(), static_cast<std::size_t>(PATH_MAX));
    ASSERT_GT((deep / TemporaryName("TarnProject.ini")).string().size(),
              static_cast<std::size_t>(PATH_MAX));
    ReplaceFile(target, "new");
    EXPECT_EQ(test::ReadText(target), "new");
}

} // namespace
} // namespace tarn
