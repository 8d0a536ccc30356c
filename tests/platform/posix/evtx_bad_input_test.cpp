// Damaged .evtx files, made from a real log: each is read up to what libevtx can read, or fails the
// open; none crashes the reader, and every record it gives is whole and in order. The counts are
// those evtxinfo gives for the same damaged files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/posix/log_source.h"
#include "platform/posix/posix_eventlog.h"
#include "support/ansi_record.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

constexpr std::size_t kFileHeader = 4096;
constexpr std::size_t kChunk = 65536;
// The real log: 869 records in ten chunks of 98, 99, 90, ... records, the file padded to 17.
constexpr const char* kLog = "evtx/LM_5145_Remote_FileCopy.evtx";

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

struct DamageCase {
  const char* name;
  std::function<void(std::string&)> damage;
  bool opens;
  std::size_t records;
};

class EvtxBadInput : public testing::TestWithParam<DamageCase> {};

TEST_P(EvtxBadInput, ReadsWhatLibevtxCanReadOrFailsTheOpen) {
  std::string bytes = FixtureBytes(kLog);
  GetParam().damage(bytes);
  TempDir dir;
  const std::string path = dir / "Security.evtx";
  WriteBytes(path, bytes);

  auto log = platform::OpenEvtxLog(path);
  ASSERT_EQ(log != nullptr, GetParam().opens);
  // The service fails the open as well, rather than reading the damaged log as an audit log.
  auto service = platform::MakePosixEventLogService(path);
  const platform::EventLogHandle handle = service->OpenLog("", "Security");
  EXPECT_EQ(handle != 0, GetParam().opens);
  if (!log) return;
  ASSERT_EQ(log->RecordCount(), GetParam().records);
  std::uint32_t previous = 0;
  for (std::size_t i = 0; i < log->RecordCount(); ++i) {
    const AnsiRecord r = ParseAnsiRecord(log->Record(i));
    ASSERT_GT(r.recordNumber, previous) << "at index " << i;
    previous = r.recordNumber;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, EvtxBadInput,
    testing::Values(
        // Cut in the middle of the fourth chunk: the three whole chunks are read.
        DamageCase{"Truncated", [](std::string& b) { b.resize(kFileHeader + 3 * kChunk + 20000); },
                   true, 287},
        DamageCase{"OnlyTheFileHeader", [](std::string& b) { b.resize(kFileHeader); }, true, 0},
        DamageCase{"CutInTheFileHeader", [](std::string& b) { b.resize(100); }, false, 0},
        // libevtx reads a chunk whose checksums do not match, as Windows' own tools show it.
        DamageCase{"ChunkHeaderChecksumWrong",
                   [](std::string& b) { b[kFileHeader + 2 * kChunk + 0x7c] ^= 0x5a; }, true, 869},
        DamageCase{"ChunkDataChecksumWrong",
                   [](std::string& b) { b[kFileHeader + 2 * kChunk + 0x34] ^= 0x5a; }, true, 869},
        DamageCase{
            "ChunkFullOfZeros",
            [](std::string& b) { std::fill_n(b.begin() + kFileHeader + 2 * kChunk, kChunk, '\0'); },
            true, 869 - 90},
        // The signature and zeros after it: libevtx reads an empty log.
        DamageCase{"SignatureOnly", [](std::string& b) { std::fill(b.begin() + 8, b.end(), '\0'); },
                   true, 0}),
    [](const testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

// 2 GiB that hold nothing but the real log's file header and its first chunk: libevtx goes through
// the zeros without keeping them.
TEST(EvtxBadInput, SparseFileOfTwoGibibytes) {
  const std::string bytes = FixtureBytes(kLog).substr(0, kFileHeader + kChunk);
  TempDir dir;
  const std::string path = dir / "Security.evtx";
  WriteBytes(path, bytes);
  std::filesystem::resize_file(path, std::uintmax_t{2} << 30);
  auto log = platform::OpenEvtxLog(path);
  ASSERT_TRUE(log);
  EXPECT_EQ(log->RecordCount(), 98u);
}

// A file of zeros has no "ElfFile" signature: libevtx refuses it.
TEST(EvtxBadInput, SparseFileOfZerosIsNoEvtxLog) {
  TempDir dir;
  const std::string path = dir / "zeros";
  WriteBytes(path, "");
  std::filesystem::resize_file(path, std::uintmax_t{2} << 30);
  EXPECT_FALSE(platform::OpenEvtxLog(path));
}

}  // namespace
}  // namespace qs::test
