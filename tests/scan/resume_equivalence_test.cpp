// A run of passes over a growing log gives the same list and the same comments, byte for byte,
// whether every pass reads the whole log or each pass goes on after the last record the one
// before examined: appends, an unchanged log, a stop in the middle, a wrap, a clear, a rotation, a
// truncation, and audit events whose last records come after a pass.
//
// Two worlds, each with its own share of the same files and its own copy of the log (their paths
// have the same length, so the logs differ only in the share's name): in the first every pass
// reads through a new event-log service from the oldest record; the second keeps its service and
// its resume point for the whole run, as the program does.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comments/comment_pass.h"
#include "comments/file_comments.h"
#include "evtwriter/evt_writer.h"
#include "platform/posix/posix_eventlog.h"
#include "platform/services.h"
#include "scan/scan_pass.h"
#include "support/comment_fixture.h"

namespace qs::test {
namespace {

// The service of a world, counting the records it hands out, so that the test can tell a pass
// that resumed from one that read the log whole.
class CountingLogService final : public platform::EventLogService {
 public:
  explicit CountingLogService(std::unique_ptr<platform::EventLogService> inner)
      : inner_(std::move(inner)) {}
  platform::EventLogHandle OpenLog(std::string_view server, std::string_view source) override {
    return inner_->OpenLog(server, source);
  }
  bool NumberOfRecords(platform::EventLogHandle log, std::uint32_t& count) override {
    return inner_->NumberOfRecords(log, count);
  }
  bool ReadRecord(platform::EventLogHandle log, std::uint32_t flags, std::uint32_t offset,
                  void* buffer, std::uint32_t bytesToRead, std::uint32_t& bytesRead,
                  std::uint32_t& bytesNeeded) override {
    const bool read =
        inner_->ReadRecord(log, flags, offset, buffer, bytesToRead, bytesRead, bytesNeeded);
    if (read) ++recordsRead;
    return read;
  }
  bool CloseLog(platform::EventLogHandle log) override { return inner_->CloseLog(log); }
  bool OldestRecord(platform::EventLogHandle log, std::uint32_t& number) override {
    return inner_->OldestRecord(log, number);
  }
  int recordsRead = 0;

 private:
  std::unique_ptr<platform::EventLogService> inner_;
};

// The real comment step; asks for a stop after the given number of events of the pass.
class StoppingStep final : public CommentStep {
 public:
  StoppingStep(CommentStep& inner, RunState& run) : inner_(inner), run_(run) {}
  void CommentPass() override {
    inner_.CommentPass();
    if (++handed_ == stopAfter) run_.StopFlag = true;
  }
  void SummaryCheckPass() override { inner_.SummaryCheckPass(); }
  void NewPass(int stopAfterEvents) {
    handed_ = 0;
    stopAfter = stopAfterEvents;
  }
  int stopAfter = -1;

 private:
  CommentStep& inner_;
  RunState& run_;
  int handed_ = 0;
};

const std::vector<std::string> kFiles = {"f0.txt", "f1.txt", "f2.txt", "f3.txt",
                                         "f4.txt", "f5.txt", "tmp.txt"};

class World {
 public:
  World(const std::string& root, bool resumes, const std::string& logName)
      : root_(root), resumes_(resumes), log(root + "/" + logName) {
    std::filesystem::create_directories(share);
    for (const auto& f : kFiles) WriteFile(share + "/" + f, "content of " + f);
    settings.MacComments = true;
    settings.WinComments = true;
    settings.Performance = 1;
    settings.MaxSelectedEvents = 12;  // the list also loses rows on the way
    view.visible = true;
    paths.SetDrive('D', share);
  }

