// The file helpers every layer reads through: what is refused and why, and reads that never
// leave a gap when the data arrives in pieces.
#include "base/file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "support/succeeded.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

TEST(OpenRegularFile, TakesRegularFilesAndSaysWhyOthersAreRefused) {
  test::TempDir dir;
  test::WriteFile(dir / "package.tar", std::string(1000, 'x'));
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((dir / "package.tar").c_str(), (dir / "link").c_str()), 0);

  const Result<OpenedFile> file = OpenRegularFile(dir / "package.tar");
  ASSERT_TRUE(test::Succeeded(file));
  EXPECT_EQ(file->size, 1000u);
  EXPECT_TRUE(OpenRegularFile(dir / "link")) << "a link to a regular file is read through";

  const struct {
    std::string path;
    const char* reason;
    int errorNumber;
  } refused[] = {
      {dir / "missing.tar", "no such file", ENOENT},
      {dir.Path().string(), "a directory, not a file", EISDIR},
      {dir / "pipe", "a pipe, not a regular file", EINVAL},  // refused at once, never waited on
      {"/dev/zero", "a device, not a regular file", EINVAL},
      {"", "no file given", ENOENT},
  };
  for (const auto& c : refused) {
    const Result<OpenedFile> f = OpenRegularFile(c.path);
    EXPECT_FALSE(f) << c.path;
    EXPECT_EQ(f.error().text, c.reason) << c.path;
    EXPECT_EQ(f.error().errorNumber, c.errorNumber) << c.path;
  }
}

TEST(OutputPathProblem, OnlyAbsentPathsAndRegularFilesMayBeWritten) {
  test::TempDir dir;
  test::WriteFile(dir / "old.tar", "x");
  ASSERT_EQ(::symlink((dir / "old.tar").c_str(), (dir / "link").c_str()), 0);
  EXPECT_EQ(OutputPathProblem(dir / "new.tar"), "");
  EXPECT_EQ(OutputPathProblem(dir / "old.tar"), "");
  EXPECT_EQ(OutputPathProblem(dir / "link"), "a symbolic link, not a regular file");
  EXPECT_EQ(OutputPathProblem("/dev/full"), "a device, not a regular file");
  EXPECT_EQ(OutputPathProblem(dir.Path().string()), "a directory, not a file");
}

// A pipe hands its data over in the pieces the writer wrote: the reads must join them.
TEST(ReadFully, JoinsShortReadsAndStopsAtTheEnd) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd readEnd(fds[0]);
  std::thread writer([fd = fds[1]] {
    for (char c : std::string("abcdefgh")) {
      EXPECT_TRUE(WriteFully(fd, &c, 1));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::close(fd);
  });
  char buffer[16] = {};
  EXPECT_EQ(ReadFully(readEnd.Get(), buffer, 6), 6);
  EXPECT_EQ(std::string(buffer, 6), "abcdef");
  EXPECT_EQ(ReadFully(readEnd.Get(), buffer, 10), 2) << "the end of the data ends the read";
  EXPECT_EQ(std::string(buffer, 2), "gh");
  writer.join();
}

TEST(ReadFullyAt, ReadsAtAPositionAndReportsTheShortEnd) {
  test::TempDir dir;
  test::WriteFile(dir / "f", "0123456789");
  const Result<OpenedFile> file = OpenRegularFile(dir / "f");
  ASSERT_TRUE(file);
  char buffer[8] = {};
  EXPECT_TRUE(ReadExactAt(file->fd.Get(), buffer, 4, 3));
  EXPECT_EQ(std::string(buffer, 4), "3456");
  EXPECT_EQ(ReadFullyAt(file->fd.Get(), buffer, 8, 6), 4);
  EXPECT_FALSE(ReadExactAt(file->fd.Get(), buffer, 8, 6));
  EXPECT_EQ(ReadFullyAt(-1, buffer, 1, 0), -1);
}

// A file of the proc file system hands its text over a page at a time, whatever is asked for:
// the positioned read must join the pages.
TEST(ReadFullyAt, JoinsShortReadsInTheMiddleOfAFile) {
  const Result<OpenedFile> smaps = OpenRegularFile("/proc/self/smaps");
  ASSERT_TRUE(test::Succeeded(smaps));
  std::string once(65536, '\0');
  const ssize_t first = ::pread(smaps->fd.Get(), once.data(), once.size(), 0);
  ASSERT_GT(first, 0);
  ASSERT_LT(static_cast<size_t>(first), once.size()) << "a single read is not short here";
  std::string joined(3 * static_cast<size_t>(first), '\0');
  EXPECT_EQ(ReadFullyAt(smaps->fd.Get(), joined.data(), joined.size(), 0),
            static_cast<ssize_t>(joined.size()));
}

TEST(WriteFullyAt, WritesAtAPositionAndLeavesTheOffsetAlone) {
  test::TempDir dir;
  test::WriteFile(dir / "f", "0123456789");
  UniqueFd fd(::open((dir / "f").c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(fd);
  EXPECT_TRUE(WriteFullyAt(fd.Get(), "abc", 3, 4));
  EXPECT_TRUE(WriteFully(fd.Get(), "X", 1)) << "the offset is still at the start";
  EXPECT_TRUE(WriteFullyAt(fd.Get(), "yz", 2, 12)) << "past the end the file grows";
  EXPECT_FALSE(WriteFullyAt(fd.Get(), "q", 1, uint64_t{1} << 63)) << "no file reaches there";
  EXPECT_TRUE(fd.Close());
  EXPECT_FALSE(fd) << "a closed owner holds nothing";
  EXPECT_FALSE(fd.Close()) << "nothing is closed twice";
  EXPECT_EQ(test::ReadFile(dir / "f"), std::string("X123abc789\0\0yz", 14));
}

}  // namespace
}  // namespace mirk3
