// When the service runs its passes while it follows the log: the driver in this process, over a
// real log and settings file, with a fake clock, a fake watch of the log and fake signals, so that
// every time below is the fake clock's and no test waits for real. Then the watch itself over a
// real folder: a write, a rotation by rename, a copy renamed into place, and a signal during the
// wait.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "evtwriter/evt_writer.h"
#include "platform/log_watch.h"
#include "platform/service_host.h"
#include "service/service_driver.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using platform::LogWaitEnd;
using platform::ServiceSignals;

// The fake clock's times, and the changes and signals that come at set times.
struct World {
  Clock::time_point start{std::chrono::hours(1)};
  Clock::time_point now = start;
  std::deque<Clock::time_point> changes;
  std::deque<std::pair<Clock::time_point, ServiceSignals>> signals;
  ServiceSignals pending;
  int waits = 0;

  Clock::time_point At(Clock::duration d) const { return start + d; }
  // Signals whose time has come are pending.
  void Deliver() {
    while (!signals.empty() && signals.front().first <= now) {
      pending.stop = pending.stop || signals.front().second.stop;
      pending.reload = pending.reload || signals.front().second.reload;
      signals.pop_front();
    }
  }
  ServiceSignals Take() {
    Deliver();
    const ServiceSignals s = pending;
    pending = {};
    return s;
  }
  // A driver that waits for nothing, again and again, would never let the fake clock run out:
  // it is stopped, and the test fails.
  bool Runaway() {
    if (++waits <= 100000) return false;
    ADD_FAILURE() << "the driver waited 100000 times";
    pending.stop = true;
    return true;
  }
  Clock::time_point NextSignal() const {
    return signals.empty() ? Clock::time_point::max() : signals.front().first;
  }
};

class FakeSignals final : public platform::SignalWatch {
 public:
  explicit FakeSignals(World& w) : w_(w) {}
  ServiceSignals Take() override { return w_.Take(); }
  ServiceSignals Wait(std::chrono::milliseconds timeout) override {
    if (!w_.Runaway()) w_.now = std::min(w_.now + timeout, std::max(w_.now, w_.NextSignal()));
    // The changes of a log nobody follows pass unseen.
    while (!w_.changes.empty() && w_.changes.front() <= w_.now) w_.changes.pop_front();
    return w_.Take();
  }

 private:
  World& w_;
};

class FakeLogWatch final : public platform::LogWatch {
 public:
  explicit FakeLogWatch(World& w) : w_(w) {}
  LogWaitEnd Wait(std::chrono::milliseconds timeout,
                  const std::function<bool()>& signalled) override {
    w_.Deliver();
    if (w_.Runaway() || signalled()) return LogWaitEnd::kInterrupted;
    const Clock::time_point change =
        w_.changes.empty() ? Clock::time_point::max() : w_.changes.front();
    const Clock::time_point next = std::min(change, w_.NextSignal());
    if (next > w_.now + timeout) {
      w_.now += timeout;
      return LogWaitEnd::kTimedOut;
    }
    w_.now = std::max(w_.now, next);
    if (w_.NextSignal() <= w_.now) {
      w_.Deliver();
      return LogWaitEnd::kInterrupted;
    }
    // Changes that came together are seen together.
    while (!w_.changes.empty() && w_.changes.front() <= w_.now) w_.changes.pop_front();
    return LogWaitEnd::kLogChanged;
  }

 private:
  World& w_;
};

// Each line of the service with the fake time it was said at.
class TimedLog final : public ServiceLog {
 public:
  explicit TimedLog(const World& w) : w_(w) {}
  void Line(std::string_view text) override { lines.emplace_back(w_.now - w_.start, text); }
  std::vector<Clock::duration> PassTimes() const {
    std::vector<Clock::duration> times;
    for (const auto& [at, text] : lines)
      if (text.rfind("Pass: ", 0) == 0) times.push_back(at);
    return times;
  }
  int Count(std::string_view part) const {
    int n = 0;
    for (const auto& l : lines) n += l.second.find(part) != std::string::npos ? 1 : 0;
    return n;
  }
  std::string Text() const {
    std::string text;
    for (const auto& [at, line] : lines)
      text += std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(at).count()) +
              " ms: " + line + "\n";
    return text;
  }
  std::vector<std::pair<Clock::duration, std::string>> lines;

 private:
  const World& w_;
};

