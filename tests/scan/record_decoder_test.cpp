#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>

#include "platform/eventlog_record.h"
#include "platform/sysinfo.h"
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
  TakenEvents newest;
  const SelectionContext context{"Administrator", 0};
  CurrentEvent current;
  current.user = "untouched";
  const DecodeOutcome outcome =
      DecodeRecord(c.record.data(), c.record.size(), newest, context, current);
  ASSERT_EQ(outcome, c.outcome);
  if (c.outcome == DecodeOutcome::Selected) {
    EXPECT_EQ(newest.NewestEventTime, kNoon);
    EXPECT_EQ(current.user, c.user);
    EXPECT_EQ(current.file, c.file);
    EXPECT_EQ(current.dateTime, (EventDateTime{2001, 9, 9, 12, 0, 0}));
  } else {
    EXPECT_EQ(newest.NewestEventTime, 0);
    EXPECT_EQ(current.user, "untouched");
  }
}

INSTANTIATE_TEST_SUITE_P(Records, DecodeTable, testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeRecord, SixTabsWithEmptyOwnAccountIsOwnAccount) {
  // The empty user equals an empty own account name, and the newest time still advances.
  const auto record = MakeRawRecord(
      560, kNoon, "File\0C:\\a.txt\0h\0o1\0o2\0p\0alice\0D\0%%4417%%4418%%4420%%4424"s);
  TakenEvents newest;
  CurrentEvent current;
  EXPECT_EQ(DecodeRecord(record.data(), record.size(), newest, SelectionContext{"", 0}, current),
            DecodeOutcome::OwnAccount);
  EXPECT_EQ(newest.NewestEventTime, kNoon);
}

// One record after the other through the same state, as a pass reads them: each with the outcome
// it must have there.
struct Step {
  const char* what;
  std::vector<std::uint8_t> record;
  DecodeOutcome outcome;
};

ObjectOpen Save(std::string user, std::string file, std::int32_t time = kNoon) {
  ObjectOpen e;
  e.TimeWritten = time;
  e.PrimaryUser = std::move(user);
  e.ObjectName = std::move(file);
  return e;
}

std::vector<std::uint8_t> SaveOf(std::string user, std::string file, std::int32_t time = kNoon,
                                 std::optional<platform::FileIdentity> identity = std::nullopt) {
  ObjectOpen e = Save(std::move(user), std::move(file), time);
  e.Identity = identity;
  return MakeRecord(e);
}

void DecodeInTurn(const std::vector<Step>& steps, TakenEvents& taken) {
  const SelectionContext context{"Administrator", 0};
  for (const Step& step : steps) {
    CurrentEvent current;
    EXPECT_EQ(DecodeRecord(step.record.data(), step.record.size(), taken, context, current),
              step.outcome)
        << step.what;
  }
}

TEST(DecodeRecord, EachUserAndFileIsTakenOncePerSecond) {
  using O = DecodeOutcome;
  const platform::FileIdentity first{12, 253, 1}, second{13, 253, 1};
  TakenEvents taken;
  DecodeInTurn(
      {
          {"a save", SaveOf("alice", "C:\\log.txt"), O::Selected},
          {"its repeat in the same second", SaveOf("alice", "C:\\log.txt"), O::NotSelected},
          {"the user in another letter case", SaveOf("ALICE", "C:\\log.txt"), O::NotSelected},
          {"the file in another letter case", SaveOf("alice", "c:\\log.txt"), O::Selected},
          {"another user's save in that second", SaveOf("bob", "C:\\budget.xls"), O::Selected},
          {"the first user's other file in that second", SaveOf("alice", "C:\\budget.xls"),
           O::Selected},
          {"an earlier second (the clock set back)", SaveOf("carol", "C:\\x", kNoon - 3600),
           O::NotSelected},
          {"the next second", SaveOf("alice", "C:\\log.txt", kNoon + 1), O::Selected},
          {"a user of the second before, now late", SaveOf("dave", "C:\\x", kNoon), O::NotSelected},
          {"a file named with its identity", SaveOf("alice", "C:\\doc", kNoon + 1, first),
           O::Selected},
          {"the same file again", SaveOf("alice", "C:\\doc", kNoon + 1, first), O::NotSelected},
          {"another file saved under that name", SaveOf("alice", "C:\\doc", kNoon + 1, second),
           O::Selected},
      },
      taken);
  EXPECT_EQ(taken.NewestEventTime, kNoon + 1);
}

