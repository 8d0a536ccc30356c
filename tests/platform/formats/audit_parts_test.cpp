// The parser's parts on their own: the table of calls and the handlers of record types.
#include <gtest/gtest.h>

#include "platform/formats/audit_event.h"
#include "platform/formats/audit_paths.h"
#include "platform/formats/audit_syscalls.h"

namespace qs::platform::audit {
namespace {

TEST(AuditSyscalls, NumbersAreReadPerArchitecture) {
  // 38 is rename on i386 but renameat (relative to a directory descriptor) on aarch64.
  const Call i386Rename = CallOf(kArchI386, 38);
  EXPECT_EQ(i386Rename.kind, CallKind::Rename);
  EXPECT_EQ(i386Rename.dirFdArg, -1);
  const Call aarch64Renameat = CallOf(kArchAarch64, 38);
  EXPECT_EQ(aarch64Renameat.kind, CallKind::Rename);
  EXPECT_EQ(aarch64Renameat.dirFdArg, 2);
  // 2 is open on x86_64 (flags in a1) and no call of interest on i386.
  const Call open = CallOf(kArchX86_64, 2);
  EXPECT_EQ(open.kind, CallKind::OpenFlags);
  EXPECT_EQ(open.flagsArg, 1);
  EXPECT_EQ(CallOf(kArchI386, 2).kind, CallKind::None);
  // openat: flags in a2, relative to the descriptor in a0.
  for (const auto& [arch, number] :
       {std::pair{kArchX86_64, 257u}, std::pair{kArchI386, 295u}, std::pair{kArchAarch64, 56u}}) {
    const Call openat = CallOf(arch, number);
    EXPECT_EQ(openat.kind, CallKind::OpenFlags) << arch << " " << number;
    EXPECT_EQ(openat.flagsArg, 2);
    EXPECT_EQ(openat.dirFdArg, 0);
  }
  EXPECT_EQ(CallOf(kArchX86_64, 85).kind, CallKind::Creat);
  EXPECT_EQ(CallOf(kArchI386, 92).kind, CallKind::Truncate);
  EXPECT_EQ(CallOf(kArchAarch64, 437).kind, CallKind::Openat2);
}

TEST(AuditSyscalls, UnknownArchitecturesGiveNothing) {
  EXPECT_EQ(CallOf(0x40000028u /* arm */, 5).kind, CallKind::None);
  EXPECT_EQ(CallOf(0, 2).kind, CallKind::None);
  EXPECT_EQ(CallOf(kArchX86_64, 0).kind, CallKind::None);  // read
}

TEST(AuditEvent, OneHandlerPerRecordType) {
  for (std::string_view type : {"SYSCALL", "PATH", "CWD", "OPENAT2"})
    EXPECT_NE(HandlerOf(type), nullptr) << type;
  for (std::string_view type : {"EXECVE", "PROCTITLE", "syscall", "", "PATHS"})
    EXPECT_EQ(HandlerOf(type), nullptr) << type;
  EXPECT_NE(HandlerOf("SYSCALL"), HandlerOf("PATH"));
}

TEST(AuditEvent, HandlersFillTheEvent) {
  AuditEvent event;
  HandlerOf("CWD")(event, " cwd=\"/srv/share\"");
  ASSERT_TRUE(event.cwd.has_value());
  EXPECT_EQ(*event.cwd, "/srv/share");
  HandlerOf("PATH")(event, " item=0 name=\"a.txt\" mode=0100644 nametype=CREATE");
  ASSERT_EQ(event.items.size(), 1u);
  EXPECT_EQ(event.items[0].type, NameType::Create);
  EXPECT_EQ(event.items[0].mode, 0100644u);
  HandlerOf("OPENAT2")(event, " oflag=01101 mode=0644");
  EXPECT_EQ(event.openat2Flags, 01101u);
  HandlerOf("SYSCALL")(event, " arch=c000003e syscall=2 success=yes a1=241 pid=7 uid=0 ses=3");
  EXPECT_TRUE(event.haveSyscall);
  EXPECT_TRUE(event.syscallValid);
  EXPECT_EQ(event.args[1], 0x241u);
  EXPECT_EQ(event.session, 3u);
  // A second SYSCALL under the same stamp spoils the event.
  HandlerOf("SYSCALL")(event, " arch=c000003e syscall=2 success=yes uid=0");
  EXPECT_FALSE(event.syscallValid);
}

TEST(AuditPaths, ResolveName) {
  const std::optional<std::string> cwd = "/srv/./share/";
  const std::string parent = "/data";
  EXPECT_EQ(ResolveName("/x//y/./z", true, cwd, nullptr), "/x/y/z");
  EXPECT_EQ(ResolveName("a/../b", true, cwd, nullptr), "/srv/share/a/../b");
  EXPECT_EQ(ResolveName("dir/b.txt", false, cwd, &parent), "/data/b.txt");
  EXPECT_EQ(ResolveName("b.txt", false, cwd, nullptr), "");
  EXPECT_EQ(ResolveName("b.txt", true, std::nullopt, &parent), "");
}

}  // namespace
}  // namespace qs::platform::audit