  // One pass; a stop is asked for after `stopAfter` events when it is not -1.
  void Pass(int stopAfter = -1) {
    run.StopFlag = false;
    stopping.NewPass(stopAfter);
    view.calls.clear();
    view.progressValues.clear();
    if (!resumes_) {
      // A pass of the program as it was: a new service, the log read from its oldest record.
      state.resume = ResumePoint{};
      eventLog = std::make_unique<CountingLogService>(platform::MakePosixEventLogService(log));
    } else if (!eventLog) {
      eventLog = std::make_unique<CountingLogService>(platform::MakePosixEventLogService(log));
    }
    eventLog->recordsRead = 0;
    ScanContext context{*eventLog, list, state, settings, run, selection, view, stopping};
    ScanPass(context);
  }

  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (int r = 1; r <= list.EventCount(); ++r) {
      std::string row;
      for (int c = 0; c < 5; ++c) row += list.CellText(r, c) + "|";
      // The audit log names the files of the world's own share.
      if (row.find(share) != std::string::npos)
        row.replace(row.find(share), share.size(), "<share>");
      rows.push_back(row);
    }
    return rows;
  }
  std::vector<std::string> Comments() const {
    std::vector<std::string> out;
    for (const auto& f : kFiles) {
      out.push_back(f + " mac " + RawAttr(share + "/" + f, kMacAttr).value_or("(none)"));
      out.push_back(f + " win " + RawAttr(share + "/" + f, kWinAttr).value_or("(none)"));
    }
    return out;
  }
  int RecordsRead() const { return eventLog->recordsRead; }

  std::string root_;
  bool resumes_;
  std::string share = root_ + "/share";
  std::string log;
  Settings settings;
  RunState run;
  SelectionContext selection{"Administrator", 0};
  ScanState state;
  FakeScanView view;
  EventList list{settings};
  platform::PathMap paths;
  platform::PlatformServices services = platform::MakePlatformServices(log, paths);
  FileComments writers{
      list, state.currentEvent, settings, view, paths, *services.streams, services.makeSummary};
  FileCommentStep step{list, state.currentEvent, settings, *services.fileStatus, writers, view};
  StoppingStep stopping{step, run};
  std::unique_ptr<CountingLogService> eventLog;
};

class ResumeEquivalenceTest : public testing::Test {
 protected:
  void SetUp() override {
    previousLocale_ = std::setlocale(LC_TIME, nullptr);
    std::setlocale(LC_TIME, "C");
  }
  void TearDown() override { std::setlocale(LC_TIME, previousLocale_.c_str()); }

  // Both worlds pass; their lists and comments must agree, and the list must have the rows
  // expected so far (the run must have selected something to compare).
  void PassBoth(const std::string& stage, int stopAfter = -1) {
    SCOPED_TRACE(stage);
    full->Pass(stopAfter);
    resumed->Pass(stopAfter);
    EXPECT_EQ(full->Rows(), resumed->Rows());
    EXPECT_EQ(full->Comments(), resumed->Comments());
    EXPECT_EQ(full->state.taken.NewestEventTime, resumed->state.taken.NewestEventTime);
    EXPECT_TRUE(full->view.errors.empty());
    EXPECT_TRUE(resumed->view.errors.empty());
  }

