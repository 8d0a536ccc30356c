// Running quillstamp-service (and the window program's list maker) as child processes: their
// stderr in a file the test can watch, every wait bounded by a deadline.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qs::test {

// A started child. Killed and reaped by the destructor if the test has not waited for it.
class Child {
 public:
  // program and its arguments; `environment` entries are added to (or replace in) the test's
  // own environment; stderr (and stdout) go to `logFile`.
  Child(const std::string& program, const std::vector<std::string>& args,
        const std::map<std::string, std::string>& environment, const std::string& logFile);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  void Signal(int signal) const;
  // The exit status, or nullopt when the child has not ended within `limit` (or was killed by a
  // signal: then -signal).
  std::optional<int> WaitExit(std::chrono::milliseconds limit);
  std::string Log() const;

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  std::string logFile_;
};

// Polls `done` every 20 ms until it is true or `limit` has passed; returns its last answer.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(30));

// How many times `text` occurs in `haystack`.
int Count(const std::string& haystack, const std::string& text);

// Every extended attribute of every file below `folder`, by path relative to it, then name.
std::map<std::string, std::map<std::string, std::string>> AttributesBelow(
    const std::string& folder);

// A Security log (.evt) at `path` of one save: alice wrote D:\Shared\a.txt.
void WriteOneSaveLog(const std::string& path);

}  // namespace qs::test
