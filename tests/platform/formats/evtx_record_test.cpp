// The conversion of a Vista-and-later record's named strings into the event-560 layout, checked
// through the selection rule itself: a successful 4656 or 5145 that opens a file for writing is
// selected with its file and user, and everything else is presented so that it is never selected.
#include <gtest/gtest.h>

#include <string>
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

template <typename Change>
EvtxRecordFacts With(EvtxRecordFacts f, Change change) {
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

}  // namespace
}  // namespace qs::test