void WriteLog(const std::string& path) {
  evtwriter::EvtWriter log;
  evtwriter::Event560 e;
  e.time = 1767261600;
  e.primaryUser = "alice";
  e.objectName = "D:\\Shared\\a.txt";
  log.Add(e);
  log.WriteFile(path);
}

// A service over a small log in a folder of its own, run to its stop in the fake world.
struct FollowedService {
  test::TempDir dir;
  World world;
  std::string log = dir / "Security.evt";
  std::string config = dir / "Quillstamp.ini";
  bool canFollow = true;
  std::vector<std::string> watched;  // the logs the driver asked to follow
  std::string nextLog;  // when set, the settings name it once the first log is followed
  TimedLog lines{world};

  void Configure(int temporisation, const std::string& logPath) const {
    test::WriteFile(config, "[Configuration]\nTemporisation=" + std::to_string(temporisation) +
                                "\n[Platform]\nSecurityLog=" + logPath + "\n");
  }
  explicit FollowedService(int temporisation) {
    WriteLog(log);
    Configure(temporisation, log);
  }
  int Run() {
    FakeSignals signals(world);
    ServiceWaiting waiting;
    waiting.now = [this] { return world.now; };
    waiting.watchLog = [this](const std::string& path,
                              std::string& why) -> std::unique_ptr<platform::LogWatch> {
      watched.push_back(path);
      if (watched.size() == 1 && !nextLog.empty()) Configure(2, nextLog);
      if (canFollow) return std::make_unique<FakeLogWatch>(world);
      why = "no change notification here";
      return nullptr;
    };
    ServiceOptions options;
    options.configPath = config;
    ServiceDriver driver(options, signals, lines, waiting);
    return driver.Run();
  }
  void StopAt(Clock::duration at) { world.signals.push_back({world.At(at), {true, false}}); }
};

TEST(Follow, AQuietLogWaitsTemporisationBetweenPasses) {
  for (const bool canFollow : {true, false}) {
    SCOPED_TRACE(canFollow ? "followed" : "not followed");
    FollowedService s(3);
    s.canFollow = canFollow;
    s.StopAt(20s);
    ASSERT_EQ(s.Run(), kExitOk) << s.lines.Text();
    const auto passes = s.lines.PassTimes();
    ASSERT_GE(passes.size(), 2u) << s.lines.Text();
    EXPECT_EQ(passes.front(), 0s);
    // As the window counts it: Temporisation ticks after the first pass's own, then Temporisation.
    for (std::size_t i = 1; i < passes.size(); ++i) {
      EXPECT_GE(passes[i] - passes[i - 1], 3s) << s.lines.Text();
      EXPECT_LE(passes[i] - passes[i - 1], 4s) << s.lines.Text();
    }
    EXPECT_GE(passes.back(), 16s) << s.lines.Text();
  }
}

TEST(Follow, OneChangeIsReadAQuietTimeAfterIt) {
  FollowedService s(60);
  s.world.changes = {s.world.At(5s)};
  s.StopAt(10s);
  ASSERT_EQ(s.Run(), kExitOk) << s.lines.Text();
  EXPECT_EQ(s.lines.PassTimes(), (std::vector<Clock::duration>{0s, 5s + FollowPacer::kQuiet}))
      << s.lines.Text();
}

TEST(Follow, AFloodIsReadInBatchesThatNeverWaitForTheFloodToEnd) {
  FollowedService s(60);
  std::vector<Clock::duration> changes;
  for (auto at = 2000ms; at <= 6000ms; at += 50ms) changes.push_back(at);
  for (const auto at : changes) s.world.changes.push_back(s.world.At(at));
  s.StopAt(10s);
  ASSERT_EQ(s.Run(), kExitOk) << s.lines.Text();
  const auto passes = s.lines.PassTimes();
  // 81 changes over 4 s: a pass at most every kLongestBatch, and one after the last change.
  EXPECT_GE(passes.size(), 1u + 4u) << s.lines.Text();
  EXPECT_LE(passes.size(), 1u + 6u) << s.lines.Text();
  // Every change is read by a pass that starts no later than kLongestBatch after it.
  for (const auto at : changes) {
    const auto read = std::find_if(passes.begin(), passes.end(), [&](auto p) { return p >= at; });
    ASSERT_NE(read, passes.end()) << "no pass after the change at " << at.count();
    EXPECT_LE(*read - at, FollowPacer::kLongestBatch) << s.lines.Text();
  }
  EXPECT_EQ(s.lines.Count("Pass: "), static_cast<int>(passes.size()));
}

