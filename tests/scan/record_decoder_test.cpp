#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/eventlog_record.h"
#include "scan/record_decoder.h"
#include "scan_records.h"

namespace qs {
namespace {

using namespace std::string_literals;

using test::MakeRawRecord;
using test::MakeRecord;
using test::ObjectOpen;

constexpr std::int32_t kNoon = 1'000'036'800;  // 2001-09-09 12:00:00 UTC

struct DecodeCase {
  const char* name;
  std::vector<std::uint8_t> record;
  DecodeOutcome outcome;
  std::string user;  // when selected
  std::string file;
  friend void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }
};

ObjectOpen Open(std::function<void(ObjectOpen&)> change) {
  ObjectOpen e;
  e.TimeWritten = kNoon;
  change(e);
  return e;
}

std::vector<DecodeCase> Cases() {
  using O = DecodeOutcome;
  std::vector<DecodeCase> c;
  c.push_back({"WriteWithoutClient", MakeRecord(Open([](ObjectOpen&) {})), O::Selected, "alice",
               "D:\\Shared\\budget.xls"});
  c.push_back({"ClientUserWins", MakeRecord(Open([](ObjectOpen& e) { e.ClientUser = "bob"; })),
               O::Selected, "bob", "D:\\Shared\\budget.xls"});
  c.push_back({"OpenForReading",
               MakeRecord(Open([](ObjectOpen& e) { e.Accesses = test::kReadAccesses; })),
               O::NotSelected, "", ""});
  c.push_back({"MissingWriteEA", MakeRecord(Open([](ObjectOpen& e) {
                 e.Accesses = "%%4416\r\n\t\t\t%%4417\r\n\t\t\t%%4418\r\n\t\t\t%%4424\r\n\t\t\t";
               })),
               O::NotSelected, "", ""});
  c.push_back({"MissingWriteAttributes",
               MakeRecord(Open([](ObjectOpen& e) { e.Accesses = "%%4417 %%4418 %%4420 %%4423"; })),
               O::NotSelected, "", ""});
  c.push_back({"RegistryKey", MakeRecord(Open([](ObjectOpen& e) {
                 e.ObjectType = "Key";
                 e.ObjectName = "\\REGISTRY\\MACHINE\\SOFTWARE";
               })),
               O::NotSelected, "", ""});
  // "File" ended by a zero byte anywhere is taken for the object type, even in a key's name: the
  // next insertion string becomes the path and the fields shift by one.
  c.push_back({"KeyNamedFile", MakeRecord(Open([](ObjectOpen& e) {
                 e.ObjectType = "Key";
                 e.ObjectName = "\\REGISTRY\\MACHINE\\File";
                 e.ClientDomain = "CORP";
               })),
               O::Selected, "CORP", "1224"});
  c.push_back({"OtherEvent", MakeRecord(Open([](ObjectOpen& e) { e.EventID = 562; })),
               O::NotSelected, "", ""});
  c.push_back({"EventIdHighBitsSet",
               MakeRecord(Open([](ObjectOpen& e) { e.EventID = 0x00010230; })), O::NotSelected, "",
               ""});
  c.push_back({"FileInsideAWord", MakeRecord(Open([](ObjectOpen& e) { e.ObjectType = "Files"; })),
               O::NotSelected, "", ""});
  c.push_back({"EmptyPath", MakeRecord(Open([](ObjectOpen& e) { e.ObjectName = ""; })),
               O::NotSelected, "", ""});
  c.push_back({"NonAsciiBytesPassThrough", MakeRecord(Open([](ObjectOpen& e) {
                 e.ObjectName = "D:\\Données\\été.doc";
                 e.ClientUser = "Jürgen";
               })),
               O::Selected, "Jürgen", "D:\\Données\\été.doc"});
  // Six separators after the path: the primary user is there, the client user is not.
  c.push_back({"SixTabsOnly",
               MakeRawRecord(560, kNoon,
                             "Security\0SERVER\0File\0C:\\a.txt\0h\0o1\0o2\0p\0alice\0D\0"
                             "%%4417 %%4418 %%4420 %%4424"s),
               O::Selected, "", "C:\\a.txt"});
  c.push_back(
      {"RawTabsSeparateToo",
       MakeRawRecord(560, kNoon,
                     "File\tC:\\b.txt\th\to1\to2\tp\tcarol\tD\tL\t-\t%%4417%%4418%%4420%%4424"),
       O::Selected, "carol", "C:\\b.txt"});
  c.push_back({"TypeAtTheVeryEnd", MakeRawRecord(560, kNoon, "%%4417%%4418%%4420%%4424 File"),
               O::NotSelected, "", ""});
  c.push_back({"PathNotEnded", MakeRawRecord(560, kNoon, "%%4417%%4418%%4420%%4424 File\tC:\\x"),
               O::NotSelected, "", ""});
  return c;
}

class DecodeTable : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTable, OutcomeUserAndFile) {
  const DecodeCase& c = GetParam();
  std::int32_t newest = 0;
  const SelectionContext context{"Administrator", 0};
  CurrentEvent current;
  current.user = "untouched";
  const DecodeOutcome outcome =
      DecodeRecord(c.record.data(), c.record.size(), newest, context, current);
  ASSERT_EQ(outcome, c.outcome);
  if (c.outcome == DecodeOutcome::Selected) {
    EXPECT_EQ(newest, kNoon);
    EXPECT_EQ(current.user, c.user);
    EXPECT_EQ(current.file, c.file);
    EXPECT_EQ(current.dateTime, (EventDateTime{2001, 9, 9, 12, 0, 0}));
  } else {
    EXPECT_EQ(newest, 0);
    EXPECT_EQ(current.user, "untouched");
  }
}

