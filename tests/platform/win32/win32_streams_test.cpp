// Named streams on the Windows file system: the comment's stream is written beside the file's
// data, read back, and refused where the comment logic relies on a refusal. A system that keeps
// no streams but accepts the name makes a separate plain file of it; these tests then say so and
// are skipped, as a pass there would prove nothing.
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/streams.h"
#include "platform/win32/win32_services.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

constexpr const char* kStream = ":Comments:$DATA";

// The names in `folder`, without "." and "..".
std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found{};
  const HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(find, &found));
  FindClose(find);
  return names;
}

// Why streams cannot be tested here, or empty when they can. Written with the system's own call,
// so that the answer does not depend on the service under test.
std::string WhyNoStreams() {
  TempDir dir;
  const std::string file = dir / "x.txt";
  WriteFile(file, "x");
  const HANDLE stream = CreateFileA((file + kStream).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (stream == INVALID_HANDLE_VALUE) {
    return "the file system of the temporary folder refuses named streams (error " +
           std::to_string(GetLastError()) + ")";
  }
  CloseHandle(stream);
  for (const std::string& name : FolderEntries(dir.path().string())) {
    if (name != "x.txt") {
      return "opening \"x.txt:Comments:$DATA\" made a separate plain file \"" + name +
             "\" beside x.txt, not a stream of it (as Wine does)";
    }
  }
  return {};
}

class Win32Streams : public testing::Test {
 protected:
  void SetUp() override {
    static const std::string why = WhyNoStreams();
    if (!why.empty()) GTEST_SKIP() << "no named streams here: " << why;
  }

  std::unique_ptr<platform::StreamService> streams_ = platform::MakeWin32StreamService();
  TempDir dir_;
};

TEST_F(Win32Streams, WrittenThenReadBackBesideTheFilesData) {
  const std::string file = dir_ / "report.doc";
  WriteFile(file, "the file's own data");
  const std::string comment = "10/12/2026 13:05:09 alice\r\n09/12/2026 08:00:00 bob";

  const platform::StreamHandle out =
      streams_->OpenStream(file + kStream, platform::kOpenStreamWriteCreate);
  ASSERT_NE(out, platform::kInvalidStream);
  EXPECT_EQ(streams_->WriteStream(out, comment.data(), static_cast<std::int32_t>(comment.size())),
            static_cast<std::int32_t>(comment.size()));
  streams_->CloseStream(out);

  const platform::StreamHandle in = streams_->OpenStream(file + kStream, platform::kOpenStreamRead);
  ASSERT_NE(in, platform::kInvalidStream);
  ASSERT_EQ(streams_->GetStreamSize(in), static_cast<std::int64_t>(comment.size()));
  std::string back(comment.size() + 8, '\0');
  const std::int32_t got =
      streams_->ReadStream(in, back.data(), static_cast<std::int32_t>(back.size()));
  streams_->CloseStream(in);
  ASSERT_GE(got, 0);
  back.resize(static_cast<std::size_t>(got));
  EXPECT_EQ(back, comment);

  // The stream lives in the file: its data is untouched and no other file appeared.
  EXPECT_EQ(ReadFile(file), "the file's own data");
  EXPECT_EQ(FolderEntries(dir_.path().string()), std::vector<std::string>{"report.doc"});
}

struct Refusal {
  const char* name;
  bool makeFile;
  bool readOnly;
  std::uint32_t mode;
};

TEST_F(Win32Streams, RefusedOpensLeaveTheFolderAsItWas) {
  const Refusal refusals[] = {
      // Writing a stream would otherwise create the missing file it belongs to.
      {"write to a missing file", false, false, platform::kOpenStreamWriteCreate},
      {"write to a read-only file", true, true, platform::kOpenStreamWriteCreate},
      {"read of a stream the file does not have", true, false, platform::kOpenStreamRead},
      {"read of a missing file", false, false, platform::kOpenStreamRead},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    TempDir dir;
    const std::string file = dir / "a.txt";
    if (r.makeFile) WriteFile(file, "data");
    if (r.readOnly) {
      ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
    }

    const platform::StreamHandle handle = streams_->OpenStream(file + kStream, r.mode);
    EXPECT_EQ(handle, platform::kInvalidStream);
    if (handle != platform::kInvalidStream) streams_->CloseStream(handle);

    const std::vector<std::string> expected =
        r.makeFile ? std::vector<std::string>{"a.txt"} : std::vector<std::string>{};
    EXPECT_EQ(FolderEntries(dir.path().string()), expected);
    if (r.makeFile) {
      EXPECT_EQ(ReadFile(file), "data");
      SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
  }
}

}  // namespace
}  // namespace qs::test
