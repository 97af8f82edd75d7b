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
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);

    FileWatch watch(path);
    EXPECT_EQ(watch.path(), path);
    EXPECT_EQ(watch.device(), status.st_dev);
    EXPECT_EQ(watch.inode(), status.st_ino);
    EXPECT_EQ(watch.size(), 23);
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
    EXPECT_EQ(watch.size(), 23);
    test::append_file(path, "From b\n  Folder: inbox\n");
    EXPECT_TRUE(watch.changed());
    EXPECT_EQ(watch.size(), 46);
    EXPECT_FALSE(watch.changed());
}

TEST_F(FileWatchTest, DeletedLogIsNoChangeUntilItIsBack) {
    test::write_file(path, "From a\n  Folder: inbox\n");
    FileWatch watch(path);
    const ino_t inode = watch.inode();
    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_FALSE(watch.changed());
    EXPECT_FALSE(watch.changed());
    EXPECT_EQ(watch.inode(), inode);  // the record stays
    EXPECT_EQ(watch.size(), 23);

    test::write_file(path, "");
    EXPECT_TRUE(watch.changed());
    EXPECT_EQ(watch.size(), 0);
    EXPECT_FALSE(watch.changed());
}

TEST_F(FileWatchTest, SeesTheLogReplacedByAnotherFile) {
    const std::string contents = "From a\n  Folder: inbox\n";
    test::write_file(path, contents);
    FileWatch watch(path);
    // The same size, so only the file's identity tells.
    const std::string other = dir / "procmail.log.new";
    test::write_file(other, contents);
    struct stat replacement {};
    ASSERT_EQ(::stat(other.c_str(), &replacement), 0);
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);

    EXPECT_TRUE(watch.changed());
    EXPECT_EQ(watch.inode(), replacement.st_ino);
    EXPECT_FALSE(watch.changed());
}

TEST_F(FileWatchTest, MissingAtConstructionShowsOnceCreated) {
    FileWatch watch(path);
    EXPECT_EQ(watch.inode(), 0u);
    EXPECT_EQ(watch.size(), 0);
    EXPECT_FALSE(watch.changed());
    test::write_file(path, "");
    EXPECT_TRUE(watch.changed());  // even empty: the zeroed record names no file
    EXPECT_NE(watch.inode(), 0u);
    EXPECT_FALSE(watch.changed());
}

}  // namespace
