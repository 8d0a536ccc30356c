// Following a log file as it grows: a wait that ends when the log changes, when the process gets
// a signal, or when the time given has passed. The watch is on the log's folder, not on the file,
// so that it lives through a rotation (the log renamed to LOG.1 and a new LOG made in its place).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace qs::platform {

enum class LogWaitEnd {
  kTimedOut,     // the time given passed with no change of the log
  kLogChanged,   // the log (or one of its rotated files) was written, made, moved or removed
  kInterrupted,  // a signal came, or had already come
};

class LogWatch {
 public:
  virtual ~LogWatch() = default;
  // Waits at most `timeout` for a change of the log. `signalled` is asked once at the start,
  // while the process's signals are held back, whether a signal has come that the caller must
  // see: when it answers true the wait ends at once (kInterrupted). A signal that comes after
  // that look ends the wait as soon as it arrives, so none is ever left waiting for the timeout.
  // Changes that came while nobody waited (during a pass) are kept and end the next wait.
  virtual LogWaitEnd Wait(std::chrono::milliseconds timeout,
                          const std::function<bool()>& signalled) = 0;
};

// Watches the folder of the log file at `logPath` for changes of that file and of its rotated
// files (LOG.1, LOG.2, ...). nullptr, with `why` set, where that cannot be done: no such folder,
// no change notification on this system, or a folder on a network file system, where the writes
// of other computers are never notified.
std::unique_ptr<LogWatch> WatchLogFolder(const std::string& logPath, std::string& why);

}  // namespace qs::platform