TEST(Follow, AStopDuringTheQuietTimeEndsTheServiceAtOnce) {
  FollowedService s(60);
  s.world.changes = {s.world.At(5s)};
  s.StopAt(5s + 100ms);
  ASSERT_EQ(s.Run(), kExitOk) << s.lines.Text();
  EXPECT_EQ(s.lines.PassTimes(), std::vector<Clock::duration>{0s}) << s.lines.Text();
  ASSERT_FALSE(s.lines.lines.empty());
  EXPECT_EQ(s.lines.lines.back().second, "Stopped");
  EXPECT_EQ(s.lines.lines.back().first, 5s + 100ms) << s.lines.Text();
}

TEST(Follow, ALogThatCannotBeFollowedIsSaidOnceAndReadByTheTimer) {
  FollowedService s(2);
  s.canFollow = false;
  s.world.changes = {s.world.At(1s)};                          // unseen
  s.world.signals.push_back({s.world.At(3s), {false, true}});  // a reload, same log
  s.StopAt(9s);
  ASSERT_EQ(s.Run(), kExitOk) << s.lines.Text();
  EXPECT_EQ(s.lines.Count("cannot be followed (no change notification here): a pass every "
                          "Temporisation seconds"),
            1)
      << s.lines.Text();
  EXPECT_EQ(s.lines.Count("Settings read again"), 1) << s.lines.Text();
  EXPECT_EQ(s.lines.PassTimes().front(), 0s);
  EXPECT_EQ(s.lines.PassTimes().at(1), 3s) << s.lines.Text();  // not at 1 s + kQuiet
}

TEST(Follow, AReloadThatNamesAnotherLogFollowsThatOne) {
  FollowedService s(2);
  const std::string other = s.dir / "Other.evt";
  WriteLog(other);
  s.nextLog = other;
  s.world.signals.push_back({s.world.At(1s), {false, true}});
  s.StopAt(6s);
  ASSERT_EQ(s.Run(), kExitOk) << s.lines.Text();
  EXPECT_EQ(s.watched, (std::vector<std::string>{s.log, other})) << s.lines.Text();
  EXPECT_EQ(s.lines.Count("Following the Security log " + other), 1) << s.lines.Text();
}

