// A real file server over the comments: smbd with vfs_streams_xattr on the loopback address shares
// a temporary folder, and smbclient reads and writes the ":Comments" stream of its files, the way
// Windows and Macintosh clients of the share would.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "support/comment_fixture.h"

namespace qs::test {
namespace {

// A free TCP port on 127.0.0.1 (taken by binding to port 0).
int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  close(s);
  return port;
}

bool Accepts(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// Runs a program to its end with its output in `log`; the exit status, or -1.
int RunProgram(const std::vector<std::string>& args, const std::string& log) {
  const pid_t pid = fork();
  if (pid == 0) {
    FILE* out = freopen(log.c_str(), "a", stdout);
    if (out != nullptr) dup2(fileno(out), STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SambaTest : public CommentWorld {
 protected:
  void SetUp() override {
    if (access("/usr/sbin/smbd", X_OK) != 0) GTEST_SKIP() << "smbd is not installed";
    if (access("/usr/bin/smbclient", X_OK) != 0) GTEST_SKIP() << "smbclient is not installed";
    share = dir / "share";
    for (const char* d : {"share", "private", "state", "lock", "cache", "pid", "ncalrpc", "log"}) {
      std::filesystem::create_directory(dir / d);
    }
    // The guest account (nobody) must reach the share.
    chmod(dir.path().c_str(), 0755);
    chmod(share.c_str(), 0777);
    port = FreePort();
    ASSERT_NE(port, 0);
    conf = dir / "smb.conf";
    const std::string base = dir.path().string();
    WriteFile(conf,
              "[global]\n"
              "  server role = standalone server\n"
              "  smb ports = " +
                  std::to_string(port) +
                  "\n"
                  "  interfaces = 127.0.0.1\n"
                  "  bind interfaces only = yes\n"
                  "  private dir = " +
                  base +
                  "/private\n"
                  "  state directory = " +
                  base +
                  "/state\n"
                  "  lock directory = " +
                  base +
                  "/lock\n"
                  "  cache directory = " +
                  base +
                  "/cache\n"
                  "  pid directory = " +
                  base +
                  "/pid\n"
                  "  ncalrpc dir = " +
                  base +
                  "/ncalrpc\n"
                  "  log file = " +
                  base +
                  "/log/smbd.log\n"
                  "  map to guest = Bad User\n"
                  "  guest account = nobody\n"
                  "  load printers = no\n"
                  "  printing = bsd\n"
                  "  printcap name = /dev/null\n"
                  "  disable spoolss = yes\n"
                  "[share]\n"
                  "  path = " +
                  share +
                  "\n"
                  "  read only = no\n"
                  "  guest ok = yes\n"
                  "  guest only = yes\n"
                  "  vfs objects = streams_xattr\n");
    smbd = fork();
    if (smbd == 0) {
      setpgid(0, 0);  // its own group, so that its children stop with it
      const std::string out = base + "/log/smbd.out";
      FILE* f = freopen(out.c_str(), "w", stdout);
      if (f != nullptr) dup2(fileno(f), STDERR_FILENO);
      execl("/usr/sbin/smbd", "smbd", "--foreground", "--no-process-group", "--debug-stdout", "-s",
            conf.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(smbd, 0);
    setpgid(smbd, smbd);
    for (int i = 0; i < 300 && !Accepts(port); ++i) {
      int status = 0;
      if (waitpid(smbd, &status, WNOHANG) == smbd) {
        smbd = -1;
        GTEST_SKIP() << "smbd could not start: " << ReadFile(base + "/log/smbd.out");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!Accepts(port)) {
      StopServer();
      GTEST_SKIP() << "smbd did not listen on port " << port << ": "
                   << ReadFile(base + "/log/smbd.out");
    }
  }

  void TearDown() override { StopServer(); }

  void StopServer() {
    if (smbd <= 0) return;
    kill(-smbd, SIGTERM);
    for (int i = 0; i < 50; ++i) {
      if (waitpid(smbd, nullptr, WNOHANG) == smbd) {
        kill(-smbd, SIGKILL);  // any child left behind
        smbd = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(-smbd, SIGKILL);
    waitpid(smbd, nullptr, 0);
    smbd = -1;
  }

  // One smbclient command against the share; its output is kept for the failure message.
  bool Client(const std::string& command) {
    const std::string log = dir / "log/smbclient.out";
    const int rc = RunProgram({"timeout", "60", "smbclient", "-N", "-p", std::to_string(port),
                               "//127.0.0.1/share", "-s", conf, "-c", command},
                              log);
    if (rc != 0) ADD_FAILURE() << "smbclient " << command << ": " << ReadFile(log);
    return rc == 0;
  }

  std::string ShareFile(const std::string& name, std::string_view content = "content") {
    const std::string f = share + "/" + name;
    WriteFile(f, content);
    chmod(f.c_str(), 0666);
    return f;
  }

  std::string share;
  std::string conf;
  int port = 0;
  pid_t smbd = -1;
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
