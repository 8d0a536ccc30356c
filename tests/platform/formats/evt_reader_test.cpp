// The .evt reader on logs made by the writer: round trips of every field (wrapped, dirty, with
// leftovers behind the EOF record) and damaged or hostile files that must end the reading cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "evtwriter/evt_writer.h"
#include "platform/eventlog_record.h"
#include "platform/formats/evt_log.h"
#ifdef _WIN32
#include "platform/win32/win32_services.h"
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/log_source.h"
#endif
#include "support/ansi_record.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

using evtwriter::EvtLayout;
using evtwriter::EvtRecord;
using evtwriter::EvtWriter;
using platform::EvtLog;
using platform::ReadU32;
using platform::WriteU16;
using platform::WriteU32;

EvtRecord Sample(std::uint32_t i) {
  EvtRecord r;
  r.timeGenerated = 1000000000 + i;
  r.timeWritten = 1000000100 + i;
  r.eventId = 500 + i;
  r.eventType = evtwriter::kAuditFailure;
  r.eventCategory = static_cast<std::uint16_t>(i);
  r.sourceName = "Security";
  r.computerName = "SERVEUR-ÉTÉ";
  // S-1-5-21-1-2-3-1000 (five sub-authorities)
  r.userSid = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0,    0, 1, 0,
               0, 0, 2, 0, 0, 0, 3, 0, 0,  0, 0xe8, 3, 0, 0};
  r.strings = {"Zoë", "文件\\報告.doc", "😀 and more", "", std::string(i * 7, 'x')};
  r.data = {0xde, 0xad, 0xbe, static_cast<std::uint8_t>(i)};
  return r;
}

EvtWriter SampleWriter(std::uint32_t count, std::uint32_t first = 1) {
  EvtWriter w(first);
  for (std::uint32_t i = 0; i < count; ++i) w.Add(Sample(i));
  return w;
}

// The ANSI form the reader must give for a record the writer was given.
std::vector<std::uint8_t> Expected(const EvtRecord& r, std::uint32_t number) {
  platform::EventRecordFields f;
  f.RecordNumber = number;
  f.TimeGenerated = r.timeGenerated;
  f.TimeWritten = r.timeWritten;
  f.EventID = r.eventId;
  f.EventType = r.eventType;
  f.EventCategory = r.eventCategory;
  f.ReservedFlags = r.reservedFlags;
  f.ClosingRecordNumber = r.closingRecordNumber;
  f.SourceName = r.sourceName;
  f.ComputerName = r.computerName;
  f.UserSid = r.userSid;
  f.Strings = r.strings;
  f.Data = r.data;
  return platform::BuildAnsiRecord(f);
}

std::unique_ptr<EvtLog> Parse(std::vector<std::uint8_t> image) {
  return EvtLog::Parse(std::move(image));
}

// Reads every record, checking each one's layout; returns their record numbers.
std::vector<std::uint32_t> ReadAll(EvtLog& log) {
  std::vector<std::uint32_t> numbers;
  for (std::size_t i = 0; i < log.RecordCount(); ++i) {
    numbers.push_back(ParseAnsiRecord(log.Record(i)).recordNumber);
  }
  return numbers;
}

std::vector<std::uint32_t> Range(std::uint32_t first, std::uint32_t last) {
  std::vector<std::uint32_t> v;
  for (std::uint32_t n = first; n <= last; ++n) v.push_back(n);
  return v;
}

