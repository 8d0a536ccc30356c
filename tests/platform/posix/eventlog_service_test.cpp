// The event-log service over an .evt file: the open rules and the read protocol the scan relies on
// (a size query that does not move on, one record per read, the end of the log answering 0).
#include <gtest/gtest.h>

#include <functional>

#include "evtwriter/evt_writer.h"
#include "platform/posix/posix_eventlog.h"
#include "support/ansi_record.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

using namespace qs::platform;

constexpr std::uint32_t kForwards = kEventLogSequentialRead | kEventLogForwardsRead;

class EventLogServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    evtwriter::EvtWriter w(7);
    for (std::uint32_t i = 0; i < 3; ++i) {
      evtwriter::Event560 e;
      e.time = 1600000000 + i;
      e.objectName = "D:\\data\\file" + std::to_string(i) + ".txt";
      w.Add(e);
    }
    evtwriter::EvtRecord big;  // a record of more than 2048 bytes
    big.eventId = 4;
    big.data.assign(3000, 0x5a);
    w.Add(big);
    w.WriteFile(path_);
    service_ = MakePosixEventLogService(path_);
  }

  // Size query, then a read of exactly that size; 0 at the end of the log.
  std::uint32_t ReadNext(EventLogHandle h) {
    std::uint32_t read = 99, needed = 99;
    EXPECT_FALSE(service_->ReadRecord(h, kForwards, 0, nullptr, 0, read, needed));
    EXPECT_EQ(read, 0u);
    if (needed == 0) return 0;
    std::vector<std::uint8_t> buffer(needed + 16, 0xee);
    EXPECT_TRUE(service_->ReadRecord(h, kForwards, 0, buffer.data(),
                                     static_cast<std::uint32_t>(buffer.size()), read, needed));
    EXPECT_EQ(needed, 0u);
    buffer.resize(read);
    return ParseAnsiRecord(buffer).recordNumber;
  }

  TempDir dir_;
  std::string path_ = dir_ / "Security.evt";
  std::unique_ptr<EventLogService> service_;
};

TEST_F(EventLogServiceTest, SizeQueryDoesNotMoveOnAndTooSmallBufferFails) {
  const EventLogHandle h = service_->OpenLog("", "Security");
  ASSERT_NE(h, 0u);
  std::uint32_t count = 0;
  ASSERT_TRUE(service_->NumberOfRecords(h, count));
  EXPECT_EQ(count, 4u);

  std::uint32_t read = 0, first = 0, again = 0;
  EXPECT_FALSE(service_->ReadRecord(h, kForwards, 0, nullptr, 0, read, first));
  EXPECT_FALSE(service_->ReadRecord(h, kForwards, 0, nullptr, 0, read, again));
  ASSERT_GT(first, 56u);
  EXPECT_EQ(again, first);
  std::vector<std::uint8_t> buffer(first);
  std::uint32_t needed = 0;
  EXPECT_FALSE(service_->ReadRecord(h, kForwards, 0, buffer.data(), first - 1, read, needed));
  EXPECT_EQ(needed, first);
  EXPECT_EQ(read, 0u);
  ASSERT_TRUE(service_->ReadRecord(h, kForwards, 0, buffer.data(), first, read, needed));
  EXPECT_EQ(read, first);
  const AnsiRecord r = ParseAnsiRecord(buffer);
  EXPECT_EQ(r.recordNumber, 7u);
  EXPECT_EQ(r.eventId, 560u);
  ASSERT_EQ(r.strings.size(), 15u);
  EXPECT_EQ(r.strings[2], "D:\\data\\file0.txt");
  EXPECT_EQ(ReadNext(h), 8u);
  EXPECT_TRUE(service_->CloseLog(h));
}

TEST_F(EventLogServiceTest, EndOfLogAnswersZeroEveryTime) {
  const EventLogHandle h = service_->OpenLog("", "Security");
  ASSERT_NE(h, 0u);
  EXPECT_EQ(ReadNext(h), 7u);
  EXPECT_EQ(ReadNext(h), 8u);
  EXPECT_EQ(ReadNext(h), 9u);
  EXPECT_EQ(ReadNext(h), 10u);  // the big one, read whole
  EXPECT_EQ(ReadNext(h), 0u);
  EXPECT_EQ(ReadNext(h), 0u);
  std::vector<std::uint8_t> buffer(8192);
  std::uint32_t read = 1, needed = 1;
  EXPECT_FALSE(service_->ReadRecord(h, kForwards, 0, buffer.data(), 8192, read, needed));
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(needed, 0u);
  EXPECT_TRUE(service_->CloseLog(h));
}

