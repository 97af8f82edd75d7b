#include "log/file_watch.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_support.hpp"

namespace {

class FileWatchTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string path = dir / "procmail.log";
};

TEST_F(FileWatchTest, RecordsTheFileAtConstruction) {
    test::write_file(path, "From a\n  Folder: inbox\n");
    FileWatch watch(path);
    EXPECT_FALSE(watch.changed());
    EXPECT_FALSE(watch.changed());
}

TEST_F(FileWatchTest, SeesEveryAppendHoweverClose) {
    test::write_file(path, "");
    FileWatch watch(path);
    EXPECT_FALSE(watch.changed());
    // Two deliveries well within one second (and likely within one tick of
    // the kernel's clock for file times): both must show.
    test::append_file(path, "From a\n  Folder: inbox\n");
    EXPECT_TRUE(watch.changed());
    test::append_file(path, "From b\n  Folder: inbox\n");
    EXPECT_TRUE(watch.changed());
    EXPECT_FALSE(watch.changed());
}

TEST_F(FileWatchTest, DeletedLogIsNoChangeUntilItIsBack) {
    test::write_file(path, "From a\n  Folder: inbox\n");
    FileWatch watch(path);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_FALSE(watch.changed());
    EXPECT_FALSE(watch.changed());

    // The record stayed: the same contents back under the same name is a
    // change all the same (another file, another status-change time).
    test::write_file(path, "From a\n  Folder: inbox\n");
    EXPECT_TRUE(watch.changed());
    EXPECT_FALSE(watch.changed());
}

TEST_F(FileWatchTest, SeesTheLogReplacedByAnotherFile) {
    const std::string contents = "From a\n  Folder: inbox\n";
    test::write_file(path, contents);
    FileWatch watch(path);
    // The same size, so only the file's identity tells.
    const std::string other = dir / "procmail.log.new";
    test::write_file(other, contents);
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);

    EXPECT_TRUE(watch.changed());
    EXPECT_FALSE(watch.changed());
}

TEST_F(FileWatchTest, MissingAtConstructionShowsOnceCreated) {
    FileWatch watch(path);
    EXPECT_FALSE(watch.changed());
    test::write_file(path, "");
    EXPECT_TRUE(watch.changed());  // even empty: the zeroed record names no file
    EXPECT_FALSE(watch.changed());
}

}  // namespace
