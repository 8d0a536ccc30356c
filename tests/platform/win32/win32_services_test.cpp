// The Win32 platform services on the calls that Wine carries out as Windows does: system
// information, file status, the program folder, the settings file, a log file, and the summary
// properties of compound documents.
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>
#include <objbase.h>

#include <string>
#include <thread>

#include "platform/profile.h"
#include "platform/program_folder.h"
#include "platform/services.h"
#include "platform/utf.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/win32_services.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = platform::Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

// The long form of a path, so that the test's own calls reach a path beyond MAX_PATH however the
// code under test reaches it.
std::wstring Long(const std::string& utf8) {
  std::wstring path = Wide(utf8);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return L"\\\\?\\" + path;
}

void WriteFileW(const std::string& utf8Path, const std::string& bytes) {
  const HANDLE file = CreateFileW(Long(utf8Path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << utf8Path;
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  CloseHandle(file);
}

std::string ReadFileW(const std::string& utf8Path) {
  const HANDLE file = CreateFileW(Long(utf8Path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(1 << 16, '\0');
  DWORD got = 0;
  ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(file);
  bytes.resize(got);
  return bytes;
}

// Folders named outside any one ANSI code page, and one whose files lie beyond MAX_PATH: a file
// in it has a path of 300 characters.
struct NamedFolder {
  const char* name;
  std::string folder;  // relative to the test's folder
};

std::vector<NamedFolder> AwkwardFolders(const std::string& base) {
  // base, "\\", the folders, "\\" and "\u00e9t\u00e9.txt" (7 characters): 300 in all.
  const std::size_t want = 300 - base.size() - 9;
  std::string deep;
  while (want - deep.size() > 41) deep += std::string(40, 'd') + "\\";
  deep += std::string(want - deep.size(), 'e');
  return {{"Accented", "R\u00e9sum\u00e9s \u00dcbersicht"},
          {"Cjk", "\u5171\u6709\u30d5\u30a9\u30eb\u30c0"},
          {"Long", deep}};
}

// Makes every folder of `relative` under `base`, through the long form.
void MakeFolders(const std::string& base, const std::string& relative) {
  std::string path = base;
  std::size_t start = 0;
  while (start <= relative.size()) {
    const std::size_t end = relative.find('\\', start);
    path += "\\" + relative.substr(start, end - start);
    CreateDirectoryW(Long(path).c_str(), nullptr);
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

TEST(Win32SystemInfo, NamesVersionAndZone) {
  auto system = platform::MakeWin32SystemInfoService();
  // The names go to the start of the buffer and end with a NUL; the rest stays.
  std::string computer(64, 'x');
  ASSERT_TRUE(system->ReadComputerName(computer));
  const std::size_t end = computer.find('\0');
  ASSERT_NE(end, std::string::npos);
  EXPECT_GT(end, 0u);
  EXPECT_EQ(computer.back(), 'x');

  std::string user;
  ASSERT_TRUE(system->ReadUserName(user));
  EXPECT_GT(user.find('\0'), 0u);

  platform::OsVersionInfo version;
  ASSERT_TRUE(system->ReadVersion(version));
  EXPECT_EQ(version.dwPlatformId, platform::kPlatformWin32Nt);
  EXPECT_GE(version.dwMajorVersion, 5u);
  EXPECT_TRUE(version.hostSystemName.empty());

  std::int32_t bias = 12345;
  const std::uint32_t zone = system->ReadTimeZone(bias);
  EXPECT_NE(zone, platform::kTimeZoneIdInvalid);
  EXPECT_GE(bias, -14 * 60);
  EXPECT_LE(bias, 12 * 60);
}

// Without a manifest that names them, Windows 8.1 and later report themselves as 6.2 to
// GetVersionExA. Wine reports its configured version either way, so the test checks that the
// program carries the manifest that names every system up to Windows 10 and 11.
TEST(Win32SystemInfo, TheProgramDeclaresTheSystemsItSupports) {
  const HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(found, nullptr) << "no application manifest";
  const HGLOBAL loaded = LoadResource(nullptr, found);
  ASSERT_NE(loaded, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                             SizeofResource(nullptr, found));
  for (const char* id : {"{1f676c76-80e1-4239-95bb-83d0f6d0da78}",     // Windows 8.1
                         "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {  // Windows 10 and 11
    EXPECT_NE(manifest.find(id), std::string::npos) << id;
  }
  EXPECT_NE(manifest.find("asInvoker"), std::string::npos);
}

TEST(Win32FileStatus, AttributesOfFilesFoldersAndMissingPaths) {
  TempDir dir;
  const std::string file = dir / "a.txt";
  const std::string readOnly = dir / "ro.txt";
  WriteFile(file, "x");
  WriteFile(readOnly, "x");
  ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  auto status = platform::MakeWin32FileStatus();

  EXPECT_EQ(status->ReadFileAttributes(dir.path().string()) & platform::kFileAttributeDirectory,
            platform::kFileAttributeDirectory);
  EXPECT_EQ(status->ReadFileAttributes(file) &
                (platform::kFileAttributeReadOnly | platform::kFileAttributeDirectory),
            0u);
  EXPECT_NE(status->ReadFileAttributes(readOnly) & platform::kFileAttributeReadOnly, 0u);
  EXPECT_EQ(status->ReadFileAttributes(dir / "missing.txt"), platform::kInvalidFileAttributes);
  // A second name makes a file one that cannot be told from a planted link.
  EXPECT_EQ(status->ReadFileFacts(file).links, 1u);
  ASSERT_TRUE(CreateHardLinkA((dir / "b.txt").c_str(), file.c_str(), nullptr));
  EXPECT_EQ(status->ReadFileFacts(file).links, 2u);
  EXPECT_FALSE(status->ReadFileFacts(file).identity.has_value());
  // A NUL would make the call look at the shorter path before it.
  EXPECT_EQ(status->ReadFileAttributes(file + std::string("\0x", 2)),
            platform::kInvalidFileAttributes);
  SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// File status, the settings file and a log file under names outside the ANSI code page and at a
// path of 300 characters: the program's UTF-8 names reach the files the system holds.
TEST(Win32WideNames, FileStatusSettingsAndLogReachEveryName) {
  TempDir dir;
  const std::string base = dir.path().string();
  for (const NamedFolder& named : AwkwardFolders(base)) {
    SCOPED_TRACE(named.name);
    MakeFolders(base, named.folder);
    const std::string folder = base + "\\" + named.folder;
    // A file whose own name is outside ASCII, 300 characters from the root in the long case.
    const std::string file = folder + "\\\u00e9t\u00e9.txt";
    WriteFileW(file, "x");
    if (named.folder.size() > 200) {
      EXPECT_EQ(Wide(file).size(), 300u);
    }
    auto status = platform::MakeWin32FileStatus();
    EXPECT_NE(status->ReadFileAttributes(file), platform::kInvalidFileAttributes);
    EXPECT_EQ(status->ReadFileAttributes(file) & platform::kFileAttributeDirectory, 0u);
    EXPECT_EQ(status->ReadFileFacts(file).links, 1u);
    EXPECT_EQ(status->ReadFileAttributes(folder + "\\\u00e9t\u00e9-missing.txt"),
              platform::kInvalidFileAttributes);

    // The settings file: written, rewritten and read back with a value outside ASCII.
    const std::string ini = folder + "\\Quillstamp.ini";
    ASSERT_TRUE(
        platform::WriteIniString("Platform", "SecurityLog", "D:\\Journaux\\s\u00e9c.evt", ini));
    ASSERT_TRUE(platform::WriteIniString("Configuration", "Temporisation", "90", ini));
    EXPECT_EQ(
        ReadFileW(ini),
        "[Platform]\nSecurityLog=D:\\Journaux\\s\u00e9c.evt\n[Configuration]\nTemporisation=90\n");
    EXPECT_EQ(platform::ReadIniString("Platform", "SecurityLog", "", ini, 1024),
              "D:\\Journaux\\s\u00e9c.evt");
    EXPECT_EQ(platform::ReadIniSection("Configuration", ini).size(), 1u);

    // An .evt log kept there.
    const std::string log = folder + "\\s\u00e9c.evt";
    WriteFileW(log, FixtureBytes("evt/plaso_SysEvent.Evt"));
    auto service = platform::MakeWin32EventLogService(log);
    const platform::EventLogHandle handle = service->OpenLog("", "Security");
    EXPECT_NE(handle, 0u);
    std::uint32_t count = 0;
    EXPECT_TRUE(service->NumberOfRecords(handle, count));
    EXPECT_GT(count, 0u);
  }
}

// The long form that lifts MAX_PATH on Windows. (Wine itself has no such limit, so the tests of
// 300-character paths above show that the long form reaches the same files, not the limit.)
TEST(Win32WideNames, LongPathsGetTheLongForm) {
  const std::string folder = "C:\\" + std::string(240, 'd');
  const std::string unc = "\\\\server\\share\\" + std::string(240, 'u');
  struct Case {
    std::string path;
    std::wstring wide;
  };
  const Case cases[] = {
      {"C:\\Shared\\R\u00e9sum\u00e9.doc", L"C:\\Shared\\R\u00e9sum\u00e9.doc"},  // short
      {folder + "\\a.txt", L"\\\\?\\" + Wide(folder) + L"\\a.txt"},
      {folder + "\\a.txt:Comments:$DATA", L"\\\\?\\" + Wide(folder) + L"\\a.txt:Comments:$DATA"},
      {folder + "/x/../\u5831.txt", L"\\\\?\\" + Wide(folder) + L"\\\u5831.txt"},  // tidied first
      {unc + "\\b.doc", L"\\\\?\\UNC\\server\\share\\" + std::wstring(240, L'u') + L"\\b.doc"},
      {"\\\\?\\" + folder + "\\c", L"\\\\?\\" + Wide(folder) + L"\\c"},  // as it is
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_TRUE(platform::WidePath(c.path) == c.wide);
  }
}

// The computer's and the account's names come in UTF-8, as the wide calls give them.
TEST(Win32WideNames, SystemNamesAreUtf8) {
  auto system = platform::MakeWin32SystemInfoService();
  std::string user;
  ASSERT_TRUE(system->ReadUserName(user));
  user.resize(user.find('\0'));
  wchar_t name[257];
  DWORD size = 257;
  ASSERT_TRUE(GetUserNameW(name, &size));
  EXPECT_EQ(Wide(user), std::wstring(name, size - 1));
  std::string computer;
  ASSERT_TRUE(system->ReadComputerName(computer));
  computer.resize(computer.find('\0'));
  wchar_t host[MAX_COMPUTERNAME_LENGTH + 1];
  size = MAX_COMPUTERNAME_LENGTH + 1;
  ASSERT_TRUE(GetComputerNameW(host, &size));
  EXPECT_EQ(Wide(computer), std::wstring(host, size));
}

TEST(Win32ProgramFolder, IsTheFolderOfThisExecutable) {
  const auto folder = platform::ProgramFolder();
  ASSERT_TRUE(folder.has_value());
  char exe[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
  ASSERT_GT(n, 0u);
  const std::string path(exe, n);
  EXPECT_EQ(path.substr(0, folder->size()), *folder);
  EXPECT_TRUE(path[folder->size()] == '\\' || path[folder->size()] == '/');
  EXPECT_EQ(path.find_first_of("\\/", folder->size() + 1), std::string::npos);
}

TEST(Win32Profile, WriteThenReadThroughTheSystemReader) {
  TempDir dir;
  const std::string ini = dir / "Quillstamp.ini";
  ASSERT_TRUE(platform::WriteIniString("Configuration", "Temporisation", "60", ini));
  ASSERT_TRUE(platform::WriteIniString("Drives", "D", "x", ini));
  ASSERT_TRUE(platform::WriteIniString("Configuration", "Temporisation", "90", ini));
  EXPECT_EQ(ReadFile(ini), "[Configuration]\nTemporisation=90\n[Drives]\nD=x\n");
  EXPECT_EQ(platform::ReadIniString("configuration", "TEMPORISATION", "5", ini), "90");
  EXPECT_EQ(platform::ReadIniString("Configuration", "Missing", "5", ini), "5");
  EXPECT_EQ(platform::ReadIniString("Configuration", "Missing", "5", dir / "none.ini"), "5");
  const auto drives = platform::ReadIniSection("drives", ini);
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].first, "D");
}

TEST(Win32Profile, AnInterruptedOrRefusedWriteLeavesTheFileAsItWas) {
  TempDir dir;
  const std::string ini = dir / "Quillstamp.ini";
  const std::string before = "; kept\r\n[Configuration]\r\nPerformance=5\r\n";
  WriteFile(ini, before);
  // Stopped after the temporary file is written, before it replaces the file.
  std::string tempSeen;
  EXPECT_FALSE(platform::WriteIniString("Configuration", "Performance", "9", ini,
                                        [&](const std::string& temp) {
                                          tempSeen = temp;
                                          return false;
                                        }));
  EXPECT_EQ(ReadFile(ini), before);
  ASSERT_FALSE(tempSeen.empty());
  EXPECT_EQ(GetFileAttributesA(tempSeen.c_str()), INVALID_FILE_ATTRIBUTES);  // removed

  // A read-only settings file is not written.
  ASSERT_TRUE(SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(platform::WriteIniString("Configuration", "Performance", "9", ini));
  SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(ReadFile(ini), before);

  // A write keeps the other lines and the file's CR LF endings.
  EXPECT_TRUE(platform::WriteIniString("Configuration", "Temporisation", "60", ini));
  EXPECT_EQ(ReadFile(ini), "; kept\r\n[Configuration]\r\nPerformance=5\r\nTemporisation=60\r\n");
}

// A write puts the new content in place of the old file, not a new file in its place: what
// describes the file stays, here its hidden attribute. (Its security descriptor and named streams
// are kept by ReplaceFile on Windows, which Wine does not show.)
TEST(Win32Profile, AWriteKeepsTheFilesAttributes) {
  TempDir dir;
  const std::string ini = dir / "Quillstamp.ini";
  WriteFile(ini, "[Configuration]\r\nPerformance=5\r\n");
  ASSERT_TRUE(SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(platform::WriteIniString("Configuration", "Performance", "9", ini));
  EXPECT_EQ(ReadFile(ini), "[Configuration]\r\nPerformance=9\r\n");
  const DWORD attributes = GetFileAttributesA(ini.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u) << "the hidden attribute was lost";
  // No temporary file is left beside it.
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((dir / "qs*").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE) << found.cFileName;
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Another process holding the settings file open without letting it be replaced (a scanner) makes
// the write wait for it a little; held for good, the write fails and the file stays as it was.
TEST(Win32Profile, AWriteWaitsBrieflyForAFileHeldByAnother) {
  TempDir dir;
  const std::string ini = dir / "Quillstamp.ini";
  const std::string before = "[Configuration]\r\nPerformance=5\r\n";
  WriteFile(ini, before);
  const auto hold = [&] {
    return CreateFileA(ini.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  // Held throughout: refused, nothing changed, nothing left beside it.
  HANDLE held = hold();
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(platform::WriteIniString("Configuration", "Performance", "9", ini));
  CloseHandle(held);
  EXPECT_EQ(ReadFile(ini), before);
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((dir / "qs*").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE) << found.cFileName;
  if (search != INVALID_HANDLE_VALUE) FindClose(search);

  // Let go while the write waits: written. The holder lets go once the write has met it, told
  // by the write's first refusal having happened (the hook runs just before the replacement).
  held = hold();
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread holder;
  EXPECT_TRUE(
      platform::WriteIniString("Configuration", "Performance", "9", ini, [&](const std::string&) {
        holder = std::thread([&held] {
          Sleep(100);
          CloseHandle(held);
        });
        return true;
      }));
  if (holder.joinable()) holder.join();
  EXPECT_EQ(ReadFile(ini), "[Configuration]\r\nPerformance=9\r\n");
}

TEST(Win32Profile, WritersTakeTurnsAndLoseNoUpdate) {
  TempDir dir;
  const std::string ini = dir / "Quillstamp.ini";
  // Two writers of different keys of the same file, each reading and replacing the whole file.
  constexpr int kKeys = 60;
  auto writeKeys = [&](const char* prefix) {
    for (int k = 0; k < kKeys; ++k) {
      platform::WriteIniString("Configuration", prefix + std::to_string(k), "1", ini);
    }
  };
  std::thread first(writeKeys, "A");
  std::thread second(writeKeys, "B");
  first.join();
  second.join();
  for (const char* prefix : {"A", "B"}) {
    for (int k = 0; k < kKeys; ++k) {
      EXPECT_EQ(platform::ReadIniString("Configuration", prefix + std::to_string(k), "lost", ini),
                "1")
          << prefix << k;
    }
  }
  // The companion file is gone with its last holder.
  EXPECT_EQ(GetFileAttributesA((ini + ".lock").c_str()), INVALID_FILE_ATTRIBUTES);

  // A lock that is never let go fails the write (after a bounded wait) and leaves the file.
  const std::string before = ReadFile(ini);
  const HANDLE held = CreateFileA((ini + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(platform::WriteIniString("Configuration", "Late", "1", ini));
  CloseHandle(held);
  EXPECT_EQ(ReadFile(ini), before);
}

TEST(Win32EventLog, AnEvtFileIsReadRecordByRecord) {
  const std::string path = FixturePath("evt/plaso_SysEvent.Evt");
  auto log = platform::MakeWin32EventLogService(path);
  const platform::EventLogHandle handle = log->OpenLog("", "Security");
  ASSERT_NE(handle, 0u);
  std::uint32_t count = 0;
  ASSERT_TRUE(log->NumberOfRecords(handle, count));
  EXPECT_GT(count, 0u);
  std::uint32_t read = 0;
  for (;;) {
    std::uint32_t bytesRead = 0;
    std::uint32_t needed = 0;
    constexpr std::uint32_t kFlags =
        platform::kEventLogSequentialRead | platform::kEventLogForwardsRead;
    if (log->ReadRecord(handle, kFlags, 0, nullptr, 0, bytesRead, needed)) break;
    if (needed == 0) break;
    std::string buffer(needed, '\0');
    ASSERT_TRUE(log->ReadRecord(handle, kFlags, 0, buffer.data(), needed, bytesRead, needed));
    EXPECT_EQ(buffer.substr(4, 4), "LfLe");
    ++read;
  }
  EXPECT_EQ(read, count);
  EXPECT_TRUE(log->CloseLog(handle));
  // Only the Security source, and no file that is not an event log.
  EXPECT_EQ(log->OpenLog("", "System"), 0u);
  TempDir dir;
  WriteFile(dir / "not.evt", std::string(200, 'x'));
  EXPECT_EQ(platform::MakeWin32EventLogService(dir / "not.evt")->OpenLog("", "Security"), 0u);
}

// A compound document made with the system's structured storage, as an Office file is.
void MakeCompoundFile(const std::string& path) {
  const std::wstring wide(path.begin(), path.end());
  IStorage* storage = nullptr;
  ASSERT_EQ(StgCreateStorageEx(wide.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                               STGFMT_STORAGE, 0, nullptr, nullptr, IID_IStorage,
                               reinterpret_cast<void**>(&storage)),
            S_OK);
  storage->Release();
}

class Win32Summary : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(Win32Summary, CommentsOfACompoundDocumentRoundTrip) {
  TempDir dir;
  const std::string doc = dir / "budget.xls";
  MakeCompoundFile(doc);
  const std::u16string path(doc.begin(), doc.end());
  {
    auto summary = platform::MakeWin32SummaryComponent();
    ASSERT_EQ(summary->OpenSummary(path, platform::kSummaryReadWriteExclusive),
              platform::kSummaryOk);
    std::int32_t status = 0;
    summary->GetOpenStatus(status);
    EXPECT_TRUE(platform::SummaryUsable(status));
    std::u16string text = u"x";
    ASSERT_EQ(summary->GetComments(text), platform::kSummaryOk);
    EXPECT_EQ(text, u"");
    ASSERT_EQ(summary->SetComments(u"10/12/2026 13:05:09 alice\r\nolder"), platform::kSummaryOk);
    ASSERT_EQ(summary->SaveSummary(), platform::kSummaryOk);
    EXPECT_EQ(summary->CloseSummary(), platform::kSummaryOk);
  }
  auto summary = platform::MakeWin32SummaryComponent();
  ASSERT_EQ(summary->OpenSummary(path, platform::kSummaryReadWriteExclusive), platform::kSummaryOk);
  std::u16string text;
  ASSERT_EQ(summary->GetComments(text), platform::kSummaryOk);
  EXPECT_EQ(text, u"10/12/2026 13:05:09 alice\r\nolder");
  summary->CloseSummary();
}

// The property sets of a compound document, through its storage.
IPropertySetStorage* OpenSets(const std::wstring& path, DWORD mode) {
  IStorage* storage = nullptr;
  if (FAILED(StgOpenStorageEx(path.c_str(), mode, STGFMT_ANY, 0, nullptr, nullptr, IID_IStorage,
                              reinterpret_cast<void**>(&storage)))) {
    return nullptr;
  }
  IPropertySetStorage* sets = nullptr;
  if (FAILED(storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets))))
    sets = nullptr;
  storage->Release();
  return sets;
}

// A compound document whose summary set is made by the system in an ANSI code page
// (PROPSETFLAG_ANSI: the system's, 1252 under an English Wine) or in Unicode.
UINT MakeDocumentWithSummarySet(const std::string& path, DWORD flags) {
  MakeCompoundFile(path);
  const std::wstring wide = Wide(path);
  IPropertySetStorage* sets = OpenSets(wide, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
  if (sets == nullptr) return 0;
  IPropertyStorage* props = nullptr;
  UINT codePage = 0;
  if (SUCCEEDED(sets->Create(FMTID_SummaryInformation, nullptr, flags,
                             STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &props))) {
    PROPSPEC spec{};
    spec.ulKind = PRSPEC_PROPID;
    spec.propid = PID_CODEPAGE;
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(props->ReadMultiple(1, &spec, &value)) && value.vt == VT_I2)
      codePage = static_cast<std::uint16_t>(value.iVal);
    PropVariantClear(&value);
    // A title, so that the set is written with a property of its own.
    spec.propid = PIDSI_TITLE;
    wchar_t title[] = L"Budget";
    value.vt = VT_LPWSTR;
    value.pwszVal = title;
    if (FAILED(props->WriteMultiple(1, &spec, &value, PID_FIRST_USABLE)) ||
        FAILED(props->Commit(STGC_DEFAULT))) {
      codePage = 0;
    }
    props->Release();
  }
  sets->Release();
  return codePage;
}

// The Comments as the set holds them: their type and, for VT_LPSTR, their bytes.
struct StoredComments {
  VARTYPE type = VT_EMPTY;
  std::string bytes;
  std::wstring wide;
};

StoredComments ReadStoredComments(const std::string& path) {
  StoredComments stored;
  IPropertySetStorage* sets = OpenSets(Wide(path), STGM_READ | STGM_SHARE_EXCLUSIVE);
  if (sets == nullptr) return stored;
  IPropertyStorage* props = nullptr;
  if (SUCCEEDED(sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, &props))) {
    PROPSPEC spec{};
    spec.ulKind = PRSPEC_PROPID;
    spec.propid = PIDSI_COMMENTS;
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(props->ReadMultiple(1, &spec, &value))) {
      stored.type = value.vt;
      if (value.vt == VT_LPSTR && value.pszVal != nullptr) stored.bytes = value.pszVal;
      if (value.vt == VT_LPWSTR && value.pwszVal != nullptr) stored.wide = value.pwszVal;
    }
    PropVariantClear(&value);
    props->Release();
  }
  sets->Release();
  return stored;
}

// The Comments are written in the set's own code page: as single bytes of that code page in an
// ANSI set, as UTF-16 only in a Unicode set; and read back whole from either.
TEST_F(Win32Summary, CommentsAreWrittenInTheSetsCodePage) {
  TempDir dir;
  const std::u16string text = u"01/02/2026 10:00:00 J\u00fcrgen\r\nR\u00e9sum\u00e9";
  const std::u16string cjk = u"01/02/2026 10:00:00 \u7530\u4e2d";
  struct Case {
    const char* name;
    DWORD flags;
    std::u16string text;
  };
  for (const Case& c :
       {Case{"ansi", PROPSETFLAG_ANSI, text}, Case{"unicode", PROPSETFLAG_DEFAULT, text},
        Case{"unicodeCjk", PROPSETFLAG_DEFAULT, cjk}}) {
    SCOPED_TRACE(c.name);
    const std::string doc = dir / (std::string(c.name) + ".doc");
    const UINT codePage = MakeDocumentWithSummarySet(doc, c.flags);
    ASSERT_NE(codePage, 0u) << "no summary set could be made";
    {
      auto summary = platform::MakeWin32SummaryComponent();
      ASSERT_EQ(summary->OpenSummary(std::u16string(doc.begin(), doc.end()),
                                     platform::kSummaryReadWriteExclusive),
                platform::kSummaryOk);
      ASSERT_EQ(summary->SetComments(c.text), platform::kSummaryOk);
      ASSERT_EQ(summary->SaveSummary(), platform::kSummaryOk);
      summary->CloseSummary();
    }
    const StoredComments stored = ReadStoredComments(doc);
    if (c.flags == PROPSETFLAG_ANSI) {
      // The system's ANSI code page: 1252 in Wine's English prefix, whose bytes are written out
      // here. (A test program of the Windows build runs as one test, so this case does not skip
      // itself on another code page: its skip would hide the program's other results.)
      EXPECT_EQ(codePage, GetACP());
      EXPECT_EQ(stored.type, VT_LPSTR);
      if (codePage == 1252) {
        EXPECT_EQ(stored.bytes, "01/02/2026 10:00:00 J\xfcrgen\r\nR\xe9sum\xe9");
      } else {
        ADD_FAILURE() << "the prefix's ANSI code page is " << codePage
                      << ", not the 1252 of Wine's English prefix that this case is written for";
      }
    } else {
      EXPECT_EQ(codePage, 1200u);
      EXPECT_EQ(stored.type, VT_LPWSTR);
      EXPECT_EQ(stored.wide, std::wstring(c.text.begin(), c.text.end()));
    }
    auto summary = platform::MakeWin32SummaryComponent();
    ASSERT_EQ(summary->OpenSummary(std::u16string(doc.begin(), doc.end()),
                                   platform::kSummaryReadWriteExclusive),
              platform::kSummaryOk);
    std::u16string back;
    ASSERT_EQ(summary->GetComments(back), platform::kSummaryOk);
    EXPECT_EQ(back, c.text);
    summary->CloseSummary();
  }
}

// The Windows 2000 comment of a document named outside the ANSI code page, and of one at a path
// of 300 characters: the component opens the file the program names.
TEST_F(Win32Summary, CommentsOfDocumentsWithAwkwardNames) {
  TempDir dir;
  const std::string base = dir.path().string();
  for (const NamedFolder& named : AwkwardFolders(base)) {
    SCOPED_TRACE(named.name);
    MakeFolders(base, named.folder);
    const std::string doc = base + "\\" + named.folder + "\\\u00e9t\u00e9.doc";
    IStorage* storage = nullptr;
    ASSERT_EQ(
        StgCreateStorageEx(Long(doc).c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                           STGFMT_STORAGE, 0, nullptr, nullptr, IID_IStorage,
                           reinterpret_cast<void**>(&storage)),
        S_OK);
    storage->Release();
    const std::u16string path = platform::Utf8ToUtf16(doc);
    const std::u16string text = u"01/02/2026 10:00:00 J\u00fcrgen \u7530\u4e2d";
    {
      auto summary = platform::MakeWin32SummaryComponent();
      ASSERT_EQ(summary->OpenSummary(path, platform::kSummaryReadWriteExclusive),
                platform::kSummaryOk);
      ASSERT_EQ(summary->SetComments(text), platform::kSummaryOk);
      ASSERT_EQ(summary->SaveSummary(), platform::kSummaryOk);
      summary->CloseSummary();
    }
    auto summary = platform::MakeWin32SummaryComponent();
    ASSERT_EQ(summary->OpenSummary(path, platform::kSummaryReadWriteExclusive),
              platform::kSummaryOk);
    std::u16string back;
    ASSERT_EQ(summary->GetComments(back), platform::kSummaryOk);
    EXPECT_EQ(back, text);
    summary->CloseSummary();
  }
}

TEST_F(Win32Summary, APlainFileOrAMissingOneIsNotUsable) {
  TempDir dir;
  WriteFile(dir / "notes.txt", "plain text");
  for (const std::string& file : {dir / "notes.txt", dir / "missing.doc"}) {
    SCOPED_TRACE(file);
    auto summary = platform::MakeWin32SummaryComponent();
    EXPECT_LT(summary->OpenSummary(std::u16string(file.begin(), file.end()),
                                   platform::kSummaryReadWriteExclusive),
              0);
    std::int32_t status = 0;
    summary->GetOpenStatus(status);
    EXPECT_FALSE(platform::SummaryUsable(status));
    std::u16string text;
    EXPECT_LT(summary->GetComments(text), 0);
    EXPECT_LT(summary->SetComments(u"x"), 0);
  }
  // The plain file is untouched.
  EXPECT_EQ(ReadFile(dir / "notes.txt"), "plain text");
}

}  // namespace
}  // namespace qs::test
