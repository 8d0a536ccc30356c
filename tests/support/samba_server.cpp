#include "support/samba_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "support/temp_dir.h"

namespace qs::test {

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

SambaServer::SambaServer(std::string folder, std::string sharePath, Access access)
    : folder_(std::move(folder)), share_(std::move(sharePath)), access_(access) {}

SambaServer::~SambaServer() { Stop(); }

std::string SambaServer::Configure() { return Configure(Options{}); }

std::string SambaServer::Configure(const Options& options) {
  debugToOutput_ = options.debugToOutput;
  for (const char* d : {"private", "state", "lock", "cache", "pid", "ncalrpc", "log"}) {
    std::error_code ec;
    std::filesystem::create_directories(folder_ + "/" + d, ec);
    if (ec) return "cannot make " + folder_ + "/" + d + ": " + ec.message();
  }
  port_ = FreePort();
  if (port_ == 0) return "no free port on 127.0.0.1";
  conf_ = folder_ + "/smb.conf";
  const std::string& base = folder_;
  std::string text =
      "[global]\n"
      "  server role = standalone server\n"
      "  smb ports = " +
      std::to_string(port_) +
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
      "  load printers = no\n"
      "  printing = bsd\n"
      "  printcap name = /dev/null\n"
      "  disable spoolss = yes\n" +
      options.globalLines;
  if (access_ == Access::Guests) text += "  map to guest = Bad User\n  guest account = nobody\n";
  text += "[share]\n  path = " + share_ + "\n  read only = no\n";
  if (access_ == Access::Guests) {
    text += "  guest ok = yes\n  guest only = yes\n";
  } else {
    // Every user may write and rename every file of the share, as on a team's shared folder.
    text += "  create mask = 0666\n  directory mask = 0777\n";
  }
  text += "  vfs objects = " + options.vfsObjects + "\n" + options.shareLines;
  WriteFile(conf_, text);
  return {};
}

std::string SambaServer::serverOutput() const { return ReadFile(folder_ + "/log/smbd.out"); }

std::string SambaServer::Start(const std::string& groupNote) {
  if (conf_.empty()) return "not configured";
  const std::string out = folder_ + "/log/smbd.out";
  smbd_ = fork();
  if (smbd_ < 0) return "cannot fork smbd";
  if (smbd_ == 0) {
    setpgid(0, 0);  // its own group, so that its children stop with it
    FILE* f = freopen(out.c_str(), "w", stdout);
    if (f != nullptr) dup2(fileno(f), STDERR_FILENO);
    if (debugToOutput_)
      execl("/usr/sbin/smbd", "smbd", "--foreground", "--no-process-group", "--debug-stdout", "-s",
            conf_.c_str(), static_cast<char*>(nullptr));
    else
      execl("/usr/sbin/smbd", "smbd", "--foreground", "--no-process-group", "-s", conf_.c_str(),
            static_cast<char*>(nullptr));
    _exit(127);
  }
  setpgid(smbd_, smbd_);
  if (!groupNote.empty()) {
    groupNote_ = groupNote;
    WriteFile(groupNote_, std::to_string(smbd_));
  }
  for (int i = 0; i < 300 && !Accepts(port_); ++i) {
    int status = 0;
    if (waitpid(smbd_, &status, WNOHANG) == smbd_) {
      smbd_ = -1;
      return "smbd could not start: " + serverOutput();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!Accepts(port_)) {
    Stop();
    return "smbd did not listen on port " + std::to_string(port_) + ": " + serverOutput();
  }
  return {};
}

void SambaServer::Stop() {
  if (smbd_ <= 0) return;
  kill(-smbd_, SIGTERM);
  bool ended = false;
  for (int i = 0; i < 50 && !ended; ++i) {
    ended = waitpid(smbd_, nullptr, WNOHANG) == smbd_;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(-smbd_, SIGKILL);  // any child left behind, or the server itself
  if (!ended) waitpid(smbd_, nullptr, 0);
  // The children of the group end a moment after the signal: wait for the last one to go, so that
  // the accounts they served can be removed.
  for (int i = 0; i < 50 && kill(-smbd_, 0) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  smbd_ = -1;
  if (!groupNote_.empty()) {
    std::error_code ec;
    std::filesystem::remove(groupNote_, ec);
    groupNote_.clear();
  }
}

std::string SambaServer::AddUser(const std::string& name, const std::string& password) const {
  const std::string log = folder_ + "/log/smbpasswd.out";
  std::error_code ec;
  std::filesystem::remove(log, ec);
  // smbpasswd -s reads the new password twice from its input.
  const int rc = RunProgram(
      {"sh", "-c", "printf '%s\\n%s\\n' \"$1\" \"$1\" | smbpasswd -c \"$2\" -s -a \"$3\"", "sh",
       password, conf_, name},
      log);
  return rc == 0 ? std::string() : "smbpasswd -a " + name + ": " + ReadFile(log);
}

bool SambaServer::Client(const std::string& commands, std::string& output, const std::string& user,
                         const std::string& password) const {
  const std::string log = folder_ + "/log/smbclient.out";
  std::error_code ec;
  std::filesystem::remove(log, ec);
  std::vector<std::string> args{"timeout", "60", "smbclient"};
  if (user.empty()) {
    args.push_back("-N");
  } else {
    args.push_back("-U");
    args.push_back(user + "%" + password);
  }
  for (const std::string& a :
       {std::string("-p"), std::to_string(port_), std::string("//127.0.0.1/share"),
        std::string("-s"), conf_, std::string("-c"), commands})
    args.push_back(a);
  const int rc = RunProgram(args, log);
  output = ReadFile(log);
  return rc == 0;
}

}  // namespace qs::test
