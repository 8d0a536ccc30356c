// A parsed .evt log brought up to date with its file by reading only what was written behind its
// records: the records must then be exactly those of the new file parsed whole, and any change
// other than records added (a cleared log, another log, damage) must be refused, so that the file
// is parsed whole instead.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "evtwriter/evt_writer.h"
#include "platform/formats/evt_log.h"

namespace qs::test {
namespace {

using evtwriter::EvtLayout;
using evtwriter::EvtWriter;
using platform::EvtLog;
using Image = std::vector<std::uint8_t>;

// A writer holding events first..last (numbered from first), each a write of its own file; `tag`
// changes the texts but not their lengths.
EvtWriter Events(std::uint32_t first, std::uint32_t last, char tag = 'a') {
  EvtWriter w(first);
  for (std::uint32_t i = first; i <= last; ++i) {
    evtwriter::Event560 e;
    e.time = 1'600'000'000 + i;
    e.objectName = std::string("D:\\share\\") + tag + std::to_string(1000 + i) + ".txt";
    e.primaryUser = "alice";
    w.Add(e);
  }
  return w;
}

std::vector<Image> Records(EvtLog& log) {
  std::vector<Image> out;
  for (std::size_t i = 0; i < log.RecordCount(); ++i) out.push_back(log.Record(i));
  return out;
}

// ReadOn over the new image; counts the bytes it reads.
bool ReadOn(EvtLog& log, const Image& now, std::size_t* bytesRead = nullptr) {
  std::size_t total = 0;
  const bool done =
      log.ReadOn(now.size(), [&](std::size_t offset, std::size_t length, std::uint8_t* out) {
        if (offset > now.size() || length > now.size() - offset) return false;
        std::copy(now.begin() + static_cast<std::ptrdiff_t>(offset),
                  now.begin() + static_cast<std::ptrdiff_t>(offset + length), out);
        total += length;
        return true;
      });
  if (bytesRead != nullptr) *bytesRead = total;
  return done;
}

TEST(EvtReadOn, RecordsAddedBehindTheOldOnesAreReadAlone) {
  struct Case {
    const char* what;
    std::function<Image()> before;
    std::function<Image(const EvtLog& before)> after;
    bool large;  // much larger than what was added: the bytes read must show it
  };
  // A ring just large enough for ten records (all of one size) and the EOF record.
  const auto recordSize = static_cast<std::uint32_t>(Events(1, 1).RecordBytes(0).size());
  const std::uint32_t ringSize = 0x30 + 10 * recordSize + 0x28 + 8;
  const Case cases[] = {
      {"the file grows with the log", [] { return Events(1, 1000).Bytes(); },
       [](const EvtLog&) { return Events(1, 1010).Bytes(); }, true},
      {"a full ring: the newest records write over the oldest",
       [&] {
         EvtLayout layout;
         layout.fileSize = ringSize;
         return Events(1, 10).Bytes(layout);
       },
       [&](const EvtLog& before) {
         // Records 3 to 10 stay where they were; 11 and 12 follow them, wrapping at the end of
         // the file onto what 1 and 2 held.
         EvtLayout layout;
         layout.fileSize = ringSize;
         layout.startOffset = before.RecordFileOffset(2);
         return Events(3, 12).Bytes(layout);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto log = EvtLog::Parse(c.before());
    ASSERT_NE(log, nullptr);
    const Image now = c.after(*log);
    auto whole = EvtLog::Parse(now);
    ASSERT_NE(whole, nullptr);
    std::size_t read = 0;
    ASSERT_TRUE(ReadOn(*log, now, &read));
    EXPECT_EQ(Records(*log), Records(*whole));
    EXPECT_EQ(log->Layout().eofOffset, whole->Layout().eofOffset);
    if (c.large) {
      EXPECT_LT(read, now.size() / 2) << "only the new records, the EOF record and the header";
    }
    // Nothing more written: nothing more to read, and the same records.
    ASSERT_TRUE(ReadOn(*log, now));
    EXPECT_EQ(Records(*log), Records(*whole));
  }
}

TEST(EvtReadOn, AnyOtherChangeIsRefused) {
  const Image before = Events(1, 20).Bytes();
  struct Case {
    const char* what;
    Image now;
  };
  Image damaged = Events(1, 25).Bytes();
  auto probe = EvtLog::Parse(damaged);
  damaged[probe->RecordFileOffset(21) + 4] ^= 0xFF;  // the signature of record 22
  const Case cases[] = {
      // Cleared and written again with records of the same sizes: the same layout, other events.
      {"a cleared log", Events(1, 25, 'b').Bytes()},
      {"another log", Events(501, 530).Bytes()},
      {"a damaged record behind the old ones", damaged},
      {"a shorter file", Image(before.begin(), before.end() - 64)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto log = EvtLog::Parse(before);
    ASSERT_NE(log, nullptr);
    EXPECT_FALSE(ReadOn(*log, c.now));
  }
}

}  // namespace
}  // namespace qs::test