INSTANTIATE_TEST_SUITE_P(Records, DecodeTable, testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeRecord, SixTabsWithEmptyOwnAccountIsOwnAccount) {
  // The empty user equals an empty own account name, and the newest time still advances.
  const auto record = MakeRawRecord(
      560, kNoon, "File\0C:\\a.txt\0h\0o1\0o2\0p\0alice\0D\0%%4417%%4418%%4420%%4424"s);
  std::int32_t newest = 0;
  CurrentEvent current;
  EXPECT_EQ(DecodeRecord(record.data(), record.size(), newest, SelectionContext{"", 0}, current),
            DecodeOutcome::OwnAccount);
  EXPECT_EQ(newest, kNoon);
}

TEST(DecodeRecord, OnlyEventsNewerThanTheNewestAreTaken) {
  const SelectionContext context{"Administrator", 0};
  std::int32_t newest = 0;
  CurrentEvent current;
  const auto first = MakeRecord(Open([](ObjectOpen& e) { e.ObjectName = "C:\\first"; }));
  const auto sameSecond = MakeRecord(Open([](ObjectOpen& e) { e.ObjectName = "C:\\second"; }));
  const auto older = MakeRecord(Open([](ObjectOpen& e) {
    e.ObjectName = "C:\\older";
    e.TimeWritten = kNoon - 3600;  // after the clock was set back
  }));
  const auto later = MakeRecord(Open([](ObjectOpen& e) {
    e.ObjectName = "C:\\later";
    e.TimeWritten = kNoon + 1;
  }));

  ASSERT_EQ(DecodeRecord(first.data(), first.size(), newest, context, current),
            DecodeOutcome::Selected);
  EXPECT_EQ(DecodeRecord(sameSecond.data(), sameSecond.size(), newest, context, current),
            DecodeOutcome::NotSelected);
  EXPECT_EQ(DecodeRecord(older.data(), older.size(), newest, context, current),
            DecodeOutcome::NotSelected);
  EXPECT_EQ(current.file, "C:\\first");
  EXPECT_EQ(newest, kNoon);
  ASSERT_EQ(DecodeRecord(later.data(), later.size(), newest, context, current),
            DecodeOutcome::Selected);
  EXPECT_EQ(current.file, "C:\\later");
  EXPECT_EQ(newest, kNoon + 1);
}

TEST(DecodeRecord, TimeWrittenIsSigned) {
  // A TimeWritten with the top bit set is before 1970, hence never newer than a taken event.
  std::int32_t newest = 5;
  CurrentEvent current;
  const auto record = MakeRecord(Open([](ObjectOpen& e) { e.TimeWritten = -100; }));
  EXPECT_EQ(DecodeRecord(record.data(), record.size(), newest, SelectionContext{"x", 0}, current),
            DecodeOutcome::NotSelected);
  EXPECT_EQ(newest, 5);
}

TEST(DecodeRecord, OwnAccountInAnyCaseAdvancesTheNewestTime) {
  const SelectionContext context{"Administrator", 0};
  std::int32_t newest = 0;
  CurrentEvent current;
  const auto own = MakeRecord(Open([](ObjectOpen& e) { e.PrimaryUser = "ADMINISTRATOR"; }));
  const auto otherSameSecond = MakeRecord(Open([](ObjectOpen& e) { e.PrimaryUser = "bob"; }));

  EXPECT_EQ(DecodeRecord(own.data(), own.size(), newest, context, current),
            DecodeOutcome::OwnAccount);
  EXPECT_EQ(newest, kNoon);
  EXPECT_TRUE(current.file.empty());
  EXPECT_EQ(DecodeRecord(otherSameSecond.data(), otherSameSecond.size(), newest, context, current),
            DecodeOutcome::NotSelected);

  // Only whole names match.
  std::int32_t fresh = 0;
  const auto longer = MakeRecord(Open([](ObjectOpen& e) { e.ClientUser = "administrators"; }));
  EXPECT_EQ(DecodeRecord(longer.data(), longer.size(), fresh, context, current),
            DecodeOutcome::Selected);
}

