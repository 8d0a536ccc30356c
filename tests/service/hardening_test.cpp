// What a local user other than the service's account could do to the service: read the list file,
// turn the list file's write through a folder or a link of theirs, or keep a non-root instance
// from starting by taking its lock's name first. The users are real (useradd) and removed however
// the test ends; the cases that need them, or need to give files to another owner, are skipped
// when the test does not run as root. Every wait is bounded.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "service/exit_codes.h"
#include "service_process.h"
#include "support/audit_world.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using test::Account;
using test::Child;
using test::Cleanup;
using test::Shell;
using test::TempDir;

constexpr auto kExitLimit = std::chrono::seconds(60);
constexpr const char* kSetpriv = "/usr/bin/setpriv";

bool IsRoot() { return ::geteuid() == 0; }

std::string RandomSuffix() {
  std::random_device seed;
  char text[16];
  std::snprintf(text, sizeof text, "%06x", seed() & 0xffffff);
  return text;
}

// A user of the test's own, removed by `cleanup`.
Account MakeUser(const std::string& role, Cleanup& cleanup) {
  Account account;
  const std::string name = "qsh" + role + RandomSuffix();
  if (!test::AddUser(name, account, cleanup)) throw std::runtime_error("useradd " + name);
  return account;
}

// A server's folder: Shared/a.txt, a log in which alice wrote it, settings with the Macintosh
// comment on.
struct Server {
  TempDir dir;
  std::string shared = dir / "Shared";
  std::string log = dir / "Security.evt";
  std::string config = dir / "Quillstamp.ini";
  std::string out = dir / "service.log";

  Server() {
    fs::create_directories(shared);
    test::WriteFile(shared + "/a.txt", "content\n");
    test::WriteOneSaveLog(log);
    test::WriteFile(
        config, "[Configuration]\nMacComments=1\nTemporisation=1\n[Platform]\nSecurityLog=" + log +
                    "\n\n[Drives]\nD=" + dir.path().string() + "\n");
  }
  bool Stamped() const {
    char value[512];
    return ::getxattr((shared + "/a.txt").c_str(), "user.DosStream.Comments:$DATA", value,
                      sizeof value) > 0;
  }
};

// Whether `account` (with its groups) can open `path` for reading: a child process takes the
// account's identity and tries.
bool CanRead(const Account& account, const std::string& path) {
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgrouplist(account.name.c_str(), account.gid, groups.data(), &count) < 0)
    throw std::runtime_error("getgrouplist " + account.name);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(static_cast<std::size_t>(count), groups.data()) != 0 ||
        ::setgid(account.gid) != 0 || ::setuid(account.uid) != 0)
      ::_exit(2);
    const int fd = ::open(path.c_str(), O_RDONLY);
    ::_exit(fd >= 0 ? 0 : 1);
  }
  int status = 0;
  const bool ended = test::WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; },
                                     std::chrono::seconds(10));
  if (!ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    throw std::runtime_error("the reader did not end");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 2)
    throw std::runtime_error("cannot become " + account.name);
  return WEXITSTATUS(status) == 0;
}

// ---- The list file is for root and its group only ---------------------------------------------

struct GroupCase {
  const char* name;
  bool groupExists;  // the group named by --list-group exists (the test makes it)
  // Run without CAP_CHOWN, as the unit runs it; then root may give its files only the groups
  // it is a member of.
  bool withoutChown;
  bool member;  // without CAP_CHOWN: the service is a member of the group
  bool groupGiven;
};
void PrintTo(const GroupCase& c, std::ostream* os) { *os << c.name; }

class ListFileGroup : public testing::TestWithParam<GroupCase> {};