  TempDir dir_;
  // The two roots have names of the same length.
  std::unique_ptr<World> full;
  std::unique_ptr<World> resumed;
  std::string previousLocale_;
};

// ---- .evt ---------------------------------------------------------------------------------------

struct EvtEvent {
  std::uint32_t time;
  std::string file;  // D:\...
  std::string user;
  bool write = true;
};

// The log holds events[first, end) numbered from `number`, laid out as a ring when `wrapAt` is
// not -1 (that record split over the end of the file).
void WriteEvt(const std::string& path, const std::vector<EvtEvent>& events, std::size_t first,
              std::uint32_t number, int wrapAt = -1) {
  evtwriter::EvtWriter writer(number);
  for (std::size_t i = first; i < events.size(); ++i) {
    evtwriter::Event560 e;
    e.time = events[i].time;
    e.objectName = events[i].file;
    e.primaryUser = events[i].user;
    if (!events[i].write) e.accesses = evtwriter::kReadAccesses;
    writer.Add(e);
  }
  evtwriter::EvtLayout layout;
  if (wrapAt >= 0) {
    layout.wrapRecord = wrapAt;
    layout.freeSpace = 256;
  }
  writer.WriteFile(path, layout);
}

TEST_F(ResumeEquivalenceTest, EvtLog) {
  full = std::make_unique<World>(dir_ / "full", false, "Security.evt");
  resumed = std::make_unique<World>(dir_ / "resu", true, "Security.evt");
  std::vector<EvtEvent> events;
  std::size_t first = 0;          // the oldest event the log still holds
  std::uint32_t firstNumber = 1;  // its record number
  int wrapAt = -1;
  std::uint32_t t = 1'000'000'000;
  const auto add = [&](const std::string& file, const std::string& user, bool write = true,
                       std::uint32_t step = 1) {
    t += step;
    events.push_back({t, "D:\\" + file, user, write});
  };
  const auto write = [&] {
    for (World* w : {full.get(), resumed.get()})
      WriteEvt(w->log, events, first, firstNumber, wrapAt);
  };
  const auto held = [&] { return static_cast<int>(events.size() - first); };

  add("f0.txt", "alice");
  add("f1.txt", "bob");
  add("f1.txt", "erin", false);  // a read
  add("f2.txt", "carol");
  add("f3.txt", "dave", true, 0);  // the same second as the one before: not taken
  add("f4.txt", "Administrator");  // the own account: counts as taken
  write();
  PassBoth("first pass");
  EXPECT_EQ(resumed->RecordsRead(), held());
  EXPECT_TRUE(resumed->state.resume.valid);

  PassBoth("unchanged");
  EXPECT_EQ(resumed->RecordsRead(), 1) << "only the record the pass resumes after";

  add("f0.txt", "bob");
  add("f5.txt", "carol");
  add("f2.txt", "alice", false);
  add("f3.txt", "dave");
  write();
  PassBoth("four appended");
  EXPECT_EQ(resumed->RecordsRead(), 1 + 4);
  EXPECT_EQ(full->RecordsRead(), held());
  // The bar goes on from where the resume record lies: it ends at the log's last record.
  ASSERT_FALSE(resumed->view.progressValues.empty());
  EXPECT_EQ(resumed->view.progressValues.size(), 4u + 2u);  // the resume record, 4 turns + end, 0
  EXPECT_EQ(resumed->view.progressValues.front(), held() - 4);

  for (const char* f : {"f1.txt", "f4.txt", "f5.txt", "f0.txt", "f2.txt"}) add(f, "frank");
  write();
  PassBoth("a stop after two events", 2);
  PassBoth("on after the stop");
  EXPECT_EQ(resumed->RecordsRead(), 1 + 3);

  // The oldest records are overwritten, not past the resume point; the ring wraps in the file.
  first += 5;
  firstNumber += 5;
  wrapAt = 2;
  add("f3.txt", "gina");
  add("f4.txt", "gina");
  write();
  PassBoth("wrapped, the resume record still there");
  EXPECT_EQ(resumed->RecordsRead(), 1 + 2);

  // Wrapped past the resume point: every record the last pass saw is gone.
  const std::size_t drop = events.size() - first;
  first += drop;
  firstNumber += static_cast<std::uint32_t>(drop);
  wrapAt = -1;
  add("f5.txt", "henry");
  add("f0.txt", "henry", true, 0);
  add("f1.txt", "ivan");
  write();
  PassBoth("wrapped past the resume point");
  EXPECT_EQ(resumed->RecordsRead(), held()) << "the seek fails, the log is read whole";

  // Cleared, and written again past the number of the resume record, which now names another.
  const std::uint32_t resumeNumber = resumed->state.resume.recordNumber;
  first = events.size();
  firstNumber = 1;
  for (std::uint32_t n = 0; n < resumeNumber + 3; ++n) {
    add(kFiles[n % kFiles.size()], n % 2 == 0 ? "judy" : "kim", n % 3 != 0);
  }
  write();
  PassBoth("cleared");
  add("f5.txt", "kim");
  add("tmp.txt", "Administrator");
  add("f0.txt", "lea");
  write();
  PassBoth("after the clear");
  EXPECT_EQ(resumed->RecordsRead(), 1 + 3);
  EXPECT_GE(full->list.EventCount(), 12);  // the list is full and loses rows at every insertion
}

// ---- audit log ----------------------------------------------------------------------------------

// The records of one event: a write-open of `file` (relative to the share) by `user`, or a rename
// of `from` onto `file`, by the process `pid`.
struct AuditEvent {
  AuditEvent(std::uint32_t seconds_, std::uint32_t serial_, std::string user_, std::string file_,
             int pid_ = 100, std::string from_ = "")
      : seconds(seconds_),
        serial(serial_),
        user(std::move(user_)),
        file(std::move(file_)),
        pid(pid_),
        from(std::move(from_)) {}
  std::uint32_t seconds;
  std::uint32_t serial;
  std::string user;
  std::string file;
  int pid;
  std::string from;  // a rename when not empty