TEST(DecodeRecord, AFloodOfOneUserHidesNoOtherUsersSave) {
  std::vector<Step> steps;
  steps.push_back(
      {"the flood's first append", SaveOf("mallory", "C:\\spam"), DecodeOutcome::Selected});
  for (int i = 0; i < 300; ++i)
    steps.push_back(
        {"an append of the flood", SaveOf("mallory", "C:\\spam"), DecodeOutcome::NotSelected});
  steps.push_back(
      {"alice's save in that second", SaveOf("alice", "C:\\report.doc"), DecodeOutcome::Selected});
  steps.push_back(
      {"and more of the flood", SaveOf("MALLORY", "C:\\spam"), DecodeOutcome::NotSelected});
  TakenEvents taken;
  DecodeInTurn(steps, taken);
  EXPECT_EQ(taken.inNewestSecond.size(), 2u);  // one key per user and file, not per event
}

// The own account as start-up learns it (platform::AccountNameInEvents) against the account that
// the log names: run as LocalSystem, the program's writes are logged under the computer's
// account "FS01$", not "SYSTEM"; names outside ASCII compare in the one encoding, UTF-8.
TEST(DecodeRecord, OwnWritesStayUnselectedWhateverTheAccount) {
  struct Case {
    const char* user;  // GetUserName's answer
    bool localSystem;
    const char* computer;
    const char* logged;  // the account of the event
    DecodeOutcome outcome;
  };
  const Case cases[] = {
      {"SYSTEM", true, "FS01", "FS01$", DecodeOutcome::OwnAccount},
      {"SYSTEM", true, "FS01", "fs01$", DecodeOutcome::OwnAccount},
      {"SYSTEM", true, "FS01", "SYSTEM", DecodeOutcome::Selected},
      {"SYSTEM", true, "FS01", "FS02$", DecodeOutcome::Selected},
      {"SYSTEM", true, "FS01", "FS01", DecodeOutcome::Selected},
      {"J\u00fcrgen", false, "FS01", "J\u00fcrgen", DecodeOutcome::OwnAccount},
      {"J\u00fcrgen", false, "FS01", "FS01$", DecodeOutcome::Selected},
      {"\u7530\u4e2d", false, "FS01", "\u7530\u4e2d", DecodeOutcome::OwnAccount},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.user) + " as " + c.logged);
    const SelectionContext context{platform::AccountNameInEvents(c.user, c.localSystem, c.computer),
                                   0};
    TakenEvents taken;
    CurrentEvent current;
    const auto record = SaveOf(c.logged, "D:\\Shared\\budget.xls");
    EXPECT_EQ(DecodeRecord(record.data(), record.size(), taken, context, current), c.outcome);
  }
}

TEST(DecodeRecord, OwnAccountCountsAsTakenButHidesNobodyElse) {
  const SelectionContext context{"Administrator", 0};
  TakenEvents taken;
  CurrentEvent current;
  const auto own = SaveOf("ADMINISTRATOR", "D:\\Shared\\budget.xls");
  const auto other = SaveOf("bob", "D:\\Shared\\budget.xls");

  EXPECT_EQ(DecodeRecord(own.data(), own.size(), taken, context, current),
            DecodeOutcome::OwnAccount);
  EXPECT_EQ(taken.NewestEventTime, kNoon);
  EXPECT_TRUE(current.file.empty());
  EXPECT_EQ(DecodeRecord(own.data(), own.size(), taken, context, current),
            DecodeOutcome::NotSelected);  // its repeat is not new either
  EXPECT_EQ(DecodeRecord(other.data(), other.size(), taken, context, current),
            DecodeOutcome::Selected);
  EXPECT_EQ(current.user, "bob");

  // Only whole names match.
  TakenEvents fresh;
  const auto longer = MakeRecord(Open([](ObjectOpen& e) { e.ClientUser = "administrators"; }));
  EXPECT_EQ(DecodeRecord(longer.data(), longer.size(), fresh, context, current),
            DecodeOutcome::Selected);
}

