#include "service_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <thread>

#include "evtwriter/evt_writer.h"
#include "support/temp_dir.h"

extern char** environ;

namespace qs::test {

Child::Child(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& environment, const std::string& logFile)
    : logFile_(logFile) {
  std::vector<std::string> argStrings{program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::map<std::string, std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const std::size_t eq = entry.find('=');
    if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : environment) {
    if (value.empty())
      env.erase(name);  // an empty value removes the variable
    else
      env[name] = value;
  }
  std::vector<std::string> envStrings;
  for (const auto& [name, value] : env) envStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 2, 1);
  const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + program);
}

Child::~Child() {
  if (reaped_ || pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
}

void Child::Signal(int signal) const { ::kill(pid_, signal); }

std::optional<int> Child::WaitExit(std::chrono::milliseconds limit) {
  if (reaped_) return std::nullopt;
  int status = 0;
  const bool ended = WaitUntil(
      [&] {
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        return r == pid_;
      },
      limit);
  if (!ended) return std::nullopt;
  reaped_ = true;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return -WTERMSIG(status);
}

std::string Child::Log() const { return ReadFile(logFile_); }

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int Count(const std::string& haystack, const std::string& text) {
  int n = 0;
  for (std::size_t at = haystack.find(text); at != std::string::npos;
       at = haystack.find(text, at + text.size()))
    ++n;
  return n;
}

std::map<std::string, std::map<std::string, std::string>> AttributesBelow(
    const std::string& folder) {
  std::map<std::string, std::map<std::string, std::string>> all;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const std::string path = entry.path().string();
    auto& attributes = all[std::filesystem::relative(entry.path(), folder).string()];
    const ssize_t size = ::llistxattr(path.c_str(), nullptr, 0);
    if (size <= 0) continue;
    std::string names(static_cast<std::size_t>(size), '\0');
    const ssize_t n = ::llistxattr(path.c_str(), names.data(), names.size());
    if (n <= 0) continue;
    names.resize(static_cast<std::size_t>(n));
    for (std::size_t pos = 0; pos < names.size();) {
      const std::string name = names.c_str() + pos;
      pos += name.size() + 1;
      if (name.empty()) continue;
      const ssize_t vsize = ::lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
      std::string value(vsize > 0 ? static_cast<std::size_t>(vsize) : 0, '\0');
      if (vsize > 0) ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
      attributes[name] = value;
    }
  }
  return all;
}

void WriteOneSaveLog(const std::string& path) {
  evtwriter::EvtWriter writer;
  evtwriter::Event560 e;
  e.time = 1767261600;
  e.primaryUser = "alice";
  e.objectName = "D:\\Shared\\a.txt";
  writer.Add(e);
  writer.WriteFile(path);
}

}  // namespace qs::test