TEST_P(ListFileGroup, OnlyRootAndTheGroupReadTheListInAFolderOthersCannotList) {
  const GroupCase& c = GetParam();
  if (!IsRoot()) GTEST_SKIP() << "needs root: makes a group and users with groupadd and useradd";
  Cleanup cleanup;
  Server server;
  const std::string groupName = "qshlist" + RandomSuffix();
  if (c.groupExists) {
    ASSERT_EQ(Shell("groupadd " + groupName).status, 0);
    cleanup.Add([groupName] { Shell("groupdel " + groupName); });
  }
  const Account reader = MakeUser("r", cleanup);
  const Account other = MakeUser("o", cleanup);
  if (c.groupExists) {
    ASSERT_EQ(Shell("usermod -a -G " + groupName + " " + reader.name).status, 0);
  }
  // The unit's runtime folder: 0750, made by systemd for root; readers must pass the folders
  // above it.
  fs::permissions(server.dir.path(), fs::perms(0755));
  const std::string run = server.dir / "run";
  fs::create_directory(run);
  fs::permissions(run, fs::perms(0750));
  const std::string list = run + "/events.tsv";

  std::vector<std::string> args{"--config", server.config,  "--once", "--list-file",
                                list,       "--list-group", groupName};
  std::string program = QS_SERVICE;
  const group* g = ::getgrnam(groupName.c_str());
  if (c.withoutChown) {
    if (::access(kSetpriv, X_OK) != 0) GTEST_SKIP() << kSetpriv << " (util-linux) is missing";
    ASSERT_NE(g, nullptr);
    args.insert(args.begin(),
                {"--bounding-set=-chown",
                 c.member ? "--groups=" + std::to_string(g->gr_gid) : std::string("--clear-groups"),
                 program});
    program = kSetpriv;
  }
  Child child(program, args, {{"RUNTIME_DIRECTORY", run}}, server.out);
  ASSERT_EQ(child.WaitExit(kExitLimit), 0) << child.Log();

  struct stat st;
  ASSERT_EQ(::stat(list.c_str(), &st), 0) << child.Log();
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  struct stat folder;
  ASSERT_EQ(::stat(run.c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 07777, 0750u);
  if (c.groupGiven) {
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(st.st_gid, g->gr_gid);
    EXPECT_EQ(folder.st_gid, g->gr_gid);  // the service gave its runtime folder the group
    EXPECT_TRUE(CanRead(reader, list));
  } else {
    // No such group, or one that the service may not give: the account's own, never a file
    // for everyone.
    EXPECT_EQ(st.st_gid, ::getegid());
    const std::string why = c.groupExists ? "List file group '" + groupName + "' cannot be given"
                                          : "List file group '" + groupName + "' not found";
    EXPECT_EQ(test::Count(child.Log(), why), 1) << child.Log();
    EXPECT_FALSE(CanRead(reader, list));
  }
  EXPECT_FALSE(CanRead(other, list));
  EXPECT_FALSE(CanRead(other, run));  // the folder's names are not listed to everyone either
  EXPECT_TRUE(server.Stamped());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListFileGroup,
    testing::Values(GroupCase{"GroupThere", true, false, false, true},
                    GroupCase{"NoSuchGroup", false, false, false, false},
                    GroupCase{"WithoutCapChownAsAMember", true, true, true, true},
                    GroupCase{"WithoutCapChownNotAMember", true, true, false, false}),
    [](const testing::TestParamInfo<GroupCase>& info) { return std::string(info.param.name); });

// ---- The list file's folder must be in trusted hands -------------------------------------------

struct FolderCase {
  const char* name;
  bool needsOtherUser;
  // Makes the folder below `dir` and returns the list file's path in it; `other` is a user that
  // is neither root nor the service's account (unset when !needsOtherUser).
  std::function<std::string(const std::string& dir, const Account& other)> make;
  const char* refusal;  // the reason logged, or nullptr when the list file is written
};
void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

class ListFileFolder : public testing::TestWithParam<FolderCase> {};

TEST_P(ListFileFolder, IsRefusedUnlessOnlyRootOrTheServiceCanChangeIt) {
  const FolderCase& c = GetParam();
  if (c.needsOtherUser && !IsRoot())
    GTEST_SKIP() << "needs root: gives a folder or a link to a user made with useradd";
  Cleanup cleanup;
  Server server;
  Account other;
  if (c.needsOtherUser) other = MakeUser("m", cleanup);
  const std::string list = c.make(server.dir.path().string(), other);
  const std::string target = server.dir / "target";  // where a planted link leads

  Child child(QS_SERVICE, {"--config", server.config, "--once", "--list-file", list},
              {{"RUNTIME_DIRECTORY", server.dir.path().string()}}, server.out);
  ASSERT_EQ(child.WaitExit(kExitLimit), 0) << child.Log();
  const std::string log = child.Log();
  EXPECT_TRUE(server.Stamped()) << log;  // the comments are written all the same
  if (c.refusal == nullptr) {
    EXPECT_EQ(log.find("List file not written"), std::string::npos) << log;
    EXPECT_NE(test::ReadFile(list).find("Date & Time\t"), std::string::npos);
  } else {
    EXPECT_EQ(test::Count(log, "List file not written: refused to write " + list + ": "), 1) << log;
    EXPECT_NE(log.find(c.refusal), std::string::npos) << log;
    std::error_code ec;
    EXPECT_FALSE(fs::exists(fs::symlink_status(list, ec))) << list;
    EXPECT_FALSE(fs::exists(target + "/events.tsv"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListFileFolder,
    testing::Values(FolderCase{"GoodFolder", false,
                               [](const std::string& dir, const Account&) {
                                 fs::create_directory(dir + "/good");
                                 fs::permissions(dir + "/good", fs::perms(0755));
                                 return dir + "/good/events.tsv";
                               },
                               nullptr},
                    FolderCase{"LinkOfTheServiceToAGoodFolder", false,
                               [](const std::string& dir, const Account&) {
                                 fs::create_directory(dir + "/good");
                                 fs::create_directory_symlink("good", dir + "/link");
                                 return dir + "/link/events.tsv";
                               },
                               nullptr},
                    FolderCase{"StickyWorldWritable", false,
                               [](const std::string& dir, const Account&) {
                                 fs::create_directory(dir + "/tmp");
                                 fs::permissions(dir + "/tmp", fs::perms(01777));
                                 return dir + "/tmp/events.tsv";
                               },
                               "is writable by others than its owner (mode 1777)"},
                    FolderCase{"GroupWritable", false,
                               [](const std::string& dir, const Account&) {
                                 fs::create_directory(dir + "/shared");
                                 fs::permissions(dir + "/shared", fs::perms(0770));
                                 return dir + "/shared/events.tsv";
                               },
                               "is writable by others than its owner (mode 0770)"},
                    FolderCase{"OwnedByAnotherUser", true,
                               [](const std::string& dir, const Account& other) {
                                 fs::create_directory(dir + "/theirs");
                                 fs::permissions(dir + "/theirs", fs::perms(0755));
                                 if (::chown((dir + "/theirs").c_str(), other.uid, other.gid) != 0)
                                   throw std::runtime_error("chown");
                                 return dir + "/theirs/events.tsv";
                               },
                               ", neither root nor the service's account"},
                    // In a sticky folder that anyone may add to, another user plants a link to a
                    // folder of root's: the sticky folder is passed through, but not the link.
                    FolderCase{
                        "LinkPlantedByAnotherUser", true,
                        [](const std::string& dir, const Account& other) {
                          fs::create_directory(dir + "/tmp");
                          fs::permissions(dir + "/tmp", fs::perms(01777));
                          fs::create_directory(dir + "/target");
                          fs::create_directory_symlink(dir + "/target", dir + "/tmp/planted");
                          if (::lchown((dir + "/tmp/planted").c_str(), other.uid, other.gid) != 0)
                            throw std::runtime_error("lchown");
                          return dir + "/tmp/planted/events.tsv";
                        },
                        "/tmp/planted is owned by "}),
    [](const testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.name); });

// ---- The instance lock of an account without a runtime folder ----------------------------------

// The name the lock had in /tmp, which any user could take first: the settings file's full path,
// "/" as "-" and other bytes than letters, digits, "." and "_" as "\xNN".
std::string OldLockPath(const std::string& settings) {
  std::string name;
  for (std::size_t i = 0; i < settings.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(settings[i]);
    if (c == '/') {
      if (i != 0) name += '-';
    } else if (std::isalnum(c) || c == '_' || (c == '.' && i != 0)) {
      name += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      name += hex;
    }
  }
  return "/tmp/" + name + ".lock";
}

// A process of `account` that holds an flock on `path` (made mode 0666 if missing) until the
// object goes.
class HeldLock {
 public:
  HeldLock(const Account& account, const std::string& path) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release_, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(release_[1]);
      if (::setgroups(0, nullptr) != 0 || ::setgid(account.gid) != 0 || ::setuid(account.uid) != 0)
        ::_exit(1);
      ::umask(0);
      const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0666);
      if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(1);
      (void)!::write(ready[1], "x", 1);
      char byte;
      (void)!::read(release_[0], &byte, 1);  // until the test closes its end, or dies
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release_[0]);
    char byte;
    const bool held = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (!held) throw std::runtime_error("the other user could not take the lock");
  }
  ~HeldLock() {
    ::close(release_[1]);
    if (!test::WaitUntil([&] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; },
                         std::chrono::seconds(10))) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

 private:
  pid_t pid_ = -1;
  int release_[2]{-1, -1};
};