TEST(DecodeRecord, LocalTimeSubtractsTheStandardBias) {
  struct {
    std::int32_t bias;
    EventDateTime expected;
  } const cases[] = {
      {0, {2001, 9, 9, 12, 0, 0}},
      {300, {2001, 9, 9, 7, 0, 0}},
      {-60, {2001, 9, 9, 13, 0, 0}},
      {-780, {2001, 9, 10, 1, 0, 0}},
  };
  const auto record = MakeRecord(Open([](ObjectOpen&) {}));
  for (const auto& c : cases) {
    std::int32_t newest = 0;
    CurrentEvent current;
    ASSERT_EQ(
        DecodeRecord(record.data(), record.size(), newest, SelectionContext{"x", c.bias}, current),
        DecodeOutcome::Selected);
    EXPECT_EQ(current.dateTime, c.expected) << "bias " << c.bias;
  }
}

// Copies the bytes into a heap block of exactly that size, so that AddressSanitizer reports any
// read past them.
std::unique_ptr<std::uint8_t[]> Exact(const std::vector<std::uint8_t>& bytes, std::size_t size) {
  auto block = std::make_unique<std::uint8_t[]>(size);
  std::memcpy(block.get(), bytes.data(), size);
  return block;
}

TEST(DecodeRecord, LengthNeverLeadsPastTheBytesRead) {
  const auto good = MakeRecord(Open([](ObjectOpen&) {}));
  const SelectionContext context{"x", 0};

  // Length 0 or below the fixed part: the bytes read are decoded.
  for (std::uint32_t length : {0u, 4u, 55u}) {
    auto bytes = good;
    platform::WriteU32(bytes.data(), length);
    auto block = Exact(bytes, bytes.size());
    std::int32_t newest = 0;
    CurrentEvent current;
    EXPECT_EQ(DecodeRecord(block.get(), bytes.size(), newest, context, current),
              DecodeOutcome::Selected)
        << "Length " << length;
    EXPECT_EQ(current.file, "D:\\Shared\\budget.xls");
  }

  // Length beyond the bytes read: only those bytes, and a cut access list is no write.
  for (std::uint32_t length : {static_cast<std::uint32_t>(good.size() + 1), 0xFFFFFFFFu}) {
    auto bytes = good;
    platform::WriteU32(bytes.data(), length);
    const std::size_t cut = bytes.size() - 40;  // inside the access list
    auto block = Exact(bytes, cut);
    std::int32_t newest = 0;
    CurrentEvent current;
    EXPECT_EQ(DecodeRecord(block.get(), cut, newest, context, current), DecodeOutcome::NotSelected)
        << "Length " << length;
  }

  // Fewer bytes than the fixed part: nothing to decode, nothing touched beyond them.
  for (std::size_t size : {0u, 20u, 24u, 55u}) {
    auto block = Exact(good, size == 0 ? 1 : size);
    std::int32_t newest = 0;
    CurrentEvent current;
    EXPECT_EQ(DecodeRecord(block.get(), size, newest, context, current),
              DecodeOutcome::NotSelected);
  }
  std::int32_t newest = 0;
  CurrentEvent current;
  EXPECT_EQ(DecodeRecord(nullptr, 0, newest, context, current), DecodeOutcome::NotSelected);
}

TEST(DecodeRecord, ShorterRecordIsReadFromItsOwnBytesOnly) {
  // A write of bob, then a read of the same file written over it in the same buffer: what the
  // read leaves of the write's access list lies past its Length and must not count.
  const auto longWrite = MakeRecord(Open([](ObjectOpen& e) {
    e.ClientUser = "bob";
    e.ObjectName = "D:\\Shared\\" + std::string(300, 'x') + ".txt";
  }));
  const auto shortRead = MakeRecord(Open([](ObjectOpen& e) {
    e.Accesses = "%%4416";
    e.TimeWritten = kNoon + 10;
  }));
  ASSERT_LT(shortRead.size(), longWrite.size());
  std::vector<std::uint8_t> buffer(2048, 0);
  std::memcpy(buffer.data(), longWrite.data(), longWrite.size());
  std::memcpy(buffer.data(), shortRead.data(), shortRead.size());

  std::int32_t newest = 0;
  CurrentEvent current;
  EXPECT_EQ(DecodeRecord(buffer.data(), buffer.size(), newest, SelectionContext{"x", 0}, current),
            DecodeOutcome::NotSelected);
  EXPECT_EQ(newest, 0);
}

}  // namespace
}  // namespace qs