TEST(EvtRoundTrip, EveryFieldComesBackInTheAnsiForm) {
  EvtWriter w = SampleWriter(6, 40);
  evtwriter::Event560 e;
  e.time = 1700000000;
  e.objectName = "D:\\Partagé\\budget.xls";
  e.primaryUser = "José";
  e.clientUser = "bob";
  w.Add(e);
  auto log = Parse(w.Bytes());
  ASSERT_TRUE(log);
  ASSERT_EQ(log->RecordCount(), 7u);
  for (std::uint32_t i = 0; i < 6; ++i) {
    EXPECT_EQ(log->Record(i), Expected(Sample(i), 40 + i)) << "record " << i;
  }
  const AnsiRecord r = ParseAnsiRecord(log->Record(6));
  EXPECT_EQ(r.recordNumber, 46u);
  EXPECT_EQ(r.eventId, 560u);
  EXPECT_EQ(r.timeWritten, 1700000000u);
  EXPECT_EQ(r.eventCategory, 3);
  const std::vector<std::string> strings = {
      "Security",
      "File",
      "D:\\Partagé\\budget.xls",
      "1234",
      "0",
      "123456",
      "8",
      "José",
      "DOMAIN",
      "(0x0,0x3E7)",
      "bob",
      "-",
      "-",
      "%%1537\r\n\t\t\t%%1538\r\n\t\t\t%%1541\r\n\t\t\t%%4416\r\n\t\t\t"
      "%%4417\r\n\t\t\t%%4418\r\n\t\t\t%%4419\r\n\t\t\t%%4420\r\n\t\t\t"
      "%%4423\r\n\t\t\t%%4424",
      "-"};
  EXPECT_EQ(r.strings, strings);
  EXPECT_TRUE(log->Layout().headerTrusted);
}

TEST(EvtRoundTrip, EmptyLogHasNoRecords) {
  auto log = Parse(EvtWriter().Bytes());
  ASSERT_TRUE(log);
  EXPECT_EQ(log->RecordCount(), 0u);
  EXPECT_TRUE(log->Layout().eofRecordFound);
}

TEST(EvtRoundTrip, RecordSplitAtTheEndOfTheFileComesBackWhole) {
  const EvtWriter w = SampleWriter(5, 100);
  const std::uint32_t length = static_cast<std::uint32_t>(w.RecordBytes(2).size());
  // Split inside the fixed part, inside the trailing Length, and everywhere between.
  for (std::uint32_t split : {4u, 8u, 20u, 56u, 57u, 60u, length / 2, length - 4}) {
    SCOPED_TRACE(split);
    EvtLayout layout;
    layout.freeSpace = 64;
    layout.wrapRecord = 2;
    layout.splitBytes = split;
    const auto image = w.Bytes(layout);
    auto log = Parse(image);
    ASSERT_TRUE(log);
    ASSERT_EQ(ReadAll(*log), Range(100, 104));
    EXPECT_EQ(log->RecordFileOffset(2), image.size() - split);
    EXPECT_EQ(log->Record(2), Expected(Sample(2), 102));
    EXPECT_EQ(log->Record(4), Expected(Sample(4), 104));
  }
}

TEST(EvtRoundTrip, EofRecordSplitAtTheEndOfTheFileStillEndsTheLog) {
  const EvtWriter w = SampleWriter(3);
  std::uint32_t total = 0;
  for (std::size_t i = 0; i < 3; ++i) total += static_cast<std::uint32_t>(w.RecordBytes(i).size());
  EvtLayout layout;
  layout.fileSize = 0x30 + total + 0x28 + 0x100;
  layout.startOffset = layout.fileSize - total - 0x14;  // EOF record: 0x14 bytes at the end
  layout.afterEof = w.RecordBytes(0);                   // a whole old record lies behind it
  auto log = Parse(w.Bytes(layout));
  ASSERT_TRUE(log);
  EXPECT_EQ(ReadAll(*log), Range(1, 3));
}

TEST(EvtRoundTrip, TrailingBytesBeforeTheWrapDoNotHideTheNewerRecords) {
  // The fourth record did not fit before the end of the file and went to 0x30, leaving a tail of
  // zeros, or of an old record that is whole and valid: the walk goes on at 0x30 all the same.
  const EvtWriter w = SampleWriter(6, 20);
  EvtRecord small;
  small.eventId = 1;
  const std::vector<std::uint8_t> old = evtwriter::EncodeRecord(small, 3);
  // A tail shorter than the fourth record, so that it cannot have been written there.
  const auto tailSize = static_cast<std::uint32_t>(w.RecordBytes(3).size() - 8);
  ASSERT_GT(tailSize, old.size());
  for (const auto& tail : {std::vector<std::uint8_t>{}, old}) {
    SCOPED_TRACE(tail.size());
    EvtLayout layout;
    layout.dirty = true;
    layout.noSplit = true;
    layout.wrapRecord = 3;
    layout.splitBytes = tailSize;
    layout.tailBytes = tail;
    layout.freeSpace = layout.splitBytes + 64;
    const auto image = w.Bytes(layout);
    auto log = Parse(image);
    ASSERT_TRUE(log);
    EXPECT_EQ(ReadAll(*log), Range(20, 25));
    ASSERT_EQ(log->RecordCount(), 6u);
    EXPECT_EQ(log->RecordFileOffset(3), 0x30u);
    EXPECT_EQ(log->Record(5), Expected(Sample(5), 25));
  }
}

