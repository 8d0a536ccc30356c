// What start-up composes from the system's answers: the title, the NT family and whether the
// Windows 2000 comment is offered, over a table of systems.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "core/system_identity.h"
#include "support/fakes.h"

namespace qs {
namespace {

using test::FakeSystem;
using Answers = test::SystemAnswers;

using test::SystemOf;

Answers WithNames(Answers a, bool computerOk, std::string computer, bool userOk, std::string user) {
  a.computerOk = computerOk;
  a.computer = std::move(computer);
  a.userOk = userOk;
  a.user = std::move(user);
  return a;
}

struct IdentityCase {
  const char* what;
  Answers answers;
  const char* title;
  bool ntFamily;
  bool winCommentOffered;
  const char* account;
};

class SystemIdentityTest : public testing::TestWithParam<IdentityCase> {};

TEST_P(SystemIdentityTest, TitleFamilyAndWindows2000Comment) {
  const IdentityCase& c = GetParam();
  FakeSystem system(c.answers);
  const SystemIdentity id = ReadSystemIdentity(system);
  EXPECT_EQ(id.title, c.title);
  EXPECT_EQ(id.ntFamily, c.ntFamily);
  EXPECT_EQ(id.offersWin2000Comment, c.winCommentOffered);
  EXPECT_EQ(id.OwnAccountName, c.account);
}

INSTANTIATE_TEST_SUITE_P(
    Systems, SystemIdentityTest,
    testing::Values(
        IdentityCase{"Windows2000Sp2", SystemOf(2, 5, 0, 2195, "Service Pack 2"),
                     "Quillstamp 1.0b   FILESERVER; admin; Windows 2000 v.5.0, Build 2195, "
                     "Service Pack 2",
                     true, true, "admin"},
        IdentityCase{"Nt4Sp6a", SystemOf(2, 4, 0, 1381, "Service Pack 6a"),
                     "Quillstamp 1.0b   FILESERVER; admin; Windows NT v.4.0, Build 1381, "
                     "Service Pack 6a",
                     true, false, "admin"},
        IdentityCase{"Nt351", SystemOf(2, 3, 51, 1057, "  "),
                     "Quillstamp 1.0b   FILESERVER; admin; Windows NT v.3.51, Build 1057", true,
                     false, "admin"},
        IdentityCase{"XpIsNamedWindows2000", SystemOf(2, 5, 1, 2600, ""),
                     "Quillstamp 1.0b   FILESERVER; admin; Windows 2000 v.5.1, Build 2600", true,
                     true, "admin"},
        IdentityCase{"Windows98", SystemOf(1, 4, 10, 1998, " A "),
                     "Quillstamp 1.0b   FILESERVER; admin; Windows 98 v.4.10, Build 1998, A", false,
                     false, "admin"},
        IdentityCase{"Windows95", SystemOf(1, 4, 0, 950, ""),
                     "Quillstamp 1.0b   FILESERVER; admin; Windows 95 v.4.0, Build 950", false,
                     false, "admin"},
        IdentityCase{"WindowsMeHasNoName", SystemOf(1, 4, 90, 3000, ""),
                     "Quillstamp 1.0b   FILESERVER; admin;  v.4.90, Build 3000", false, false,
                     "admin"},
        IdentityCase{"UnknownPlatform", SystemOf(0, 3, 1, 0, ""),
                     "Quillstamp 1.0b   FILESERVER; admin; ??? v.3.1, Build 0", false, false,
                     "admin"},
        // The low 16 bits of the build number, read as a signed number.
        IdentityCase{"NegativeBuild", SystemOf(2, 5, 0, 0x0001F000, ""),
                     "Quillstamp 1.0b   FILESERVER; admin; Windows 2000 v.5.0, Build -4096", true,
                     true, "admin"},
        IdentityCase{"Linux", SystemOf(2, 6, 1, 0, "", "Linux"),
                     "Quillstamp 1.0b   FILESERVER; admin; Linux v.6.1, Build 0", true, true,
                     "admin"},
        // An old kernel keeps the comment: the host offers it whatever the version.
        IdentityCase{"OldLinuxKernel", SystemOf(2, 4, 19, 0, "", "Linux"),
                     "Quillstamp 1.0b   FILESERVER; admin; Linux v.4.19, Build 0", true, true,
                     "admin"},
        IdentityCase{"NameCallsFail",
                     WithNames(SystemOf(2, 5, 0, 2195, ""), false, "X", false, "Y"),
                     "Quillstamp 1.0b; Windows 2000 v.5.0, Build 2195", true, true, ""},
        IdentityCase{"ComputerNameFails",
                     WithNames(SystemOf(2, 5, 0, 2195, ""), false, "X", true, "bob"),
                     "Quillstamp 1.0b; bob; Windows 2000 v.5.0, Build 2195", true, true, "bob"},
        IdentityCase{"BlanksAroundNames",
                     WithNames(SystemOf(2, 5, 0, 2195, ""), true, "  SRV", true, " carol"),
                     "Quillstamp 1.0b   SRV; carol; Windows 2000 v.5.0, Build 2195", true, true,
                     "carol"}),
    [](const testing::TestParamInfo<IdentityCase>& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace qs