  std::vector<std::string> Lines(const std::string& share) const {
    const std::string stamp =
        "msg=audit(" + std::to_string(seconds) + ".250:" + std::to_string(serial) + "):";
    const std::string ids = " auid=4294967295 uid=1000 euid=1000 fsuid=1000 ses=3";
    const std::string names =
        "\x1d"
        "FSUID=\"" +
        user + "\"";
    std::vector<std::string> lines;
    if (from.empty()) {
      lines.push_back("type=SYSCALL " + stamp +
                      " arch=c000003e syscall=257 success=yes exit=3 a0=ffffff9c a1=1 a2=241 "
                      "a3=1b6 items=1 ppid=1 pid=" +
                      std::to_string(pid) + ids + names);
      lines.push_back("type=CWD " + stamp + " cwd=\"" + share + "\"");
      lines.push_back("type=PATH " + stamp + " item=0 name=\"" + file +
                      "\" mode=0100644 nametype=NORMAL");
    } else {
      lines.push_back("type=SYSCALL " + stamp +
                      " arch=c000003e syscall=82 success=yes exit=0 a0=1 a1=2 a2=0 a3=0 items=5 "
                      "ppid=1 pid=" +
                      std::to_string(pid) + ids + names);
      lines.push_back("type=CWD " + stamp + " cwd=\"" + share + "\"");
      const auto item = [&](int n, const std::string& name, const char* mode, const char* type) {
        lines.push_back("type=PATH " + stamp + " item=" + std::to_string(n) + " name=\"" + name +
                        "\" mode=" + mode + " nametype=" + type);
      };
      item(0, share + "/", "040755", "PARENT");
      item(1, share + "/", "040755", "PARENT");
      item(2, from, "0100644", "DELETE");
      item(3, file, "0100644", "DELETE");
      item(4, file, "0100644", "CREATE");
    }
    lines.push_back("type=PROCTITLE " + stamp + " proctitle=6564");
    return lines;
  }
};

void Append(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  ASSERT_NE(f, nullptr);
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

TEST_F(ResumeEquivalenceTest, AuditLog) {
  full = std::make_unique<World>(dir_ / "full", false, "audit.log");
  resumed = std::make_unique<World>(dir_ / "resu", true, "audit.log");
  // Appends the given lines of the events, in the order given, to both logs.
  const auto append = [&](const std::vector<std::pair<AuditEvent, std::vector<int>>>& parts) {
    for (World* w : {full.get(), resumed.get()}) {
      std::string text;
      for (const auto& [event, which] : parts) {
        const auto lines = event.Lines(w->share);
        for (int i : which) text += lines[static_cast<std::size_t>(i)] + "\n";
      }
      Append(w->log, text);
    }
  };
  const std::vector<int> all = {0, 1, 2, 3};
  const std::uint32_t t = 1'700'000'000;

  const AuditEvent a{t + 1, 10, "alice", "f0.txt"};
  const AuditEvent b{t + 2, 11, "bob", "f1.txt"};
  // c begins before d but is stamped a second later, and its PATH record comes only after the
  // first pass: the pass that sees it whole must take it, resumed or not.
  const AuditEvent c{t + 5, 12, "carol", "f2.txt"};
  const AuditEvent d{t + 4, 13, "dave", "f3.txt"};
  append({{a, all}, {b, all}, {c, {0, 1}}, {d, all}});
  PassBoth("first pass, an event without its PATH record at the end");

  append({{c, {2, 3}}});
  PassBoth("its PATH record appended");
  PassBoth("unchanged");
  EXPECT_LE(resumed->RecordsRead(), 1);

  // A program saves f4 through tmp: the write of tmp is seen by one pass, the rename by the next.
  const AuditEvent w1{t + 7, 14, "erin", "tmp.txt", 555};
  append({{w1, all}});
  PassBoth("a temporary file written");
  const AuditEvent r1{t + 8, 15, "erin", "f4.txt", 555, "tmp.txt"};
  const AuditEvent e{t + 9, 16, "frank", "f5.txt"};
  append({{r1, all}, {e, all}});
  PassBoth("renamed onto the document");

  // Five events, a stop after two of them, then the rest.
  std::vector<std::pair<AuditEvent, std::vector<int>>> five;
  for (std::uint32_t i = 0; i < 5; ++i) {
    five.push_back({AuditEvent{t + 10 + i, 17 + i, "gina", kFiles[i]}, all});
  }
  append(five);
  PassBoth("a stop after two events", 2);
  PassBoth("on after the stop");
  const int afterStop = resumed->RecordsRead();
  EXPECT_LT(afterStop, full->RecordsRead());

  // auditd rotates: audit.log becomes audit.log.1, a new audit.log begins.
  for (World* w : {full.get(), resumed.get()}) {
    std::filesystem::rename(w->log, w->log + ".1");
  }
  const AuditEvent h{t + 20, 30, "henry", "f5.txt"};
  const AuditEvent i{t + 21, 31, "ivan", "f0.txt"};
  append({{h, all}, {i, all}});
  PassBoth("rotated");

  // The current file is cut short and written again (a log cleared by hand).
  for (World* w : {full.get(), resumed.get()}) std::filesystem::resize_file(w->log, 0);
  const AuditEvent j{t + 30, 40, "judy", "f1.txt"};
  append({{j, all}});
  PassBoth("truncated");
  const AuditEvent k{t + 31, 41, "kim", "f2.txt"};
  const AuditEvent l{t + 32, 42, "lea", "f3.txt"};
  append({{k, all}, {l, {0, 1}}});
  PassBoth("appended after the truncation");
  append({{l, {2, 3}}});
  PassBoth("the last event completed");
  EXPECT_GE(full->list.EventCount(), 12);
}

}  // namespace
}  // namespace qs::test