TEST(EvtRoundTrip, DirtyLogWithStaleHeaderGivesEveryRecord) {
  const EvtWriter w = SampleWriter(6);
  for (bool dirty : {true, false}) {
    SCOPED_TRACE(dirty);
    EvtLayout layout;
    layout.dirty = dirty;
    layout.staleHeaderRecords = 2;
    auto log = Parse(w.Bytes(layout));
    ASSERT_TRUE(log);
    EXPECT_EQ(ReadAll(*log), Range(1, 6));
    EXPECT_FALSE(log->Layout().headerTrusted);
  }
}

TEST(EvtRoundTrip, LeftoversBehindTheEofRecordAreNotEvents) {
  // An older log's records (numbers 1 to 3, whole and valid) behind the EOF record, and a stale
  // EOF record among them: the walk stops at the live EOF record.
  EvtWriter old = SampleWriter(3);
  std::vector<std::uint8_t> garbage;
  for (std::size_t i = 0; i < old.RecordCount(); ++i) {
    garbage.insert(garbage.end(), old.RecordBytes(i).begin(), old.RecordBytes(i).end());
  }
  const EvtWriter w = SampleWriter(4, 50);
  for (bool dirty : {false, true}) {
    for (int wrap : {-1, 1}) {
      SCOPED_TRACE(testing::Message() << "dirty " << dirty << " wrap " << wrap);
      EvtLayout layout;
      layout.dirty = dirty;
      layout.wrapRecord = wrap;
      layout.splitBytes = 12;
      layout.afterEof = garbage;
      layout.freeSpace = 32;
      auto log = Parse(w.Bytes(layout));
      ASSERT_TRUE(log);
      EXPECT_EQ(ReadAll(*log), Range(50, 53));
    }
  }
}

// libevt's evtinfo, a reader written by others, counts the same live records in the writer's
// wrapped, dirty and leftover-laden logs.
TEST(EvtRoundTrip, IndependentReaderAgreesWithTheWriter) {
  if (std::system("command -v evtinfo > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "evtinfo (libevt-utils) is not installed";
  }
  const EvtWriter w = SampleWriter(7, 300);
  EvtLayout wrapped;
  wrapped.wrapRecord = 3;
  wrapped.splitBytes = 30;
  wrapped.dirty = true;
  wrapped.staleHeaderRecords = 2;
  wrapped.afterEof = w.RecordBytes(0);
  wrapped.freeSpace = 16;
  for (const EvtLayout& layout : {EvtLayout{}, wrapped}) {
    TempDir dir;
    w.WriteFile(dir / "log.evt", layout);
    FILE* out = ::popen(("evtinfo '" + (dir / "log.evt") + "' 2>&1").c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, out) != nullptr) text += chunk;
    ::pclose(out);
    EXPECT_NE(text.find("Number of records\t\t: 7\n"), std::string::npos) << text;
    auto log = Parse(w.Bytes(layout));
    ASSERT_TRUE(log);
    EXPECT_EQ(ReadAll(*log), Range(300, 306));
  }
}

// A good log of five records, then a change; the reading must end where the change says.
struct BadFile {
  const char* name;
  std::function<void(std::vector<std::uint8_t>&, const EvtWriter&)> damage;
  bool opens;
  std::vector<std::uint32_t> numbers;  // record numbers returned when it opens
};

std::size_t RecordAt(const EvtWriter& w, std::size_t index) {
  std::size_t at = 0x30;
  for (std::size_t i = 0; i < index; ++i) at += w.RecordBytes(i).size();
  return at;
}
std::size_t EofAt(const EvtWriter& w) { return RecordAt(w, w.RecordCount()); }

