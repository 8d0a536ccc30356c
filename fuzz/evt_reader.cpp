// Fuzz target: an arbitrary file opened as an NT event log, every record read in the form an
// ANSI read returns it and handed to the selection rule. Besides crashes and sanitizer reports it
// stops on a record whose layout is inconsistent, since the decoder relies on it, and on any
// difference between the log parsed from memory and the same bytes walked a piece at a time
// through a reader, as a log is read from its file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/eventlog_record.h"
#include "platform/formats/evt_log.h"
#include "scan/record_decoder.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using qs::platform::ReadU16;
  using qs::platform::ReadU32;
  namespace at = qs::platform::record_offset;
  auto log = qs::platform::EvtLog::Parse(std::vector<std::uint8_t>(data, data + size));
  auto fromReader = qs::platform::EvtLog::Open(
      size, [data, size](std::size_t offset, std::size_t length, std::uint8_t* out) {
        if (offset > size || length > size - offset) return false;
        std::memcpy(out, data + offset, length);
        return true;
      });
  Check((log == nullptr) == (fromReader == nullptr));
  if (!log) return 0;
  Check(fromReader->RecordCount() == log->RecordCount());
  Check(!fromReader->ReadFailed());
  // Each record takes at least 0x38 bytes of the file.
  Check(log->RecordCount() <= size / 0x38);

  qs::TakenEvents newest;
  qs::SelectionContext context;
  context.OwnAccountName = "alice";
  qs::CurrentEvent current;
  for (std::size_t i = 0; i < log->RecordCount(); ++i) {
    const std::vector<std::uint8_t>& r = log->Record(i);
    Check(fromReader->RecordFileOffset(i) == log->RecordFileOffset(i));
    Check(fromReader->Record(i) == r);
    Check(r.size() >= qs::platform::kMinRecordSize && r.size() % 4 == 0);
    const std::uint8_t* p = r.data();
    Check(ReadU32(p + at::kLength) == r.size() && ReadU32(p + r.size() - 4) == r.size());
    Check(ReadU32(p + at::kSignature) == qs::platform::kRecordSignature);
    Check(ReadU32(p + at::kUserSidOffset) + ReadU32(p + at::kUserSidLength) ==
          ReadU32(p + at::kStringOffset));
    Check(ReadU32(p + at::kDataOffset) + ReadU32(p + at::kDataLength) <= r.size() - 4);
    // The strings the record claims lie between StringOffset and DataOffset, each with its zero.
    std::size_t zeros = 0;
    for (std::size_t k = ReadU32(p + at::kStringOffset); k < ReadU32(p + at::kDataOffset); ++k)
      zeros += p[k] == 0;
    Check(zeros == ReadU16(p + at::kNumStrings));
    qs::DecodeRecord(p, r.size(), newest, context, current);
  }
  return 0;
}