enum class Plant { kFile, kLink, kHeldLock };
struct PlantCase {
  const char* name;
  Plant plant;
};
void PrintTo(const PlantCase& c, std::ostream* os) { *os << c.name; }

// The service as `account`, without a runtime folder: no RUNTIME_DIRECTORY, no XDG_RUNTIME_DIR;
// HOME is `home` when given, else root's, which is not the account's own.
std::unique_ptr<Child> StartAs(const Account& account, const Server& server,
                               std::vector<std::string> extra, const std::string& logFile,
                               const std::string& home = "") {
  std::vector<std::string> args{"--reuid=" + std::to_string(account.uid),
                                "--regid=" + std::to_string(account.gid),
                                "--clear-groups",
                                QS_SERVICE,
                                "--config",
                                server.config};
  args.insert(args.end(), extra.begin(), extra.end());
  std::map<std::string, std::string> environment{{"RUNTIME_DIRECTORY", ""},
                                                 {"XDG_RUNTIME_DIR", ""}};
  if (!home.empty()) environment["HOME"] = home;
  return std::make_unique<Child>(kSetpriv, args, environment, logFile);
}

class PlantedLock : public testing::TestWithParam<PlantCase> {};

TEST_P(PlantedLock, AnotherUsersPlantInTmpNoLongerStopsTheServiceAndOneInstanceStillRuns) {
  const PlantCase& c = GetParam();
  if (!IsRoot()) GTEST_SKIP() << "needs root: runs the service as a user made with useradd";
  if (::access(kSetpriv, X_OK) != 0) GTEST_SKIP() << kSetpriv << " (util-linux) is missing";
  Cleanup cleanup;
  Server server;
  const Account service = MakeUser("s", cleanup);
  const Account mal = MakeUser("m", cleanup);
  ASSERT_EQ(Shell("chown -R " + service.name + " " + test::Quote(server.dir.path())).status, 0);
  const std::string own = "/tmp/quillstamp-" + std::to_string(service.uid);
  cleanup.Add([own] { fs::remove_all(own); });
  const std::string old = OldLockPath(fs::canonical(server.config).string());
  cleanup.Add([old] { fs::remove(old); });

  std::unique_ptr<HeldLock> held;
  switch (c.plant) {
    case Plant::kFile:
      test::WriteFile(old, "");
      ASSERT_EQ(::chown(old.c_str(), mal.uid, mal.gid), 0);
      break;
    case Plant::kLink:
      fs::create_symlink("/nonexistent/quillstamp", old);
      ASSERT_EQ(::lchown(old.c_str(), mal.uid, mal.gid), 0);
      break;
    case Plant::kHeldLock:
      held = std::make_unique<HeldLock>(mal, old);
      break;
  }

  auto first = StartAs(service, server, {}, server.out);
  ASSERT_TRUE(test::WaitUntil([&] { return first->Log().find("Pass: ") != std::string::npos; }))
      << first->Log();
  EXPECT_TRUE(server.Stamped());
  auto second = StartAs(service, server, {"--once"}, server.dir / "second.log");
  EXPECT_EQ(second->WaitExit(kExitLimit), kExitAlreadyRunning) << second->Log();
  first->Signal(SIGTERM);
  ASSERT_EQ(first->WaitExit(kExitLimit), 0) << first->Log();

  // The account's own folder, closed to others, and its lock file gone with the instance.
  struct stat st;
  ASSERT_EQ(::lstat(own.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_uid, service.uid);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_TRUE(fs::is_empty(own)) << own;
}

INSTANTIATE_TEST_SUITE_P(Cases, PlantedLock,
                         testing::Values(PlantCase{"File", Plant::kFile},
                                         PlantCase{"Link", Plant::kLink},
                                         PlantCase{"HeldLock", Plant::kHeldLock}),
                         [](const testing::TestParamInfo<PlantCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(LockFolder, AFolderOfTheAccountsNameThatAnotherUserMadeIsRefusedWithTheReason) {
  if (!IsRoot()) GTEST_SKIP() << "needs root: runs the service as a user made with useradd";
  if (::access(kSetpriv, X_OK) != 0) GTEST_SKIP() << kSetpriv << " (util-linux) is missing";
  Cleanup cleanup;
  Server server;
  const Account service = MakeUser("s", cleanup);
  const Account mal = MakeUser("m", cleanup);
  ASSERT_EQ(Shell("chown -R " + service.name + " " + test::Quote(server.dir.path())).status, 0);
  const std::string own = "/tmp/quillstamp-" + std::to_string(service.uid);
  cleanup.Add([own] { fs::remove_all(own); });
  fs::create_directory(own);
  fs::permissions(own, fs::perms(0777));
  ASSERT_EQ(::chown(own.c_str(), mal.uid, mal.gid), 0);

  auto child = StartAs(service, server, {"--once"}, server.out);
  EXPECT_EQ(child->WaitExit(kExitLimit), kExitAlreadyRunning) << child->Log();
  EXPECT_NE(child->Log().find("the lock folder is refused: the folder " + own), std::string::npos)
      << child->Log();
  EXPECT_TRUE(fs::is_empty(own));  // nothing was made in it
}

// An account with a home of its own keeps its lock there, where nobody else can make the folder
// first: the name in /tmp taken by another user then stops nothing.
TEST(LockFolder, AnAccountWithAHomeOfItsOwnLocksThereWhateverTmpHolds) {
  if (!IsRoot()) GTEST_SKIP() << "needs root: runs the service as a user made with useradd";
  if (::access(kSetpriv, X_OK) != 0) GTEST_SKIP() << kSetpriv << " (util-linux) is missing";
  Cleanup cleanup;
  Server server;
  const Account service = MakeUser("s", cleanup);
  const Account mal = MakeUser("m", cleanup);
  ASSERT_EQ(Shell("chown -R " + service.name + " " + test::Quote(server.dir.path())).status, 0);
  const std::string home = server.dir / "home";
  fs::create_directory(home);
  ASSERT_EQ(::chown(home.c_str(), service.uid, service.gid), 0);
  const std::string own = "/tmp/quillstamp-" + std::to_string(service.uid);
  cleanup.Add([own] { fs::remove_all(own); });
  fs::create_directory(own);
  ASSERT_EQ(::chown(own.c_str(), mal.uid, mal.gid), 0);

  auto first = StartAs(service, server, {}, server.out, home);
  ASSERT_TRUE(test::WaitUntil([&] { return first->Log().find("Pass: ") != std::string::npos; }))
      << first->Log();
  auto second = StartAs(service, server, {"--once"}, server.dir / "second.log", home);
  EXPECT_EQ(second->WaitExit(kExitLimit), kExitAlreadyRunning) << second->Log();
  first->Signal(SIGTERM);
  ASSERT_EQ(first->WaitExit(kExitLimit), 0) << first->Log();
  struct stat st;
  ASSERT_EQ(::lstat((home + "/.cache/quillstamp").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, service.uid);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_TRUE(fs::is_empty(own));
}

// Any account: with a runtime folder given, the lock file goes with the instance, and a second
// instance is still refused while the first runs.
TEST(LockFolder, TheLockFileGoesWithTheInstance) {
  Server server;
  Child first(QS_SERVICE, {"--config", server.config},
              {{"RUNTIME_DIRECTORY", server.dir.path().string()}}, server.out);
  ASSERT_TRUE(test::WaitUntil([&] { return first.Log().find("Pass: ") != std::string::npos; }))
      << first.Log();
  const auto locks = [&] {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(server.dir.path()))
      n += entry.path().extension() == ".lock" ? 1 : 0;
    return n;
  };
  EXPECT_EQ(locks(), 1);
  Child second(QS_SERVICE, {"--config", server.config, "--once"},
               {{"RUNTIME_DIRECTORY", server.dir.path().string()}}, server.dir / "second.log");
  EXPECT_EQ(second.WaitExit(kExitLimit), kExitAlreadyRunning) << second.Log();
  first.Signal(SIGTERM);
  ASSERT_EQ(first.WaitExit(kExitLimit), 0) << first.Log();
  EXPECT_EQ(locks(), 0);
}

}  // namespace
}  // namespace qs