TEST(EvtBadFiles, EveryDamageEndsTheReadingCleanly) {
  const std::vector<BadFile> cases = {
      {"empty file", [](auto& b, auto&) { b.clear(); }, false, {}},
      {"truncated header", [](auto& b, auto&) { b.resize(0x20); }, false, {}},
      {"header only", [](auto& b, auto&) { b.resize(0x30); }, false, {}},
      {"header signature", [](auto& b, auto&) { b[4] = 'X'; }, false, {}},
      {"header version 2", [](auto& b, auto&) { WriteU32(&b[8], 2); }, false, {}},
      {"Length 0", [](auto& b, auto& w) { WriteU32(&b[RecordAt(w, 2)], 0); }, true, {1, 2}},
      {"Length 0x28 mid-log",
       [](auto& b, auto& w) { WriteU32(&b[RecordAt(w, 2)], 0x28); },
       true,
       {1, 2}},
      {"Length past the end of the file",
       [](auto& b, auto& w) { WriteU32(&b[RecordAt(w, 3)], 0x7ffffff0); },
       true,
       {1, 2, 3}},
      {"Length not a multiple of 4",
       [](auto& b, auto& w) { WriteU32(&b[RecordAt(w, 1)], ReadU32(&b[RecordAt(w, 1)]) + 2); },
       true,
       {1}},
      {"Length beyond the EOF record",
       [](auto& b, auto& w) {
         // Record 5 grows over the EOF record into the free space behind it.
         const auto at = RecordAt(w, 4);
         const std::uint32_t length = ReadU32(&b[at]) + 0x28 + 8;
         WriteU32(&b[at], length);
         WriteU32(&b[at + length - 4], length);
       },
       true,
       {1, 2, 3, 4}},
      // A damaged first record: the walk finds the next record signature behind it.
      {"first record's signature",
       [](auto& b, auto& w) { b[RecordAt(w, 0) + 4] = 0; },
       true,
       {2, 3, 4, 5}},
      {"first record's Length 0",
       [](auto& b, auto& w) { WriteU32(&b[RecordAt(w, 0)], 0); },
       true,
       {2, 3, 4, 5}},
      {"first record overwritten by bytes that are no record",
       [](auto& b, auto& w) {
         std::fill(b.begin() + 0x30, b.begin() + static_cast<std::ptrdiff_t>(RecordAt(w, 1)), 0xA5);
       },
       true,
       {2, 3, 4, 5}},
      {"first two records damaged",
       [](auto& b, auto& w) {
         b[RecordAt(w, 0) + 4] = 0;
         WriteU32(&b[RecordAt(w, 1)], 0x7ffffff0);
       },
       true,
       {3, 4, 5}},
      {"every record's signature",
       [](auto& b, auto& w) {
         for (std::size_t i = 0; i < 5; ++i) b[RecordAt(w, i) + 4] = 0;
       },
       true,
       {}},
      {"record cut short (zeros to its end), the log going on behind it",
       [](auto& b, auto& w) {
         std::fill(b.begin() + static_cast<std::ptrdiff_t>(RecordAt(w, 2) + 60),
                   b.begin() + static_cast<std::ptrdiff_t>(RecordAt(w, 3)), 0);
       },
       true,
       {1, 2, 4, 5}},
      {"trailing Length differs, the record behind it broken too",
       [](auto& b, auto& w) {
         b[RecordAt(w, 3) - 4] ^= 0x10;
         b[RecordAt(w, 3) + 4] = 0;
       },
       true,
       {1, 2}},
      {"trailing Length differs, the record behind it out of sequence",
       [](auto& b, auto& w) {
         b[RecordAt(w, 3) - 4] ^= 0x10;
         WriteU32(&b[RecordAt(w, 3) + 8], 77);
       },
       true,
       {1, 2}},
      {"last record cut short before the EOF record",
       [](auto& b, auto& w) { WriteU32(&b[EofAt(w) - 4], 0); },
       true,
       {1, 2, 3, 4}},
      {"file cut inside a record",
       [](auto& b, auto& w) { b.resize(RecordAt(w, 3) + 70); },
       true,
       {1, 2, 3}},
      {"file cut at the EOF record",
       [](auto& b, auto& w) { b.resize(EofAt(w)); },
       true,
       {1, 2, 3, 4, 5}},
      {"start offset outside the file",
       [](auto& b, auto&) {
         WriteU32(&b[16], 0xfffffff0);
         WriteU32(&b[36], 1);
       },
       true,
       {1, 2, 3, 4, 5}},
      {"EOF begin offset outside the file, header start too",
       [](auto& b, auto& w) {
         WriteU32(&b[16], 0xfffffff0);
         WriteU32(&b[EofAt(w) + 20], 0x7fffffff);
       },
       true,
       {}},
      {"EOF begin offset unaligned: the EOF record is not believed",
       [](auto& b, auto& w) {
         WriteU32(&b[36], 1);
         WriteU32(&b[EofAt(w) + 20], 0x31);
       },
       true,
       {1, 2, 3, 4, 5}},
      {"EOF record destroyed, dirty",
       [](auto& b, auto& w) {
         WriteU32(&b[36], 1);
         WriteU32(&b[EofAt(w) + 4], 0);
       },
       true,
       {1, 2, 3, 4, 5}},
      {"header end offset outside the file",
       [](auto& b, auto&) { WriteU32(&b[20], 0xffffffff); },
       true,
       {1, 2, 3, 4, 5}},
      {"a wrap that would loop: records fill the ring, no EOF record",
       [](auto& b, auto& w) {
         b.resize(EofAt(w));
         WriteU32(&b[16], static_cast<std::uint32_t>(RecordAt(w, 2)));
       },
       true,
       {3, 4, 5, 1, 2}},
      {"a wrap that would loop: one record as long as the ring",
       [](auto& b, auto&) {
         b.resize(0x30 + 0x100);
         WriteU32(&b[0x30], 0x100);
         WriteU32(&b[0x34], platform::kRecordSignature);
         WriteU32(&b[0x30 + 0x100 - 4], 0x100);
       },
       true,
       {1}},
  };
  const EvtWriter w = SampleWriter(5);
  EvtLayout base;
  base.freeSpace = 0x40;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> image = w.Bytes(base);
    c.damage(image, w);
    // Through the file, as the service opens it, and from memory.
    TempDir dir;
    WriteFile(dir / "bad.evt", std::string(image.begin(), image.end()));
    auto fromFile = platform::OpenEvtLog(dir / "bad.evt");
    auto log = Parse(image);
    ASSERT_EQ(log != nullptr, c.opens);
    ASSERT_EQ(fromFile != nullptr, c.opens);
    if (!log) continue;
    EXPECT_EQ(ReadAll(*log), c.numbers);
    EXPECT_EQ(fromFile->RecordCount(), c.numbers.size());
  }
}