namespace qs::test {
namespace {

// The settings name another log: its records carry the same numbers, but the record the pass
// would resume after is not there, so the new log is read whole.
TEST_F(ResumeEquivalenceTest, AnotherLogIsReadWhole) {
  resumed = std::make_unique<World>(dir_ / "resu", true, "Security.evt");
  std::vector<EvtEvent> first;
  std::vector<EvtEvent> other;
  for (std::uint32_t i = 0; i < 6; ++i) {
    first.push_back({1'000'000'000 + i, "D:\\" + kFiles[i % kFiles.size()], "alice"});
    other.push_back({1'000'000'100 + i, "D:\\" + kFiles[i % kFiles.size()], "bob"});
  }
  WriteEvt(resumed->log, first, 0, 1);
  resumed->Pass();
  ASSERT_TRUE(resumed->state.resume.valid);
  ASSERT_EQ(resumed->list.EventCount(), 6);

  resumed->log = dir_ / "Other.evt";
  WriteEvt(resumed->log, other, 0, 1);
  resumed->eventLog.reset();  // the service of the other log
  resumed->Pass();
  EXPECT_EQ(resumed->RecordsRead(), 1 + 6) << "its record 6, another record; then all six";
  ASSERT_EQ(resumed->list.EventCount(), 12);
  EXPECT_EQ(resumed->list.CellText(1, 1), "bob");
  EXPECT_EQ(resumed->list.CellText(6, 1), "bob");
  EXPECT_EQ(resumed->list.CellText(7, 1), "alice");
}

}  // namespace
}  // namespace qs::test
