// The conversion of a Vista-and-later record's named strings into the event-560 layout, checked
// through the selection rule itself: a successful 4656 or 5145 that opens a file for writing is
// selected with its file and user, and everything else is presented so that it is never selected.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/formats/evtx_record.h"
#include "scan/record_decoder.h"
#include "support/ansi_record.h"

namespace qs::test {
namespace {

using platform::evtx::EvtxRecordFacts;

constexpr std::uint64_t kSuccess = 0x8020000000000000;  // Audit Success, as Windows writes it
constexpr std::uint64_t kFailure = 0x8010000000000000;  // Audit Failure
constexpr const char* kWrite = "%%4417\n\t\t\t\t%%4418\n\t\t\t\t%%4420\n\t\t\t\t%%4424\n\t\t\t\t";
// 2019-03-18 14:23:26.5 UTC as a FILETIME.
constexpr std::uint64_t kFiletime = (1552919006ull + 11644473600ull) * 10000000ull + 5000000ull;

EvtxRecordFacts HandleRequest(std::string objectType, std::string objectName, std::string access) {
  EvtxRecordFacts f;
  f.identifier = 1234;
  f.writtenFiletime = kFiletime;
  f.eventId = 4656;
  f.computerName = "FS01.example.corp";
  f.sourceName = "Microsoft-Windows-Security-Auditing";
  f.keywords = kSuccess;
  f.names = std::vector<std::string>{"SubjectUserSid", "SubjectUserName",    "SubjectDomainName",
                                     "SubjectLogonId", "ObjectServer",       "ObjectType",
                                     "ObjectName",     "HandleId",           "TransactionId",
                                     "AccessList",     "AccessReason",       "AccessMask",
                                     "PrivilegeList",  "RestrictedSidCount", "ProcessId",
                                     "ProcessName",    "ResourceAttributes"};
  f.strings = {"S-1-5-21-1-2-3-1001",
               "psam",
               "EXAMPLE",
               "0x00000000000fc635",
               "Security",
               std::move(objectType),
               std::move(objectName),
               "0x1a4",
               "{00000000-0000-0000-0000-000000000000}",
               std::move(access),
               "-",
               "0x116",
               "-",
               "0",
               "0x1f4",
               "C:\\Windows\\notepad.exe",
               "S:AI"};
  return f;
}

EvtxRecordFacts ShareCheck(std::string shareName, std::string localPath, std::string relative,
                           std::string access) {
  EvtxRecordFacts f;
  f.identifier = 438297;
  f.writtenFiletime = kFiletime;
  f.eventId = 5145;
  f.computerName = "PC01.example.corp";
  f.sourceName = "Microsoft-Windows-Security-Auditing";
  f.keywords = kSuccess;
  f.names = std::vector<std::string>{"SubjectUserSid",
                                     "SubjectUserName",
                                     "SubjectDomainName",
                                     "SubjectLogonId",
                                     "ObjectType",
                                     "IpAddress",
                                     "IpPort",
                                     "ShareName",
                                     "ShareLocalPath",
                                     "RelativeTargetName",
                                     "AccessMask",
                                     "AccessList",
                                     "AccessReason"};
  f.strings = {"S-1-5-21-1-2-3-500",
               "Administrator",
               "EXAMPLE",
               "0x00000000000fc635",
               "File",
               "10.0.2.15",
               "55632",
               std::move(shareName),
               std::move(localPath),
               std::move(relative),
               "0x116",
               std::move(access),
               "-"};
  return f;
}

// The same request in the 15 fields of Windows Vista, 7, Server 2008 and 2008 R2: no access
// reasons after the access list, no resource attributes at the end.
EvtxRecordFacts VistaHandleRequest(std::string objectType, std::string objectName,
                                   std::string access) {
  EvtxRecordFacts f =
      HandleRequest(std::move(objectType), std::move(objectName), std::move(access));
  for (const char* dropped : {"ResourceAttributes", "AccessReason"}) {
    const auto at = std::find(f.names->begin(), f.names->end(), dropped) - f.names->begin();
    f.names->erase(f.names->begin() + at);
    f.strings.erase(f.strings.begin() + at);
  }
  return f;
}

template <typename Record, typename Change>
Record With(Record f, Change change) {
  change(f);
  return f;
}

struct Case {
  const char* name;
  EvtxRecordFacts facts;
  std::uint32_t presentedEventId;
  bool selected;
  const char* file = "";
  const char* user = "";
};

class EvtxConversion : public testing::TestWithParam<Case> {};

TEST_P(EvtxConversion, PresentsTheRecordSoThatTheRuleSelectsOnlyWrites) {
  const Case& c = GetParam();
  const std::vector<std::uint8_t> record =
      BuildAnsiRecord(platform::evtx::PresentedFields(c.facts));
  const AnsiRecord parsed = ParseAnsiRecord(record);
  EXPECT_EQ(parsed.eventId, c.presentedEventId);
  EXPECT_EQ(parsed.recordNumber, static_cast<std::uint32_t>(c.facts.identifier));
  EXPECT_EQ(parsed.timeWritten, 1552919006u);  // whole seconds, the fraction dropped

  TakenEvents newest;
  CurrentEvent event;
  const DecodeOutcome outcome =
      DecodeRecord(record.data(), record.size(), newest, SelectionContext{"quillstamp", 0}, event);
  ASSERT_EQ(outcome == DecodeOutcome::Selected, c.selected);
  if (c.selected) {
    EXPECT_EQ(event.file, c.file);
    EXPECT_EQ(event.user, c.user);
  }
}

std::string CaseName(const testing::TestParamInfo<Case>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Table, EvtxConversion,
    testing::Values(
        Case{"HandleRequestForWriting", HandleRequest("File", "C:\\Users\\PSAM\\a.txt", kWrite),
             560, true, "C:\\Users\\PSAM\\a.txt", "psam"},
        Case{"HandleRequestForReading",
             HandleRequest("File", "C:\\Users\\PSAM\\a.txt", "%%4416\n\t\t\t\t"), 560, false},
        Case{"HandleRequestForAProcess",
             HandleRequest("Process", "\\Device\\HarddiskVolume1\\lsass.exe", kWrite), 560, false},
        Case{"ShareCheckForWriting", ShareCheck("\\\\*\\C$", "\\??\\C:\\", "malwr.exe", kWrite),
             560, true, "C:\\malwr.exe", "Administrator"},
        Case{"ShareCheckJoinsWithOneBackslash",
             ShareCheck("\\\\*\\D$", "\\??\\D:\\Shared\\", "\\Archive\\b.doc", kWrite), 560, true,
             "D:\\Shared\\Archive\\b.doc", "Administrator"},
        Case{"ShareCheckOfANamedPipe", ShareCheck("\\\\*\\IPC$", "", "samr", kWrite), 560, false},
        // A pipe whose name ends in "File" must not pass for the object type.
        Case{"ShareCheckOfAPipeNamedLikeAType", ShareCheck("\\\\*\\IPC$", "", "File", kWrite), 560,
             false},
        Case{"FailedShareCheck",
             With(ShareCheck("\\\\*\\C$", "\\??\\C:\\", "malwr.exe", kWrite),
                  [](EvtxRecordFacts& f) { f.keywords = kFailure; }),
             5145, false},
        Case{"KeywordsUnknown",
             With(ShareCheck("\\\\*\\C$", "\\??\\C:\\", "malwr.exe", kWrite),
                  [](EvtxRecordFacts& f) { f.keywords.reset(); }),
             5145, false},
        Case{"FieldMissing",
             With(ShareCheck("\\\\*\\C$", "\\??\\C:\\", "malwr.exe", kWrite),
                  [](EvtxRecordFacts& f) { (*f.names)[8] = "SomethingElse"; }),
             5145, false},
        Case{"NamesUnknown",
             With(HandleRequest("File", "C:\\a.txt", kWrite),
                  [](EvtxRecordFacts& f) { f.names.reset(); }),
             4656, false},
        Case{"FewerNamesThanStrings",
             With(HandleRequest("File", "C:\\a.txt", kWrite),
                  [](EvtxRecordFacts& f) { f.names->pop_back(); }),
             4656, false},
        Case{"NameRepeated",
             With(HandleRequest("File", "C:\\a.txt", kWrite),
                  [](EvtxRecordFacts& f) { (*f.names)[0] = "ObjectName"; }),
             4656, false},
        // A tab in the user's name would shift the fields the rule counts.
        Case{"ControlCharacterInAField",
             With(HandleRequest("File", "C:\\a.txt", kWrite),
                  [](EvtxRecordFacts& f) { f.strings[1] = "ps\tam"; }),
             4656, false},
        Case{"AccessListNotOfCodes",
             HandleRequest("File", "C:\\a.txt", "WriteData AppendData %%4417%%4418%%4420%%4424"),
             4656, false},
        // Every other event keeps its own ID, even with the strings of a file write.
        Case{"OtherEventWithWriteStrings",
             With(HandleRequest("File", "C:\\a.txt", kWrite),
                  [](EvtxRecordFacts& f) { f.eventId = 4663; }),
             4663, false}),
    CaseName);

TEST(EvtxConversion, ConvertedShareCheckHasTheWindows2000Layout) {
  const auto fields = platform::evtx::ConvertToFileOpen(
      ShareCheck("\\\\*\\C$", "\\??\\C:\\", "Windows\\Temp\\setup.bat", kWrite));
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->EventType, platform::kEventTypeAuditSuccess);
  EXPECT_EQ(fields->ComputerName, "PC01.example.corp");
  const std::vector<std::string> expected = {"Security",
                                             "File",
                                             "C:\\Windows\\Temp\\setup.bat",
                                             "-",
                                             "0",
                                             "438297",
                                             "-",
                                             "Administrator",
                                             "EXAMPLE",
                                             "0x00000000000fc635",
                                             "-",
                                             "-",
                                             "-",
                                             "%%4417 %%4418 %%4420 %%4424",
                                             "-"};
  EXPECT_EQ(fields->Strings, expected);
}

TEST(EvtxConversion, ComputerNamedLikeATypeDoesNotPassForIt) {
  auto facts = ShareCheck("\\\\*\\C$", "\\??\\C:\\", "x.txt", kWrite);
  facts.computerName = "File";
  const auto record = BuildAnsiRecord(platform::evtx::PresentedFields(facts));
  TakenEvents newest;
  CurrentEvent event;
  ASSERT_EQ(DecodeRecord(record.data(), record.size(), newest, {}, event), DecodeOutcome::Selected);
  EXPECT_EQ(event.file, "C:\\x.txt");
}

// Sizes no Windows writes, as a damaged or crafted file may claim them: the fields are still found
// by name, and the record keeps the strings its layout can count.
TEST(EvtxConversion, TenThousandStringsStillFindTheFieldsByName) {
  auto facts = HandleRequest("File", "C:\\a.txt", kWrite);
  for (int i = 0; i < 10'000; ++i) {
    facts.names->push_back("Extra" + std::to_string(i));
    facts.strings.push_back("%%4417");
  }
  const auto record = BuildAnsiRecord(platform::evtx::PresentedFields(facts));
  EXPECT_EQ(ParseAnsiRecord(record).strings.size(), 15u);
  TakenEvents newest;
  CurrentEvent event;
  ASSERT_EQ(DecodeRecord(record.data(), record.size(), newest, {}, event), DecodeOutcome::Selected);
  EXPECT_EQ(event.file, "C:\\a.txt");
}

TEST(EvtxConversion, UnconvertedRecordKeepsAtMostTheStringsItsLayoutCounts) {
  EvtxRecordFacts facts;
  facts.eventId = 4663;
  for (std::size_t count : {10'000u, 70'000u}) {
    facts.strings.assign(count, "x");
    const auto record = BuildAnsiRecord(platform::evtx::PresentedFields(facts));
    EXPECT_EQ(ParseAnsiRecord(record).strings.size(), std::min<std::size_t>(count, 0xFFFF));
  }
}

TEST(EvtxConversion, StringOfOneMebibyte) {
  const std::string longName = "C:\\" + std::string(1 << 20, 'a');
  const auto record =
      BuildAnsiRecord(platform::evtx::PresentedFields(HandleRequest("File", longName, kWrite)));
  TakenEvents newest;
  CurrentEvent event;
  ASSERT_EQ(DecodeRecord(record.data(), record.size(), newest, {}, event), DecodeOutcome::Selected);
  EXPECT_EQ(event.file, longName);

  auto other = HandleRequest("File", longName, kWrite);
  other.eventId = 4663;
  EXPECT_EQ(ParseAnsiRecord(BuildAnsiRecord(platform::evtx::PresentedFields(other))).strings[6],
            longName);
}

// A record of the live log as ReadEventLogA hands it over on Windows Vista and later: the event's
// strings in the order of its template, its outcome in the event type.
platform::EventRecordFields LiveRecord(const EvtxRecordFacts& facts,
                                       std::uint16_t type = platform::kEventTypeAuditSuccess) {
  platform::EventRecordFields f;
  f.RecordNumber = 7001;
  f.TimeGenerated = 1552919006;
  f.TimeWritten = 1552919007;
  f.EventID = facts.eventId;
  f.EventType = type;
  f.EventCategory = 12800;  // File System
  f.SourceName = "Microsoft-Windows-Security-Auditing";
  f.ComputerName = facts.computerName;
  f.Strings = facts.strings;
  return f;
}

// Where the record's last string ends: its zero byte is the byte before the (empty) data.
std::size_t EndOfStrings(const std::vector<std::uint8_t>& record) {
  return platform::ReadU32(record.data() + platform::record_offset::kDataOffset);
}

struct LiveCase {
  const char* name;
  platform::EventRecordFields fields;
  // Damage done to the record's bytes before the conversion sees them (a shorter vector is a
  // shorter read).
  void (*damage)(std::vector<std::uint8_t>&);
  bool converted;
  bool selected = false;
  const char* file = "";
  const char* user = "";
};

void PrintTo(const LiveCase& c, std::ostream* os) { *os << c.name; }

class EvtxLiveRecord : public testing::TestWithParam<LiveCase> {};

TEST_P(EvtxLiveRecord, BecomesEvent560OnlyWhenWholeAndSuccessful) {
  const LiveCase& c = GetParam();
  std::vector<std::uint8_t> record = BuildAnsiRecord(c.fields);
  if (c.damage != nullptr) c.damage(record);
  // Exactly the bytes read, so that a look past them is a look past the buffer.
  const auto read = std::make_unique<std::uint8_t[]>(record.size());
  std::copy(record.begin(), record.end(), read.get());

  const auto converted = platform::evtx::ConvertLiveRecord(read.get(), record.size());
  ASSERT_EQ(converted.has_value(), c.converted);
  if (!converted) return;
  const AnsiRecord parsed = ParseAnsiRecord(*converted);
  EXPECT_EQ(parsed.eventId, 560u);
  EXPECT_EQ(parsed.eventType, platform::kEventTypeAuditSuccess);
  EXPECT_EQ(parsed.recordNumber, c.fields.RecordNumber);
  EXPECT_EQ(parsed.timeGenerated, c.fields.TimeGenerated);
  EXPECT_EQ(parsed.timeWritten, c.fields.TimeWritten);
  EXPECT_EQ(parsed.computerName, c.fields.ComputerName);

  TakenEvents newest;
  CurrentEvent event;
  const DecodeOutcome outcome = DecodeRecord(converted->data(), converted->size(), newest,
                                             SelectionContext{"quillstamp", 0}, event);
  ASSERT_EQ(outcome == DecodeOutcome::Selected, c.selected);
  if (c.selected) {
    EXPECT_EQ(event.file, c.file);
    EXPECT_EQ(event.user, c.user);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EvtxLiveRecord,
    testing::Values(
        LiveCase{"HandleRequestForWriting",
                 LiveRecord(HandleRequest("File", "C:\\Users\\PSAM\\a.txt", kWrite)), nullptr, true,
                 true, "C:\\Users\\PSAM\\a.txt", "psam"},
        LiveCase{"HandleRequestForReading",
                 LiveRecord(HandleRequest("File", "C:\\a.txt", "%%4416\n\t\t\t\t")), nullptr, true,
                 false},
        // The layout of Windows Vista to 2008 R2, told by its 15 strings: each field is taken
        // from its own place, not from where the later layout keeps it.
        LiveCase{"VistaHandleRequestForWriting",
                 LiveRecord(VistaHandleRequest("File", "C:\\Users\\PSAM\\b.txt", kWrite)), nullptr,
                 true, true, "C:\\Users\\PSAM\\b.txt", "psam"},
        LiveCase{"VistaHandleRequestForReading",
                 LiveRecord(VistaHandleRequest("File", "C:\\a.txt", "%%4416\n\t\t\t\t")), nullptr,
                 true, false},
        LiveCase{"FailedVistaHandleRequest",
                 LiveRecord(VistaHandleRequest("File", "C:\\a.txt", kWrite),
                            platform::kEventTypeAuditFailure),
                 nullptr, false},
        LiveCase{"VistaHandleRequestOneStringTooFew",
                 With(LiveRecord(VistaHandleRequest("File", "C:\\a.txt", kWrite)),
                      [](platform::EventRecordFields& f) { f.Strings.pop_back(); }),
                 nullptr, false},
        LiveCase{
            "ShareCheckForWriting",
            LiveRecord(ShareCheck("\\\\*\\D$", "\\??\\D:\\Shared\\", "Archive\\b.doc", kWrite)),
            nullptr, true, true, "D:\\Shared\\Archive\\b.doc", "Administrator"},
        // The event's qualifiers, in the ID's high 16 bits, leave the event what it is.
        LiveCase{"QualifiersInTheEventId",
                 With(LiveRecord(HandleRequest("File", "C:\\a.txt", kWrite)),
                      [](platform::EventRecordFields& f) { f.EventID |= 0x40000000; }),
                 nullptr, true, true, "C:\\a.txt", "psam"},
        LiveCase{"FailedHandleRequest",
                 LiveRecord(HandleRequest("File", "C:\\a.txt", kWrite),
                            platform::kEventTypeAuditFailure),
                 nullptr, false},
        LiveCase{"FailedShareCheck",
                 LiveRecord(ShareCheck("\\\\*\\C$", "\\??\\C:\\", "a.txt", kWrite),
                            platform::kEventTypeAuditFailure),
                 nullptr, false},
        LiveCase{"OtherEvent",
                 With(LiveRecord(HandleRequest("File", "C:\\a.txt", kWrite)),
                      [](platform::EventRecordFields& f) { f.EventID = 4663; }),
                 nullptr, false},
        // Another version of the event, with a field more or less than its template.
        LiveCase{"OneStringTooFew",
                 With(LiveRecord(HandleRequest("File", "C:\\a.txt", kWrite)),
                      [](platform::EventRecordFields& f) { f.Strings.pop_back(); }),
                 nullptr, false},
        LiveCase{"OneStringTooMany",
                 With(LiveRecord(ShareCheck("\\\\*\\C$", "\\??\\C:\\", "a.txt", kWrite)),
                      [](platform::EventRecordFields& f) { f.Strings.push_back("-"); }),
                 nullptr, false},
        // Length ends the record on the last string's zero byte, which is then not within it.
        LiveCase{"LastStringNotEndedWithinLength",
                 LiveRecord(HandleRequest("File", "C:\\a.txt", kWrite)),
                 [](std::vector<std::uint8_t>& r) {
                   platform::WriteU32(r.data() + platform::record_offset::kLength,
                                      static_cast<std::uint32_t>(EndOfStrings(r) - 1));
                 },
                 false},
        LiveCase{"StringOffsetPastTheRecord",
                 LiveRecord(HandleRequest("File", "C:\\a.txt", kWrite)),
                 [](std::vector<std::uint8_t>& r) {
                   platform::WriteU32(r.data() + platform::record_offset::kStringOffset,
                                      static_cast<std::uint32_t>(r.size() + 4));
                 },
                 false},
        // Length claims more than was read: the bytes read bound the record. Cut inside the last
        // string, the record is incomplete; cut after it, every string is there.
        LiveCase{"LengthBeyondTheBytesReadCutInAString",
                 LiveRecord(HandleRequest("File", "C:\\a.txt", kWrite)),
                 [](std::vector<std::uint8_t>& r) { r.resize(EndOfStrings(r) - 1); }, false},
        LiveCase{"LengthBeyondTheBytesReadAfterTheStrings",
                 LiveRecord(HandleRequest("File", "C:\\a.txt", kWrite)),
                 [](std::vector<std::uint8_t>& r) { r.resize(EndOfStrings(r)); }, true, true,
                 "C:\\a.txt", "psam"},
        LiveCase{"ShorterThanTheFixedPart", LiveRecord(HandleRequest("File", "C:\\a.txt", kWrite)),
                 [](std::vector<std::uint8_t>& r) { r.resize(platform::kFixedRecordSize - 1); },
                 false}),
    [](const testing::TestParamInfo<LiveCase>& info) { return std::string(info.param.name); });

// Both layouts of 4656 give each event-560 field from its own place: the process and the
// privileges sit one place earlier in the Vista layout than in the later one.
TEST(EvtxLiveRecord, EachLayoutOfTheHandleRequestGivesItsOwnFields) {
  for (const EvtxRecordFacts& facts : {VistaHandleRequest("File", "C:\\a.txt", kWrite),
                                       HandleRequest("File", "C:\\a.txt", kWrite)}) {
    SCOPED_TRACE(facts.strings.size());
    platform::EventRecordFields fields = LiveRecord(facts);
    const auto at = [&](const char* name) {
      return static_cast<std::size_t>(std::find(facts.names->begin(), facts.names->end(), name) -
                                      facts.names->begin());
    };
    fields.Strings[at("ProcessId")] = "0x9c4";
    fields.Strings[at("PrivilegeList")] = "%%1601";
    const std::vector<std::uint8_t> record = BuildAnsiRecord(fields);
    const auto converted = platform::evtx::ConvertLiveRecord(record.data(), record.size());
    ASSERT_TRUE(converted.has_value());
    const AnsiRecord parsed = ParseAnsiRecord(*converted);
    ASSERT_EQ(parsed.strings.size(), 15u);
    EXPECT_EQ(parsed.strings[2], "C:\\a.txt");  // Object Name
    EXPECT_EQ(parsed.strings[6], "0x9c4");      // Process ID
    EXPECT_EQ(parsed.strings[7], "psam");       // Primary User Name
    EXPECT_EQ(parsed.strings[14], "%%1601");    // Privileges
  }
}

struct XmlCase {
  const char* name;
  const char* xml;
  std::optional<std::uint64_t> keywords;
  std::optional<std::vector<std::string>> names;
  std::optional<std::uint64_t> eventRecordId = std::nullopt;
  std::optional<std::uint64_t> timeCreated = std::nullopt;
};

class EvtxXml : public testing::TestWithParam<XmlCase> {};

TEST_P(EvtxXml, GivesKeywordsAndDataNames) {
  const auto facts = platform::evtx::ReadXmlFacts(GetParam().xml);
  EXPECT_EQ(facts.keywords, GetParam().keywords);
  EXPECT_EQ(facts.names, GetParam().names);
  EXPECT_EQ(facts.eventRecordId, GetParam().eventRecordId);
  EXPECT_EQ(facts.timeCreated, GetParam().timeCreated);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EvtxXml,
    testing::Values(
        XmlCase{"Named",
                "<Event><System><Keywords>0x8020000000000000</Keywords>"
                "<EventRecordID>438297</EventRecordID></System><EventData>"
                "<Data Name=\"A\">1</Data><Data Name=\"B\"></Data><Data Name=\"C\"/>"
                "</EventData></Event>",
                0x8020000000000000, std::vector<std::string>{"A", "B", "C"}, 438297},
        XmlCase{"TimeCreated", "<TimeCreated SystemTime=\"2019-03-18T14:23:26.981692000Z\"/>",
                std::nullopt, std::nullopt, std::nullopt, 131973926069816920},
        XmlCase{"TimeCreatedWithoutFraction", "<TimeCreated SystemTime=\"1601-01-01T00:00:01Z\"/>",
                std::nullopt, std::nullopt, std::nullopt, 10000000},
        XmlCase{"TimeCreatedLeapDay", "<TimeCreated SystemTime=\"2000-02-29T00:00:00.5Z\"/>",
                std::nullopt, std::nullopt, std::nullopt,
                (951782400ull + 11644473600ull) * 10000000ull + 5000000ull},
        XmlCase{"TimeCreatedNotATime", "<TimeCreated SystemTime=\"2019-13-18T14:23:26Z\"/>",
                std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        XmlCase{"TimeCreatedLocal", "<TimeCreated SystemTime=\"2019-03-18T14:23:26+01:00\"/>",
                std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        XmlCase{"RecordIdNotANumber", "<EventRecordID>-1</EventRecordID>", std::nullopt,
                std::nullopt, std::nullopt},
        XmlCase{"RecordIdTooLong", "<EventRecordID>18446744073709551616</EventRecordID>",
                std::nullopt, std::nullopt, std::nullopt},
        XmlCase{"UnnamedData",
                "<Event><EventData><Data Name=\"A\">1</Data><Data>2</Data></EventData></Event>",
                std::nullopt, std::nullopt},
        XmlCase{"UserDataInstead",
                "<Event><Keywords>0x4020000000000000</Keywords><UserData><X>1</X></UserData>"
                "</Event>",
                0x4020000000000000, std::nullopt},
        XmlCase{"EmptyEventData", "<Event><EventData/></Event>", std::nullopt,
                std::vector<std::string>{}},
        XmlCase{"KeywordsNotHex", "<Keywords>Audit Success</Keywords>", std::nullopt, std::nullopt},
        XmlCase{"KeywordsTooLong", "<Keywords>0x180200000000000000</Keywords>", std::nullopt,
                std::nullopt},
        XmlCase{"TagUnclosed", "<EventData><Data Name=\"A</EventData>", std::nullopt, std::nullopt},
        XmlCase{"OtherElementStartingLikeData",
                "<EventData><DataItem>1</DataItem><Data Name=\"A\">1</Data></EventData>",
                std::nullopt, std::vector<std::string>{"A"}}),
    [](const testing::TestParamInfo<XmlCase>& info) { return std::string(info.param.name); });

TEST(EvtxTime, WholeSecondsHeldToTheRecordsRange) {
  EXPECT_EQ(platform::evtx::FiletimeToUnixSeconds(kFiletime), 1552919006u);
  EXPECT_EQ(platform::evtx::FiletimeToUnixSeconds(0), 0u);
  EXPECT_EQ(platform::evtx::FiletimeToUnixSeconds(~0ull), 0xFFFFFFFFu);
}

// An event as Windows renders it to XML: attributes in single quotes, no white space between the
// elements, the access list's line breaks and tabs kept inside its value.
std::string RenderedShareCheck(const std::string& eventData,
                               const std::string& keywords = "0x8020000000000000") {
  return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System>"
         "<Provider Name='Microsoft-Windows-Security-Auditing' "
         "Guid='{54849625-5478-4994-A5BA-3E3B0328C30D}'/><EventID>5145</EventID>"
         "<Version>0</Version><Level>0</Level><Task>12811</Task><Opcode>0</Opcode>"
         "<Keywords>" +
         keywords +
         "</Keywords><TimeCreated SystemTime='2019-03-18T14:23:26.9816920Z'/>"
         "<EventRecordID>438297</EventRecordID><Correlation/>"
         "<Execution ProcessID='4' ThreadID='3760'/><Channel>Security</Channel>"
         "<Computer>PC01.example.corp</Computer><Security/></System>" +
         eventData + "</Event>";
}

std::string ShareWriteData(const std::string& relativeTarget) {
  return "<EventData><Data Name='SubjectUserSid'>S-1-5-21-1-2-3-500</Data>"
         "<Data Name='SubjectUserName'>Administrator</Data>"
         "<Data Name='SubjectDomainName'>EXAMPLE</Data>"
         "<Data Name='SubjectLogonId'>0x00000000000fc635</Data>"
         "<Data Name='ObjectType'>File</Data><Data Name='IpAddress'>10.0.2.17</Data>"
         "<Data Name='IpPort'>49823</Data><Data Name='ShareName'>\\\\*\\C$</Data>"
         "<Data Name='ShareLocalPath'>\\??\\C:\\</Data>"
         "<Data Name='RelativeTargetName'>" +
         relativeTarget +
         "</Data><Data Name='AccessMask'>0x116</Data>"
         "<Data Name='AccessList'>%%4417\n\t\t\t\t%%4418\n\t\t\t\t%%4420\n\t\t\t\t%%4424\n\t\t\t\t"
         "</Data><Data Name='AccessReason'>-</Data></EventData>";
}

TEST(EvtxRenderedXml, WindowsRenderingOfAWriteGivesAllItsFactsAndIsSelected) {
  const auto facts = platform::evtx::FactsFromXml(RenderedShareCheck(ShareWriteData("malwr.exe")));
  ASSERT_TRUE(facts.has_value());
  EXPECT_EQ(facts->eventId, 5145u);
  EXPECT_EQ(facts->identifier, 438297u);
  EXPECT_EQ(facts->writtenFiletime, (1552919006ull + 11644473600ull) * 10000000ull + 9816920ull);
  EXPECT_EQ(facts->keywords, std::optional<std::uint64_t>(0x8020000000000000));
  EXPECT_EQ(facts->computerName, "PC01.example.corp");
  EXPECT_EQ(facts->sourceName, "Microsoft-Windows-Security-Auditing");
  ASSERT_EQ(facts->strings.size(), 13u);
  ASSERT_TRUE(facts->names.has_value());
  EXPECT_EQ(facts->names->at(7), "ShareName");
  EXPECT_EQ(facts->strings[7], "\\\\*\\C$");
  EXPECT_EQ(facts->strings[11], "%%4417\n\t\t\t\t%%4418\n\t\t\t\t%%4420\n\t\t\t\t%%4424\n\t\t\t\t");

  const auto record = BuildAnsiRecord(platform::evtx::PresentedFields(*facts));
  TakenEvents newest;
  CurrentEvent event;
  ASSERT_EQ(DecodeRecord(record.data(), record.size(), newest, {}, event), DecodeOutcome::Selected);
  EXPECT_EQ(event.file, "C:\\malwr.exe");
  EXPECT_EQ(event.user, "Administrator");
  EXPECT_EQ(ParseAnsiRecord(record).timeWritten, 1552919006u);
}

struct RenderedCase {
  const char* name;
  std::string xml;
  std::vector<std::string> strings;
  std::optional<std::vector<std::string>> names;
};

void PrintTo(const RenderedCase& c, std::ostream* out) { *out << c.name; }

class EvtxRenderedData : public testing::TestWithParam<RenderedCase> {};

TEST_P(EvtxRenderedData, GivesTheDataValuesAndNames) {
  const auto facts = platform::evtx::FactsFromXml(GetParam().xml);
  ASSERT_TRUE(facts.has_value());
  EXPECT_EQ(facts->strings, GetParam().strings);
  EXPECT_EQ(facts->names, GetParam().names);
}

using Names = std::vector<std::string>;

INSTANTIATE_TEST_SUITE_P(
    Table, EvtxRenderedData,
    testing::Values(
        RenderedCase{"PredefinedEntities",
                     RenderedShareCheck("<EventData><Data Name='a'>&lt;&gt;&amp;&quot;&apos;</Data>"
                                        "<Data Name='b'>R&amp;D &amp;amp;</Data></EventData>"),
                     {"<>&\"'", "R&D &amp;"},
                     Names{"a", "b"}},
        RenderedCase{"CharacterReferences",
                     RenderedShareCheck("<EventData><Data Name='a'>&#65;&#x42;</Data>"
                                        "<Data Name='b'>&#xe9;&#8364;&#x1F4C4;&#9;</Data>"
                                        "</EventData>"),
                     {"AB", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x93\x84\t"},
                     Names{"a", "b"}},
        RenderedCase{"EmptyValues",
                     RenderedShareCheck("<EventData><Data Name='a'/><Data Name='b'></Data>"
                                        "<Data Name = \"c\" /><Data Name='d'>x</Data></EventData>"),
                     {"", "", "", "x"},
                     Names{"a", "b", "c", "d"}},
        RenderedCase{"NameInAttributeWithEntity",
                     RenderedShareCheck("<EventData><Data Name='a&apos;b'>1</Data></EventData>"),
                     {"1"},
                     Names{"a'b"}},
        RenderedCase{"EmptyEventData", RenderedShareCheck("<EventData/>"), {}, Names{}},
        RenderedCase{"NoEventData", RenderedShareCheck(""), {}, std::nullopt},
        RenderedCase{"UnnamedData",
                     RenderedShareCheck("<EventData><Data>a</Data><Data Name='b'>b</Data>"
                                        "<Binary>00FF</Binary></EventData>"),
                     {"a", "b"},
                     std::nullopt},
        RenderedCase{"UserData",
                     RenderedShareCheck("<UserData><LogFileCleared xmlns='x'>"
                                        "<SubjectUserSid>S-1-5-18</SubjectUserSid>"
                                        "<SubjectUserName>admin</SubjectUserName><Empty/>"
                                        "</LogFileCleared></UserData>"),
                     {"S-1-5-18", "admin", ""},
                     std::nullopt},
        RenderedCase{"CommentsAndCdata",
                     "<?xml version='1.0'?>\n" +
                         RenderedShareCheck("<!-- x --><EventData><Data Name='a'><![CDATA[<&>]]>"
                                            "</Data></EventData>") +
                         "\n",
                     {"<&>"},
                     Names{"a"}}),
    [](const testing::TestParamInfo<RenderedCase>& info) { return std::string(info.param.name); });

// Whatever the text, the reading ends: with the facts of a whole event, or with none.
TEST(EvtxRenderedXml, MalformedOrIncompleteTextGivesNoFacts) {
  const std::string good = RenderedShareCheck(ShareWriteData("a.txt"));
  ASSERT_TRUE(platform::evtx::FactsFromXml(good).has_value());
  const std::string data = ShareWriteData("a.txt");
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"empty", ""},
      {"garbage", "garbage"},
      {"binary", std::string("\0\x01\xff<\0>", 6)},
      {"another root", "<Other><System><EventID>1</EventID></System></Other>"},
      {"two roots", good + good},
      {"text after the root", good + "x"},
      {"unclosed attribute", "<Event><System><Provider Name='x/></System></Event>"},
      {"attribute without a value", "<Event><System><Provider Name/></System></Event>"},
      {"mismatched end", "<Event><System></Event></System>"},
      {"unknown entity", RenderedShareCheck("<EventData><Data Name='a'>&nbsp;</Data></EventData>")},
      {"bare ampersand", RenderedShareCheck("<EventData><Data Name='a'>a & b</Data></EventData>")},
      {"reference to zero", RenderedShareCheck("<EventData><Data>&#0;</Data></EventData>")},
      {"reference to a surrogate",
       RenderedShareCheck("<EventData><Data>&#xD800;</Data></EventData>")},
      {"reference beyond Unicode",
       RenderedShareCheck("<EventData><Data>&#x110000;</Data></EventData>")},
      {"reference with a capital X",
       RenderedShareCheck("<EventData><Data>&#X43;</Data></EventData>")},
      {"document type", "<!DOCTYPE x>" + good},
      {"event ID not a number", std::string(good).replace(good.find("5145"), 4, "51a5")},
      {"no record identifier", std::string(good).replace(good.find("<EventRecordID>"), 36, "")},
      {"no time", std::string(good).replace(good.find("<TimeCreated"), 58, "")},
  };
  for (const auto& [name, xml] : cases) {
    EXPECT_FALSE(platform::evtx::FactsFromXml(xml).has_value()) << name;
  }
  // Every cut short of the end leaves an element open.
  for (std::size_t size = 0; size + 1 < good.size(); ++size) {
    ASSERT_FALSE(platform::evtx::FactsFromXml(std::string_view(good).substr(0, size)).has_value())
        << "cut at " << size;
  }
  // A failure audit and the record's other facts are read, even where nothing is converted.
  const auto failed = platform::evtx::FactsFromXml(RenderedShareCheck(data, "0x8010000000000000"));
  ASSERT_TRUE(failed.has_value());
  EXPECT_FALSE(platform::evtx::ConvertToFileOpen(*failed).has_value());
}

}  // namespace
}  // namespace qs::test