// What the walk passed over is counted: the damaged first record's bytes, in one place.
TEST(EvtBadFiles, TheBytesOfADamagedFirstRecordAreCounted) {
  const EvtWriter w = SampleWriter(6);
  EvtLayout base;
  base.freeSpace = 0x40;
  std::vector<std::uint8_t> image = w.Bytes(base);
  image[RecordAt(w, 0) + 4] = 'X';
  auto log = Parse(image);
  ASSERT_TRUE(log);
  EXPECT_EQ(ReadAll(*log), Range(2, 6));
  EXPECT_EQ(log->Layout().skippedBytes, RecordAt(w, 1) - RecordAt(w, 0));
  EXPECT_EQ(log->Layout().skippedStretches, 1u);

  // A whole log passes over nothing.
  auto whole = Parse(w.Bytes(base));
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->Layout().skippedBytes, 0u);
  EXPECT_EQ(whole->Layout().skippedStretches, 0u);
}

// A record with its inner offsets and counts set by an attacker: the record itself passes the
// walk's checks, and its conversion takes only what lies inside it.
TEST(EvtBadFiles, HostileOffsetsInsideARecordAreNotFollowed) {
  struct Case {
    const char* name;
    std::function<void(std::uint8_t*, std::uint32_t)> damage;  // record start, its Length
    std::size_t strings;  // strings converted (at least that many when NumStrings lies)
    bool sid;
    bool data;
    bool namesKept;
  };
  const std::vector<Case> cases = {
      {"StringOffset far outside", [](auto* r, auto) { WriteU32(r + 36, 0xfffffff0); }, 0, true,
       true, true},
      {"StringOffset inside the fixed part", [](auto* r, auto) { WriteU32(r + 36, 8); }, 0, true,
       true, true},
      {"StringOffset at the trailing Length", [](auto* r, auto len) { WriteU32(r + 36, len - 4); },
       0, true, true, true},
      {"NumStrings 65535", [](auto* r, auto) { WriteU16(r + 26, 0xffff); }, 6, true, true, true},
      {"UserSidLength past the end", [](auto* r, auto) { WriteU32(r + 40, 0xfffffffc); }, 5, false,
       true, true},
      {"UserSidOffset past the end", [](auto* r, auto) { WriteU32(r + 44, 0x10000); }, 5, false,
       true, true},
      {"DataLength wraps the offset", [](auto* r, auto) { WriteU32(r + 48, 0xffffffff); }, 5, true,
       false, true},
      {"DataOffset past the end", [](auto* r, auto len) { WriteU32(r + 52, len); }, 5, true, false,
       true},
      {"no zero unit anywhere",
       [](auto* r, auto len) {
         for (std::uint32_t k = platform::kFixedRecordSize; k + 4 < len; k += 2)
           WriteU16(r + k, 'A');
       },
       1, true, true, false},
  };
  const EvtRecord sample = Sample(3);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EvtWriter w;
    w.Add(sample);
    w.Add(sample);
    std::vector<std::uint8_t> image = w.Bytes();
    const std::uint32_t len = ReadU32(&image[0x30]);
    c.damage(&image[0x30], len);
    auto log = Parse(image);
    ASSERT_TRUE(log);
    ASSERT_EQ(log->RecordCount(), 2u);
    const AnsiRecord r = ParseAnsiRecord(log->Record(0));
    EXPECT_EQ(r.recordNumber, 1u);
    if (c.strings == 6) {
      EXPECT_GE(r.strings.size(), 6u);
    } else {
      EXPECT_EQ(r.strings.size(), c.strings);
    }
    if (c.strings >= 5) {
      EXPECT_EQ(r.strings[1], sample.strings[1]);
    }
    if (c.namesKept) {
      EXPECT_EQ(r.sourceName, sample.sourceName);
      EXPECT_EQ(r.computerName, sample.computerName);
    }
    EXPECT_EQ(!r.userSid.empty(), c.sid);
    EXPECT_EQ(!r.data.empty(), c.data);
    EXPECT_EQ(log->Record(1), Expected(sample, 2));  // the next record is untouched
  }
}