TEST_F(EventLogServiceTest, HandlesAreIndependentAndClosedOnesAreInvalid) {
  const EventLogHandle a = service_->OpenLog("", "Security");
  const EventLogHandle b = service_->OpenLog("", "Security");
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  ASSERT_NE(a, b);
  EXPECT_EQ(ReadNext(a), 7u);
  EXPECT_EQ(ReadNext(a), 8u);
  EXPECT_EQ(ReadNext(b), 7u);
  EXPECT_TRUE(service_->CloseLog(a));
  EXPECT_EQ(ReadNext(b), 8u);

  std::uint32_t read = 0, needed = 0, count = 0;
  EXPECT_FALSE(service_->ReadRecord(a, kForwards, 0, nullptr, 0, read, needed));
  EXPECT_EQ(needed, 0u);
  EXPECT_FALSE(service_->NumberOfRecords(a, count));
  EXPECT_FALSE(service_->CloseLog(a));
  EXPECT_FALSE(service_->NumberOfRecords(0, count));
  EXPECT_FALSE(service_->CloseLog(12345));
  EXPECT_TRUE(service_->CloseLog(b));
}

TEST_F(EventLogServiceTest, EachOpenReadsTheFileAsItIsNow) {
  const EventLogHandle before = service_->OpenLog("", "Security");
  evtwriter::EvtWriter w(100);
  w.Add(evtwriter::EvtRecord{});
  w.WriteFile(path_);
  const EventLogHandle after = service_->OpenLog("", "Security");
  std::uint32_t count = 0;
  ASSERT_TRUE(service_->NumberOfRecords(before, count));
  EXPECT_EQ(count, 4u);
  ASSERT_TRUE(service_->NumberOfRecords(after, count));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(ReadNext(after), 100u);
}

TEST_F(EventLogServiceTest, OnlySequentialForwardsReadsAreServed) {
  const EventLogHandle h = service_->OpenLog("", "Security");
  std::uint32_t read = 0, needed = 0;
  for (std::uint32_t flags : {kEventLogSequentialRead | kEventLogBackwardsRead,
                              kEventLogSeekRead | kEventLogForwardsRead, 0u}) {
    EXPECT_FALSE(service_->ReadRecord(h, flags, 0, nullptr, 0, read, needed));
    EXPECT_EQ(needed, 0u);
  }
  EXPECT_EQ(ReadNext(h), 7u);
}

TEST_F(EventLogServiceTest, OpenFailsForRemoteServerOtherSourceOrUnusableFile) {
  EXPECT_EQ(service_->OpenLog("\\\\SERVER", "Security"), 0u);
  EXPECT_EQ(service_->OpenLog("localhost", "Security"), 0u);
  EXPECT_EQ(service_->OpenLog("", "Application"), 0u);
  EXPECT_EQ(service_->OpenLog("", ""), 0u);
  EXPECT_EQ(MakePosixEventLogService(dir_ / "missing.evt")->OpenLog("", "Security"), 0u);
  EXPECT_EQ(MakePosixEventLogService(dir_.path().string())->OpenLog("", "Security"), 0u);
  // Windows compares source names without regard to case.
  EXPECT_NE(service_->OpenLog("", "security"), 0u);
}

// A file that begins as an event-log header but that the reader refuses is a damaged log: the open
// fails, so the pass shows its message, instead of the file passing for an audit log without
// events.
TEST_F(EventLogServiceTest, DamagedEventLogFailsToOpen) {
  const std::string good = ReadFile(path_);
  struct {
    const char* name;
    std::function<void(std::string&)> damage;
  } const cases[] = {
      {"truncated header", [](std::string& b) { b.resize(0x20); }},
      {"header only", [](std::string& b) { b.resize(0x30); }},
      {"version 2", [](std::string& b) { b[8] = 2; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = good;
    c.damage(bytes);
    const std::string path = dir_ / "damaged.evt";
    WriteFile(path, bytes);
    EXPECT_EQ(MakePosixEventLogService(path)->OpenLog("", "Security"), 0u);
  }
}

// A file named as a Windows event log is read as one or not at all. Empty or unrecognisable, it
// would otherwise pass for an audit log without events, and the ".1" beside it would be read as
// that audit log's rotated file. A file with another name is still an audit log, empty or not.
TEST(EventLogServiceNames, AFileNamedEvtOrEvtxIsNeverAnAuditLog) {
  const std::string auditLine =
      "type=SYSCALL msg=audit(1600000000.500:1): arch=c000003e syscall=257 success=yes exit=3 "
      "items=1 pid=321 auid=1000 uid=1000 euid=1000 fsuid=1000\n";
  const struct {
    const char* name;
    std::string content;
    bool opens;
  } cases[] = {
      {"Security.evt", "", false},
      {"Security.EVTX", "", false},
      {"Security.Evt", "not a log at all", false},
      {"Security.evtx", auditLine, false},
      {"audit.log", "", true},
      {"Security.evt.log", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir / c.name;
    WriteFile(path, c.content);
    WriteFile(path + ".1", auditLine);
    const auto service = MakePosixEventLogService(path);
    const EventLogHandle h = service->OpenLog("", "Security");
    EXPECT_EQ(h != 0, c.opens);
    if (h != 0) service->CloseLog(h);
  }
}

}  // namespace
}  // namespace qs::test
