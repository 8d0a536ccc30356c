// The real program on a virtual display without a window manager, where no window is ever
// activated: with "Automatic" on it must still start by itself and stamp the demo's files.
#include <sys/xattr.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <cerrno>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "window_fixture.h"

namespace qs::test {
namespace {

namespace fs = std::filesystem;

#if defined(QS_PROGRAM) && defined(QS_DEMO_MAKER)

// The value of a file's extended attribute, or nothing when it has none.
std::string Attribute(const fs::path& file, const char* name) {
  char value[4096];
  const ssize_t n = getxattr(file.c_str(), name, value, sizeof value);
  return n > 0 ? std::string(value, static_cast<std::size_t>(n)) : std::string();
}

TEST(ProgramOnAVirtualDisplay, AutomaticStartStampsTheDemoWithoutAnyClick) {
  App();
  const QString xvfbRun = QStandardPaths::findExecutable("xvfb-run");
  if (xvfbRun.isEmpty() || QStandardPaths::findExecutable("Xvfb").isEmpty() ||
      QStandardPaths::findExecutable("xauth").isEmpty())
    GTEST_SKIP() << "xvfb-run, Xvfb and xauth (packages xvfb, xauth) are not all installed";
  const QString timeout = QStandardPaths::findExecutable("timeout");
  if (timeout.isEmpty()) GTEST_SKIP() << "timeout (coreutils) is not installed";

  TempDir dir;
  const fs::path bin = dir.path() / "bin";
  const fs::path demo = dir.path() / "demo";
  fs::create_directories(bin);
  {
    const std::string probe = dir / "probe";
    WriteFile(probe, "x");
    if (setxattr(probe.c_str(), "user.probe", "1", 1, 0) != 0)
      GTEST_SKIP() << "the temporary folder's file system keeps no user attributes (errno " << errno
                   << ")";
  }
  // The program finds Quillstamp.ini beside itself: a copy of it in a folder of its own.
  fs::copy_file(QS_PROGRAM, bin / "quillstamp");
  QProcess maker;
  maker.start(QS_DEMO_MAKER,
              {QString::fromStdString(demo.string()), QString::fromStdString(bin.string())});
  ASSERT_TRUE(maker.waitForFinished(60000)) << "the demo maker did not finish";
  ASSERT_EQ(maker.exitCode(), 0) << maker.readAllStandardError().toStdString();
  const std::string ini = (bin / "Quillstamp.ini").string();
  std::string settings = ReadFile(ini);
  const std::string section = "[Configuration]\n";
  ASSERT_EQ(settings.rfind(section, 0), 0u) << settings;
  settings.insert(section.size(), "Automatic=1\n");
  WriteFile(ini, settings);

  // timeout keeps the whole group (xvfb-run, Xvfb, the program) bounded and ends it on request.
  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "xcb");  // this test program itself runs offscreen
  environment.remove("WAYLAND_DISPLAY");
  // Under AddressSanitizer the real X11 stack runs too, and libxkbcommon-x11 strndup()s a
  // length-bounded reply that has no NUL. strict_string_checks takes that for an overflow, so the
  // program, which only here talks to a real X server, runs without that one check; the tests of
  // the program's own code keep it.
  if (environment.contains("ASAN_OPTIONS"))
    environment.insert("ASAN_OPTIONS",
                       environment.value("ASAN_OPTIONS") + ":strict_string_checks=0");
  program.setProcessEnvironment(environment);
  program.setProcessChannelMode(QProcess::MergedChannels);
  program.start(timeout, {"-k", "5", "120", xvfbRun, "-a", "-s", "-screen 0 1024x768x24",
                          QString::fromStdString((bin / "quillstamp").string())});
  ASSERT_TRUE(program.waitForStarted(10000));

  // Every writable file of the demo with both comments: the first pass is over.
  const fs::path shared = demo / "Shared";
  auto allStamped = [&] {
    for (const char* file :
         {"budget-2027.txt", "todo.txt", "minutes.fodt", "Archive/plan-2026.txt"})
      if (Attribute(shared / file, "user.xdg.comment").empty() ||
          Attribute(shared / file, "user.DosStream.Comments:$DATA").empty())
        return false;
    return true;
  };
  bool stamped = false;
  for (int round = 0; round < 300 && !stamped; ++round) {
    stamped = allStamped();
    if (!stamped && program.waitForFinished(200)) break;  // ended early: reported below
  }
  const bool ranOn = program.state() == QProcess::Running;
  program.terminate();
  if (!program.waitForFinished(15000)) program.kill();
  program.waitForFinished(5000);
  const std::string output = program.readAll().toStdString();

  ASSERT_TRUE(stamped) << "no comment without a click; the program "
                       << (ranOn ? "kept running" : "ended") << "; its output:\n"
                       << output;
  EXPECT_NE(Attribute(shared / "budget-2027.txt", "user.xdg.comment").find("alice"),
            std::string::npos);
  // The read-only file is listed but never written.
  EXPECT_TRUE(Attribute(shared / "policy.txt", "user.xdg.comment").empty());
}

#endif

}  // namespace
}  // namespace qs::test