TEST(FollowPacer, DueAQuietTimeAfterTheLastChangeButNoLaterThanTheLongestBatch) {
  const Clock::time_point t0{std::chrono::hours(1)};
  struct Case {
    const char* name;
    std::vector<Clock::duration> changes;
    std::optional<Clock::duration> due;
  };
  const Case cases[] = {
      {"none", {}, std::nullopt},
      {"one", {100ms}, 100ms + FollowPacer::kQuiet},
      {"two close together", {100ms, 200ms}, 200ms + FollowPacer::kQuiet},
      {"a long run", {0ms, 200ms, 400ms, 600ms, 800ms, 1000ms}, FollowPacer::kLongestBatch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FollowPacer pacer;
    for (const auto at : c.changes) pacer.Changed(t0 + at);
    ASSERT_EQ(pacer.PassDue().has_value(), c.due.has_value());
    if (c.due) {
      EXPECT_EQ(*pacer.PassDue() - t0, *c.due);
    }
    pacer.PassStarted();
    EXPECT_FALSE(pacer.PassDue().has_value());
  }
}

// ---- The watch of a real folder ----------------------------------------------------------------

constexpr auto kLimit = 10s;  // how long a change may take to be notified, at most

TEST(LogWatch, WritesRotationsAndCopiesOfTheLogEndTheWait) {
  struct Case {
    const char* name;
    std::function<void(const std::string& dir)> change;
  };
  const Case cases[] = {
      {"appended", [](const std::string& d) { test::WriteFile(d + "/audit.log", "more\n"); }},
      {"rotated",
       [](const std::string& d) {
         fs::rename(d + "/audit.log", d + "/audit.log.1");
         test::WriteFile(d + "/audit.log", "");
       }},
      {"copied and renamed into place",
       [](const std::string& d) {
         test::WriteFile(d + "/audit.log.new", "new\n");
         fs::rename(d + "/audit.log.new", d + "/audit.log");
       }},
      {"removed", [](const std::string& d) { fs::remove(d + "/audit.log"); }},
      {"an older rotated file removed",
       [](const std::string& d) { fs::remove(d + "/audit.log.3"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    test::WriteFile(dir / "audit.log", "first\n");
    test::WriteFile(dir / "audit.log.3", "old\n");
    std::string why;
    const auto watch = platform::WatchLogFolder(dir / "audit.log", why);
    ASSERT_NE(watch, nullptr) << why;
    const auto none = [] { return false; };
    // Nothing yet.
    EXPECT_EQ(watch->Wait(50ms, none), LogWaitEnd::kTimedOut);
    // A change made while nobody waits is kept for the next wait.
    c.change(dir.path().string());
    EXPECT_EQ(watch->Wait(kLimit, none), LogWaitEnd::kLogChanged);
    // After a rotation the new log is followed by the same watch.
    test::WriteFile(dir / "audit.log", "after\n");
    EXPECT_EQ(watch->Wait(kLimit, none), LogWaitEnd::kLogChanged);
  }
}

TEST(LogWatch, OtherFilesOfTheFolderDoNotEndTheWait) {
  test::TempDir dir;
  test::WriteFile(dir / "audit.log", "first\n");
  std::string why;
  const auto watch = platform::WatchLogFolder(dir / "audit.log", why);
  ASSERT_NE(watch, nullptr) << why;
  for (const char* other : {"other.log", "audit.log.new", "audit.logx", "audit.log.1.gz"})
    test::WriteFile(dir / other, "x\n");
  EXPECT_EQ(watch->Wait(200ms, [] { return false; }), LogWaitEnd::kTimedOut);
  // The folder of the test is removed and made again: the log in the new one is followed.
  fs::remove_all(dir.path());
  EXPECT_EQ(watch->Wait(kLimit, [] { return false; }), LogWaitEnd::kLogChanged);
  fs::create_directory(dir.path());
  // The new folder is watched at the start of the next wait: a write before it is not seen.
  EXPECT_EQ(watch->Wait(50ms, [] { return false; }), LogWaitEnd::kTimedOut);
  test::WriteFile(dir / "audit.log", "again\n");
  EXPECT_EQ(watch->Wait(kLimit, [] { return false; }), LogWaitEnd::kLogChanged);
}

TEST(LogWatch, AFolderThatIsNotThereCannotBeFollowed) {
  test::TempDir dir;
  std::string why;
  EXPECT_EQ(platform::WatchLogFolder(dir / "missing/audit.log", why), nullptr);
  EXPECT_NE(why.find("cannot be watched: No such file or directory"), std::string::npos) << why;
}

TEST(LogWatch, ASignalEndsTheWaitWhetherItCameBeforeOrDuringIt) {
  test::TempDir dir;
  test::WriteFile(dir / "audit.log", "first\n");
  std::string why;
  const auto watch = platform::WatchLogFolder(dir / "audit.log", why);
  ASSERT_NE(watch, nullptr) << why;
  const auto signals = platform::WatchServiceSignals(why);
  ASSERT_NE(signals, nullptr) << why;
  platform::ServiceSignals seen;
  const auto look = [&] {
    seen = signals->Take();
    return seen.stop || seen.reload;
  };

  // Before: the look at the start sees it.
  ASSERT_EQ(::raise(SIGHUP), 0);
  EXPECT_EQ(watch->Wait(std::chrono::minutes(5), look), LogWaitEnd::kInterrupted);
  EXPECT_TRUE(seen.reload);

  // During: another process sends it while this one waits.
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::usleep(200 * 1000);
    ::kill(parent, SIGTERM);
    ::_exit(0);
  }
  const LogWaitEnd end = watch->Wait(std::chrono::minutes(5), look);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(end, LogWaitEnd::kInterrupted);
  // Seen by the look at the start on a machine too slow to begin the wait within 200 ms.
  EXPECT_TRUE(seen.stop || signals->Take().stop);
}

}  // namespace
}  // namespace qs
