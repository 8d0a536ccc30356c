// The settings rules read three times on the same bytes in a file: by the portable reader
// (ProfileStringIn), by the program's reader of the settings file (ReadIniString, which on
// Windows too is the portable reader, since the system's would read a UTF-8 file in the ANSI code
// page), and by the system's GetPrivateProfileStringA. All follow one set of rules, so that a
// settings file means the same to the program on both systems and to the system's own reader; a
// case where the system's reader under test is known to differ from Windows's says so and expects
// its answer explicitly.
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/profile.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

struct RuleCase {
  const char* name;
  std::string content;
  const char* section;
  const char* key;
  std::string expected;  // what both readers give, as Windows reads the file
  // What Wine's reader gives where it departs from Windows; see the case's comment.
  std::optional<std::string> underWine = std::nullopt;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class ProfileRules : public testing::TestWithParam<RuleCase> {};

TEST_P(ProfileRules, PortableAndSystemReadersAgree) {
  const RuleCase& c = GetParam();
  TempDir dir;
  const std::string ini = dir / "Quillstamp.ini";
  WriteFile(ini, c.content);
  const std::string portable = platform::ProfileStringIn(c.content, c.section, c.key, "dflt");
  char buffer[platform::kMaxProfileValue + 1] = {};
  const DWORD n =
      GetPrivateProfileStringA(c.section, c.key, "dflt", buffer, sizeof buffer, ini.c_str());
  const std::string system(buffer, n);
  EXPECT_EQ(portable, c.expected);
  EXPECT_EQ(platform::ReadIniString(c.section, c.key, "dflt", ini), c.expected);
  EXPECT_EQ(system, UnderWine() && c.underWine ? *c.underWine : c.expected);
}

const std::string k254(254, 'v');

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileRules,
    testing::Values(
        RuleCase{"Plain", "[S]\nk=v\n", "S", "k", "v"},
        RuleCase{"BlanksAroundNamesAndValue", "  [ S ]  \n \t k \t= \t v w \t\n", "S", "k", "v w"},
        RuleCase{"DoubleQuotes", "[S]\nk=\"v w\"\n", "S", "k", "v w"},
        RuleCase{"SingleQuotes", "[S]\nk='v w'\n", "S", "k", "v w"},
        RuleCase{"QuotesInsideBlanks", "[S]\nk=  \" v \"  \n", "S", "k", " v "},
        RuleCase{"UnbalancedQuoteStays", "[S]\nk=\"v\n", "S", "k", "\"v"},
        RuleCase{"MismatchedQuotesStay", "[S]\nk=\"v'\n", "S", "k", "\"v'"},
        RuleCase{"CaseOfNames", "[sEcTiOn]\nKeY=v\n", "Section", "kEy", "v"},
        RuleCase{"MissingKey", "[S]\nother=v\n", "S", "k", "dflt"},
        RuleCase{"MissingSection", "[T]\nk=v\n", "S", "k", "dflt"},
        RuleCase{"EmptyValueIsNotMissing", "[S]\nk=\n", "S", "k", ""},
        RuleCase{"ValueHoldingEquals", "[S]\nk=a=b\n", "S", "k", "a=b"},
        RuleCase{"NameWithInnerBlank", "[S]\nmy key=v\n", "S", "my key", "v"},
        RuleCase{"ValueOf254Characters", "[S]\nk=" + k254 + "\n", "S", "k", k254},
        RuleCase{"ValueCutAt254Characters", "[S]\nk=" + k254 + "xyz\n", "S", "k", k254},
        RuleCase{"CrLf", "[S]\r\nk=v\r\n", "S", "k", "v"},
        RuleCase{"LastLineWithoutEnding", "[S]\nk=v", "S", "k", "v"},
        RuleCase{"DuplicateKeyFirstCounts", "[S]\nk=1\nk=2\n", "S", "k", "1"},
        RuleCase{"DuplicateSectionFirstCounts", "[S]\nk=1\n[T]\n[S]\nk=2\n", "S", "k", "1"},
        RuleCase{"KeyOnlyInTheSecondOfTwoSections", "[S]\na=1\n[S]\nk=2\n", "S", "k", "dflt"},
        RuleCase{"KeyBeforeAnySection", "k=v\n[S]\n", "S", "k", "dflt"},
        RuleCase{"CommentLine", "[S]\n;k=1\n  ; k=2\nk=3\n", "S", "k", "3"},
        // Windows takes no line without "=" for a key: it lists none among a section's keys, so
        // the "k=v" after it is the key. Wine keeps such a line as a key without a value, which
        // it does not list either, but its lookup stops at it and gives the default.
        RuleCase{"LineWithoutEquals", "[S]\nk\nk=v\n", "S", "k", "v", "dflt"},
        RuleCase{"OnlyALineWithoutEquals", "[S]\nk\n", "S", "k", "dflt"},
        RuleCase{"HeaderWithoutClosingBracket", "[S\nk=v\n", "S", "k", "dflt"},
        RuleCase{"TextAfterTheHeader", "[S] note\nk=v\n", "S", "k", "v"},
        RuleCase{"GarbageLines", "\x01\x02\xff garbage\n[S]\n\x7f\x80 junk ]]\nk=v\n", "S", "k",
                 "v"},
        RuleCase{"Utf8Bom", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "v"},
        RuleCase{"QuotedValueCutAfterTheQuotesGo", "[S]\nk=\"" + k254 + "xyz\"\n", "S", "k", k254},
        RuleCase{"EmptyQuotes", "[S]\nk=\"\"\n", "S", "k", ""},
        RuleCase{"LoneQuote", "[S]\nk=\"\n", "S", "k", "\""},
        RuleCase{"SectionNameHoldingABracket", "[a]b]\nk=v\n", "a]b", "k", "v"},
        RuleCase{"LookupNamesWithBlanks", "[S]\nk=v\n", " S ", " k ", "v"},
        RuleCase{"CrOnly", "[S]\rk=v\rj=w", "S", "j", "w"},
        RuleCase{"CrInsideAnLfFile", "[S]\rk=v\nj=w\n", "S", "k", "v"},
        RuleCase{"CrInsideAValue", "[S]\nk=a\rb=c\n", "S", "k", "a"},
        RuleCase{"LfCrIsTwoLineEnds", "[S]\n\rk=v\n\r", "S", "k", "v"},
        RuleCase{"Utf16LeWithBom", std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0v\0\r\0\n\0", 22),
                 "S", "k", "v"},
        RuleCase{"NulEndsTheValue", std::string("[S]\nk=v\0w\n", 10), "S", "k", "v"}),
    [](const testing::TestParamInfo<RuleCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qs::test