TEST(DecodeRecord, TimeWrittenIsSigned) {
  // A TimeWritten with the top bit set is before 1970, hence never newer than a taken event.
  TakenEvents taken;
  taken.NewestEventTime = 5;
  CurrentEvent current;
  const auto record = MakeRecord(Open([](ObjectOpen& e) { e.TimeWritten = -100; }));
  EXPECT_EQ(DecodeRecord(record.data(), record.size(), taken, SelectionContext{"x", 0}, current),
            DecodeOutcome::NotSelected);
  EXPECT_EQ(taken.NewestEventTime, 5);
  // Before anything is taken, neither is a record of 1970-01-01 00:00:00 itself.
  TakenEvents fresh;
  const auto epoch = MakeRecord(Open([](ObjectOpen& e) { e.TimeWritten = 0; }));
  EXPECT_EQ(DecodeRecord(epoch.data(), epoch.size(), fresh, SelectionContext{"x", 0}, current),
            DecodeOutcome::NotSelected);
}

// The identity that the record's data area carries reaches the current event; a record without
// one, or with data of another kind, gives none.
TEST(DecodeRecord, FileIdentityComesFromTheDataArea) {
  const platform::FileIdentity id{0x1'0000'0002ull, 253, 1};
  struct {
    const char* what;
    std::vector<std::uint8_t> record;
    std::optional<platform::FileIdentity> want;
  } const cases[] = {
      {"identity", SaveOf("alice", "/srv/a", kNoon, id), id},
      {"none", SaveOf("alice", "/srv/a"), std::nullopt},
      {"other data", MakeRecord(Open([](ObjectOpen& e) { e.Data = {'Q', 'S', 'I', 'D', 1, 2}; })),
       std::nullopt},
  };
  for (const auto& c : cases) {
    TakenEvents taken;
    CurrentEvent current;
    current.identity = platform::FileIdentity{9, 9, 9};  // left from the event before
    ASSERT_EQ(
        DecodeRecord(c.record.data(), c.record.size(), taken, SelectionContext{"x", 0}, current),
        DecodeOutcome::Selected)
        << c.what;
    EXPECT_EQ(current.identity, c.want) << c.what;
  }
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
    TakenEvents newest;
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
    TakenEvents newest;
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
    TakenEvents newest;
    CurrentEvent current;
    EXPECT_EQ(DecodeRecord(block.get(), cut, newest, context, current), DecodeOutcome::NotSelected)
        << "Length " << length;
  }

  // Fewer bytes than the fixed part: nothing to decode, nothing touched beyond them.
  for (std::size_t size : {0u, 20u, 24u, 55u}) {
    auto block = Exact(good, size == 0 ? 1 : size);
    TakenEvents newest;
    CurrentEvent current;
    EXPECT_EQ(DecodeRecord(block.get(), size, newest, context, current),
              DecodeOutcome::NotSelected);
  }
  TakenEvents newest;
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

  TakenEvents newest;
  CurrentEvent current;
  EXPECT_EQ(DecodeRecord(buffer.data(), buffer.size(), newest, SelectionContext{"x", 0}, current),
            DecodeOutcome::NotSelected);
  EXPECT_EQ(newest.NewestEventTime, 0);
}

}  // namespace
}  // namespace qs