TEST(EvtBadFiles, ConversionOfTooShortRecordGivesNothing) {
  std::vector<std::uint8_t> out = {1, 2, 3};
  const std::vector<std::uint8_t> shortRecord(40, 0xff);
  platform::ConvertEvtRecord(shortRecord.data(), shortRecord.size(), out);
  EXPECT_TRUE(out.empty());
}

TEST(EvtBadFiles, UnpairedSurrogateBecomesReplacementCharacter) {
  EvtRecord r = Sample(0);
  r.strings = {"AB"};
  EvtWriter w;
  w.Add(r);
  std::vector<std::uint8_t> image = w.Bytes();
  const std::uint32_t stringOffset = ReadU32(&image[0x30 + platform::record_offset::kStringOffset]);
  WriteU16(&image[0x30 + stringOffset], 0xd800);  // 'A' becomes a lone high surrogate
  auto log = Parse(image);
  ASSERT_TRUE(log);
  ASSERT_EQ(log->RecordCount(), 1u);
  EXPECT_EQ(ParseAnsiRecord(log->Record(0)).strings, std::vector<std::string>{"\xEF\xBF\xBD"
                                                                              "B"});
}

TEST(EvtBadFiles, MissingOrNonRegularFileDoesNotOpen) {
  TempDir dir;
  EXPECT_EQ(platform::OpenEvtLog(dir / "missing.evt"), nullptr);
  EXPECT_EQ(platform::OpenEvtLog(dir.path().string()), nullptr);
  WriteFile(dir / "text.log", "type=SYSCALL msg=audit(1364481363.243:24287): arch=c000003e\n");
  EXPECT_EQ(platform::OpenEvtLog(dir / "text.log"), nullptr);
}

#ifndef _WIN32
#if defined(__SANITIZE_ADDRESS__)
#define QS_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QS_ADDRESS_SANITIZER 1
#endif
#endif

[[maybe_unused]] void Put32(int fd, std::uint64_t at, std::uint32_t value) {
  std::uint8_t b[4];
  WriteU32(b, value);
  ASSERT_EQ(::pwrite(fd, b, 4, static_cast<off_t>(at)), 4);
}

