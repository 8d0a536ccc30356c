// A real file server over the comments: smbd with vfs_streams_xattr on the loopback address shares
// a temporary folder, and smbclient reads and writes the ":Comments" stream of its files, the way
// Windows and Macintosh clients of the share would.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "support/comment_fixture.h"
#include "support/samba_server.h"

namespace qs::test {
namespace {

class SambaTest : public CommentWorld {
 protected:
  void SetUp() override {
    if (access("/usr/sbin/smbd", X_OK) != 0) GTEST_SKIP() << "smbd is not installed";
    if (access("/usr/bin/smbclient", X_OK) != 0) GTEST_SKIP() << "smbclient is not installed";
    share = dir / "share";
    std::filesystem::create_directory(share);
    // The guest account (nobody) must reach the share.
    chmod(dir.path().c_str(), 0755);
    chmod(share.c_str(), 0777);
    server = std::make_unique<SambaServer>(dir.path().string(), share, SambaServer::Access::Guests);
    const std::string configured = server->Configure();
    ASSERT_EQ(configured, "");
    const std::string started = server->Start();
    if (!started.empty()) GTEST_SKIP() << started;
  }

  void TearDown() override { server.reset(); }

  // One smbclient command against the share; its output is kept for the failure message.
  bool Client(const std::string& command) {
    std::string output;
    const bool ok = server->Client(command, output);
    if (!ok) ADD_FAILURE() << "smbclient " << command << ": " << output;
    return ok;
  }

  std::string ShareFile(const std::string& name, std::string_view content = "content") {
    const std::string f = share + "/" + name;
    WriteFile(f, content);
    chmod(f.c_str(), 0666);
    return f;
  }

  std::string share;
  std::unique_ptr<SambaServer> server;
};

TEST_F(SambaTest, ClientsSeeTheMacCommentByteForByte) {
  const std::string f = ShareFile("budget.xls");
  List(f, "alice", At(9, 8, 7));
  List(f, "bob", At(10, 11, 12));
  W().WriteMacComment(1);
  ASSERT_EQ(Mark(1, kColMac), "M");
  const std::string got = dir / "got";
  ASSERT_TRUE(Client("get \"budget.xls:Comments\" " + got));
  EXPECT_EQ(ReadFile(got), Le(U16(Line(1) + "\r" + Line(2) + "\r")));
  EXPECT_EQ(ReadFile(f), "content");
}

TEST_F(SambaTest, StreamPutByAClientIsReadAndExtended) {
  const std::string f = ShareFile("report.doc");
  const std::string put = dir / "put";
  WriteFile(put, Le(u"older line\r"));
  ASSERT_TRUE(Client("put " + put + " \"report.doc:Comments\""));
  List(f, "carol", At(13, 14, 15));
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "m");
  const std::string got = dir / "got";
  ASSERT_TRUE(Client("get \"report.doc:Comments\" " + got));
  EXPECT_EQ(ReadFile(got), Le(U16(Line(1) + "\r") + u"older line\r"));

  // A line already there, put by a client: the stream is left alone.
  WriteFile(put, Le(U16("x\r" + Line(1) + "\r")));
  ASSERT_TRUE(Client("put " + put + " \"report.doc:Comments\""));
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "m");
  ASSERT_TRUE(Client("get \"report.doc:Comments\" " + got));
  EXPECT_EQ(ReadFile(got), Le(U16("x\r" + Line(1) + "\r")));
}

// An empty stream put by a client is rebuilt from the list.
TEST_F(SambaTest, EmptyStreamFromAClientIsRebuilt) {
  const std::string f = ShareFile("empty.txt");
  const std::string put = dir / "put";
  WriteFile(put, "");
  ASSERT_TRUE(Client("put " + put + " \"empty.txt:Comments\""));
  ASSERT_EQ(RawAttr(f, kMacAttr), std::string(1, '\0')) << "Samba's empty stream";
  List(f, "dan", At(1, 2, 3));
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "M");
  const std::string got = dir / "got";
  ASSERT_TRUE(Client("get \"empty.txt:Comments\" " + got));
  EXPECT_EQ(ReadFile(got), Le(U16(Line(1) + "\r")));
}

// A stream of odd length put by a client: Samba stores its five bytes and a 0x00, a value of even
// length that the program takes whole, so the last byte and that 0x00 make one more code unit.
TEST_F(SambaTest, OddStreamFromAClient) {
  const std::string f = ShareFile("odd.txt");
  const std::string put = dir / "put";
  WriteFile(put, std::string("a\0b\0c", 5));
  ASSERT_TRUE(Client("put " + put + " \"odd.txt:Comments\""));
  ASSERT_EQ(RawAttr(f, kMacAttr), std::string("a\0b\0c\0", 6));
  List(f, "eve", At(1, 2, 3));
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "m");
  const std::string got = dir / "got";
  ASSERT_TRUE(Client("get \"odd.txt:Comments\" " + got));
  EXPECT_EQ(ReadFile(got), Le(U16(Line(1) + "\rabc")));
}

}  // namespace
}  // namespace qs::test
