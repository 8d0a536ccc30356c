// The stream service over extended attributes: Samba's layout, the open modes, refusals.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/posix/streams_xattr.h"
#include "support/comment_fixture.h"

namespace qs::test {
namespace {

using platform::kInvalidStream;
using platform::kOpenStreamRead;
using platform::kOpenStreamWriteCreate;
using platform::XattrStreamFiles;

std::string ReadAll(platform::StreamService& streams, const std::string& streamPath) {
  const auto h = streams.OpenStream(streamPath, kOpenStreamRead);
  if (h == kInvalidStream) return "<no stream>";
  std::string out(static_cast<std::size_t>(streams.GetStreamSize(h)), '\0');
  const std::int32_t n = streams.ReadStream(h, out.data(), static_cast<std::int32_t>(out.size()));
  streams.CloseStream(h);
  return n == static_cast<std::int32_t>(out.size()) ? out : "<short read>";
}

class StreamsTest : public ::testing::Test {
 protected:
  std::string File(std::string_view name, std::string_view content = "content") {
    const std::string path = dir / std::string(name);
    WriteFile(path, content);
    return path;
  }
  TempDir dir;
  FaultyXattrIo io;
  XattrStreamFiles streams{io};
};

TEST_F(StreamsTest, WriteStoresBytesAndOneZeroAndLeavesContentAlone) {
  const std::string f = File("a.txt", "the content");
  struct stat before {};
  ASSERT_EQ(stat(f.c_str(), &before), 0);
  const auto h = streams.OpenStream(f + ":Comments:$DATA", kOpenStreamWriteCreate);
  ASSERT_NE(h, kInvalidStream);
  const std::string bytes("a\0b\0\r\0", 6);
  EXPECT_EQ(streams.WriteStream(h, bytes.data(), 6), 6);
  streams.CloseStream(h);
  EXPECT_EQ(RawAttr(f, kMacAttr), bytes + std::string(1, '\0'));
  EXPECT_EQ(ReadFile(f), "the content");
  struct stat after {};
  ASSERT_EQ(stat(f.c_str(), &after), 0);
  EXPECT_EQ(after.st_size, before.st_size);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(ReadAll(streams, f + ":Comments:$DATA"), bytes);
}

TEST_F(StreamsTest, ValuesAsStoredReadAsStreams) {
  struct Case {
    std::string value;
    std::string stream;
  };
  const Case cases[] = {
      {std::string("\0", 1), ""},                              // Samba's empty stream
      {"", ""},                                                // empty value from another tool
      {std::string("ab\0", 3), "ab"},                          // Samba's layout
      {std::string("a\0b\0\0", 5), std::string("a\0b\0", 4)},  // UTF-16 text in Samba's layout
      {"abc", "abc"},                                          // odd, no zero at the end: whole
      {"ab", "ab"},                                            // even: whole
      {std::string("ab\0\0", 4), std::string("ab\0\0", 4)},    // even, ends in zeros: whole
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string f = File("v" + std::to_string(n++));
    PutAttr(f, kMacAttr, c.value);
    EXPECT_EQ(ReadAll(streams, f + ":Comments:$DATA"), c.stream) << "value size " << c.value.size();
  }
}

// What is written reads back byte for byte. An odd stream that ends in a byte other than 0x00 is
// stored without Samba's 0x00: with it, the value would have even length and read back whole,
// one byte longer.
TEST_F(StreamsTest, StreamsReadBackAsWritten) {
  struct Case {
    std::string stream;
    std::string value;
  };
  const Case cases[] = {
      {"", std::string(1, '\0')},
      {std::string("a\0b\0", 4), std::string("a\0b\0\0", 5)},
      {std::string("a\0b\0c", 5), std::string("a\0b\0c", 5)},
      {"x", "x"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string f = File("w" + std::to_string(n++));
    const auto h = streams.OpenStream(f + ":Comments:$DATA", kOpenStreamWriteCreate);
    ASSERT_NE(h, kInvalidStream);
    EXPECT_EQ(streams.WriteStream(h, c.stream.data(), static_cast<std::int32_t>(c.stream.size())),
              static_cast<std::int32_t>(c.stream.size()));
    streams.CloseStream(h);
    EXPECT_EQ(RawAttr(f, kMacAttr), c.value) << "stream size " << c.stream.size();
    EXPECT_EQ(ReadAll(streams, f + ":Comments:$DATA"), c.stream)
        << "stream size " << c.stream.size();
  }
}

TEST_F(StreamsTest, ReadingFailsForMissingFileOrStream) {
  const std::string f = File("plain");
  EXPECT_EQ(streams.OpenStream(f + ":Comments:$DATA", kOpenStreamRead), kInvalidStream);
  EXPECT_EQ(streams.OpenStream(dir / "absent:Comments:$DATA", kOpenStreamRead), kInvalidStream);
  EXPECT_EQ(streams.OpenStream(f, kOpenStreamRead), kInvalidStream);  // no stream name at all
  // Other streams map onto their own attributes.
  PutAttr(f, "user.DosStream.AFP_AfpInfo:$DATA", std::string("xy\0", 3));
  EXPECT_EQ(ReadAll(streams, f + ":AFP_AfpInfo:$DATA"), "xy");
  EXPECT_EQ(streams.OpenStream(f + ":Comments:$DATA", kOpenStreamRead), kInvalidStream);
}

TEST_F(StreamsTest, FileNamesWithColonsKeepThem) {
  const std::string f = File("a:b.txt");
  const auto h = streams.OpenStream(f + ":Comments:$DATA", kOpenStreamWriteCreate);
  ASSERT_NE(h, kInvalidStream);
  EXPECT_EQ(streams.WriteStream(h, "xy", 2), 2);
  streams.CloseStream(h);
  EXPECT_EQ(RawAttr(f, kMacAttr), std::string("xy\0", 3));
}

TEST_F(StreamsTest, OpenForWritingCreatesOrEmpties) {
  const std::string f = File("a");
  PutAttr(f, kMacAttr, std::string("old text\0", 9));
  const auto h = streams.OpenStream(f + ":Comments:$DATA", kOpenStreamWriteCreate);
  ASSERT_NE(h, kInvalidStream);
  EXPECT_EQ(streams.GetStreamSize(h), 0);
  streams.CloseStream(h);
  EXPECT_EQ(RawAttr(f, kMacAttr), std::string(1, '\0'));
  // A handle that was closed is gone.
  EXPECT_EQ(streams.GetStreamSize(h), -1);
  EXPECT_EQ(streams.WriteStream(h, "x", 1), -1);
}

TEST_F(StreamsTest, ReadHandleCannotWriteAndReadsInPieces) {
  const std::string f = File("a");
  PutAttr(f, kMacAttr, std::string("0123456789\0", 11));
  const auto h = streams.OpenStream(f + ":Comments:$DATA", kOpenStreamRead);
  ASSERT_NE(h, kInvalidStream);
  EXPECT_EQ(streams.WriteStream(h, "x", 1), -1);
  char buf[8];
  EXPECT_EQ(streams.ReadStream(h, buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(streams.ReadStream(h, buf, 8), 6);
  EXPECT_EQ(std::string(buf, 6), "456789");
  EXPECT_EQ(streams.ReadStream(h, buf, 8), 0);
  streams.CloseStream(h);
}

// What the file system refuses fails the open or the write, whole.
TEST_F(StreamsTest, RefusedAttributesFailTheOpenOrTheWrite) {
  const std::string f = File("a", "content");
  io.setErrno = EOPNOTSUPP;  // a file system without user attributes
  EXPECT_EQ(streams.OpenStream(f + ":Comments:$DATA", kOpenStreamWriteCreate), kInvalidStream);
  io.setErrno = 0;
  io.getErrno = EOPNOTSUPP;
  EXPECT_EQ(streams.OpenStream(f + ":Comments:$DATA", kOpenStreamRead), kInvalidStream);
  io.getErrno = 0;

  for (int error : {E2BIG, ENOSPC}) {
    PutAttr(f, kMacAttr, std::string("kept\0", 5));
    io.setErrno = error;
    io.setFailFrom = 6;  // the open's check passes, the new text does not
    const auto h = streams.OpenStream(f + ":Comments:$DATA", kOpenStreamWriteCreate);
    ASSERT_NE(h, kInvalidStream);
    EXPECT_EQ(streams.WriteStream(h, "abcdefgh", 8), -1);
    io.setErrno = 0;
    streams.CloseStream(h);
    EXPECT_EQ(RawAttr(f, kMacAttr), std::string("kept\0", 5)) << "the old value stays whole";
  }
  EXPECT_EQ(ReadFile(f), "content");
}

// The file system's own limit: the value is refused, nothing partial stays, nothing crashes.
TEST_F(StreamsTest, ValueBeyondTheFileSystemLimitIsAFailedWrite) {
  const std::string f = File("big", "content");
  const auto h = streams.OpenStream(f + ":Comments:$DATA", kOpenStreamWriteCreate);
  ASSERT_NE(h, kInvalidStream);
  const std::string huge(70000, 'x');  // beyond any Linux attribute value
  EXPECT_EQ(streams.WriteStream(h, huge.data(), static_cast<std::int32_t>(huge.size())), -1);
  EXPECT_EQ(streams.WriteStream(h, "ok", 2), 2);
  streams.CloseStream(h);
  EXPECT_EQ(RawAttr(f, kMacAttr), std::string("ok\0", 3));
  EXPECT_EQ(ReadFile(f), "content");
}

TEST_F(StreamsTest, OnlyRegularFilesThatTheProgramMayWrite) {
  const std::string target = File("target");
  const std::string link = dir / "link";
  PlantLink(target, link);
  std::filesystem::create_directory(dir / "sub");
  const std::string viaLinkedDir = dir / "linkdir";
  PlantLink(dir / "sub", viaLinkedDir);
  WriteFile(dir / "sub/inner", "x");
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  const std::string readOnly = File("ro");
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
  PutAttr(readOnly, kMacAttr, std::string("r\0\0", 3));
  PutAttr(target, kMacAttr, std::string("t\0", 2));

  for (const std::string& path :
       {link, viaLinkedDir + "/inner", fifo, std::string(dir / "sub"), readOnly}) {
    EXPECT_EQ(streams.OpenStream(path + ":Comments:$DATA", kOpenStreamWriteCreate), kInvalidStream)
        << path;
  }
  // Reading never follows a link either; a read-only file can be read.
  EXPECT_EQ(streams.OpenStream(link + ":Comments:$DATA", kOpenStreamRead), kInvalidStream);
  EXPECT_EQ(ReadAll(streams, readOnly + ":Comments:$DATA"), std::string("r\0", 2));
  EXPECT_EQ(RawAttr(target, kMacAttr), std::string("t\0", 2));
  EXPECT_FALSE(RawAttr(dir / "sub/inner", kMacAttr).has_value());
}

// Run without root (as the program may be), the system's own permission check decides as well:
// a file whose owner write bit is set but that belongs to someone else is refused.
TEST_F(StreamsTest, WithoutRootOnlyFilesTheProgramMayWrite) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to another user";
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string theirs = File("theirs");  // root's, 0644
  ASSERT_EQ(chmod(theirs.c_str(), 0644), 0);
  const std::string mine = File("mine");
  ASSERT_EQ(chown(mine.c_str(), 65534, 65534), 0);
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    XattrStreamFiles own;
    int result = 0;
    if (own.OpenStream(theirs + ":Comments:$DATA", kOpenStreamWriteCreate) != kInvalidStream) {
      result |= 1;
    }
    if (own.OpenStream(mine + ":Comments:$DATA", kOpenStreamWriteCreate) == kInvalidStream) {
      result |= 2;
    }
    _exit(result);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: wrote on another's file, 2: refused its own file";
  EXPECT_FALSE(RawAttr(theirs, kMacAttr).has_value());
  EXPECT_EQ(RawAttr(mine, kMacAttr), std::string(1, '\0'));
}

// A link that root made (an administrator's: the share's folder lives elsewhere) is followed, in
// the folder part and as the last component; so is one of the program's own user.
TEST_F(StreamsTest, LinksOfRootAreFollowed) {
  std::filesystem::create_directory(dir / "data");
  const std::string f = dir / "data/file";
  WriteFile(f, "x");
  ASSERT_EQ(symlink((dir / "data").c_str(), (dir / "share").c_str()), 0);
  ASSERT_EQ(symlink("file", (dir / "data/alias").c_str()), 0);  // relative target
  for (const std::string& path : {std::string(dir / "share/file"), std::string(dir / "share/alias"),
                                  std::string(dir / "share/../data/./alias")}) {
    const auto h = streams.OpenStream(path + ":Comments:$DATA", kOpenStreamWriteCreate);
    ASSERT_NE(h, kInvalidStream) << path;
    EXPECT_EQ(streams.WriteStream(h, "ab", 2), 2);
    streams.CloseStream(h);
    EXPECT_EQ(RawAttr(f, kMacAttr), std::string("ab\0", 3)) << path;
    PutAttr(f, kMacAttr, "");
  }
  // A user's link inside the administrator's folder is not.
  PlantLink(f, dir / "data/planted");
  EXPECT_EQ(streams.OpenStream(dir / "share/planted:Comments:$DATA", kOpenStreamWriteCreate),
            kInvalidStream);
  // A loop of links ends.
  ASSERT_EQ(symlink("loop", (dir / "loop").c_str()), 0);
  EXPECT_EQ(streams.OpenStream(dir / "loop:Comments:$DATA", kOpenStreamRead), kInvalidStream);
}

// Root passes every permission check on a writable mount, but not on a read-only one.
TEST_F(StreamsTest, ReadOnlyMountRefusesWriting) {
  std::filesystem::create_directory(dir / "src");
  std::filesystem::create_directory(dir / "mnt");
  WriteFile(dir / "src/file", "x");
  const std::string mnt = dir / "mnt";
  if (mount((dir / "src").c_str(), mnt.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot bind-mount here (errno " << errno << ")";
  }
  MountGuard guard{mnt};
  if (mount(nullptr, mnt.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
    GTEST_SKIP() << "cannot make the bind mount read-only here (errno " << errno << ")";
  }
  EXPECT_EQ(streams.OpenStream(mnt + "/file:Comments:$DATA", kOpenStreamWriteCreate),
            kInvalidStream);
  EXPECT_NE(streams.OpenStream(dir / "src/file:Comments:$DATA", kOpenStreamWriteCreate),
            kInvalidStream);
}

}  // namespace
}  // namespace qs::test