// A log of `fileSize` bytes whose records of 1 MiB are holes but for their fixed parts and their
// trailing Length: gigabytes of log in a few megabytes of disk.
// (Unused where the test that reads it is skipped: under AddressSanitizer.)
[[maybe_unused]] void WriteSparseLog(const std::string& path, std::uint64_t fileSize,
                                     std::uint32_t& records) {
  constexpr std::uint32_t kLength = 1u << 20;
  namespace h = platform::evt_header_offset;
  namespace e = platform::evt_eof_offset;
  namespace r = platform::record_offset;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(fileSize)), 0);
  records = static_cast<std::uint32_t>((fileSize - 0x30 - 0x28) / kLength);
  for (std::uint32_t i = 0; i < records; ++i) {
    const std::uint64_t at = 0x30 + std::uint64_t{i} * kLength;
    Put32(fd, at + r::kLength, kLength);
    Put32(fd, at + r::kSignature, platform::kRecordSignature);
    Put32(fd, at + r::kRecordNumber, i + 1);
    Put32(fd, at + r::kStringOffset, platform::kFixedRecordSize);
    Put32(fd, at + r::kUserSidOffset, platform::kFixedRecordSize);
    Put32(fd, at + r::kDataOffset, platform::kFixedRecordSize);
    Put32(fd, at + kLength - 4, kLength);
  }
  const std::uint64_t eof = 0x30 + std::uint64_t{records} * kLength;
  Put32(fd, eof + e::kSizeBeginning, 0x28);
  for (std::size_t k = 0; k < 4; ++k) Put32(fd, eof + e::kMarks + 4 * k, platform::kEvtEofMarks[k]);
  Put32(fd, eof + e::kBeginRecord, 0x30);
  Put32(fd, eof + e::kEndRecord, static_cast<std::uint32_t>(eof));
  Put32(fd, eof + e::kCurrentRecordNumber, records + 1);
  Put32(fd, eof + e::kOldestRecordNumber, 1);
  Put32(fd, eof + e::kSizeEnd, 0x28);
  Put32(fd, h::kHeaderSize, 0x30);
  Put32(fd, h::kSignature, platform::kRecordSignature);
  Put32(fd, h::kMajorVersion, 1);
  Put32(fd, h::kMinorVersion, 1);
  Put32(fd, h::kStartOffset, 0x30);
  Put32(fd, h::kEndOffset, static_cast<std::uint32_t>(eof));
  Put32(fd, h::kCurrentRecordNumber, records + 1);
  Put32(fd, h::kOldestRecordNumber, 1);
  Put32(fd, h::kMaxSize, static_cast<std::uint32_t>(fileSize));
  Put32(fd, h::kFlags, platform::kEvtFlagDirty);  // the EOF record is looked for, too
  Put32(fd, h::kEndHeaderSize, 0x30);
  ::close(fd);
}

// A log of 4 GiB is read in a process that may map no more than 256 MiB: the log is never held
// whole (before the mend the file was read into one buffer of its size, and this ran out of
// memory). Every record is read, and the process ends by itself.
TEST(EvtLargeFiles, AFourGigabyteLogIsReadWithinAQuarterOfAGigabyte) {
#ifdef QS_ADDRESS_SANITIZER
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: a limit on it cannot "
                  "be set under the sanitizer";
#else
  TempDir dir;
  const std::string path = dir / "large.evt";
  std::uint32_t records = 0;
  WriteSparseLog(path, 0xFFF00000u, records);
  ASSERT_GT(records, 4000u);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(300);  // the wait below is bounded: a reader that never ends is killed
    const rlimit limit{256u << 20, 256u << 20};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(3);
    try {
      auto log = platform::OpenEvtLog(path);
      if (!log) ::_exit(4);
      if (log->RecordCount() != records) ::_exit(5);
      for (std::size_t i = 0; i < log->RecordCount(); ++i) {
        if (ParseAnsiRecord(log->Record(i)).recordNumber != i + 1) ::_exit(6);
      }
    } catch (const std::bad_alloc&) {
      ::_exit(7);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "3: no limit, 4: not opened, 5: records missing, "
                                       "6: a record misread, 7: out of memory";
#endif
}
#endif

}  // namespace
}  // namespace qs::test
