#include "platform/eventlog_record.h"

namespace qs::platform {

namespace {

void PadTo4(std::vector<std::uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}

void AppendText(std::vector<std::uint8_t>& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

}  // namespace

std::vector<std::uint8_t> BuildAnsiRecord(const EventRecordFields& f) {
  std::vector<std::uint8_t> out(kFixedRecordSize, 0);
  AppendText(out, f.SourceName);
  AppendText(out, f.ComputerName);
  PadTo4(out);

  const auto sidOffset = static_cast<std::uint32_t>(out.size());
  out.insert(out.end(), f.UserSid.begin(), f.UserSid.end());

  const auto stringOffset = static_cast<std::uint32_t>(out.size());
  for (const auto& s : f.Strings) AppendText(out, s);

  const auto dataOffset = static_cast<std::uint32_t>(out.size());
  out.insert(out.end(), f.Data.begin(), f.Data.end());
  PadTo4(out);
  out.resize(out.size() + 4);

  const auto length = static_cast<std::uint32_t>(out.size());
  std::uint8_t* p = out.data();
  WriteU32(p + 0, length);
  WriteU32(p + 4, kRecordSignature);
  WriteU32(p + 8, f.RecordNumber);
  WriteU32(p + 12, f.TimeGenerated);
  WriteU32(p + 16, f.TimeWritten);
  WriteU32(p + 20, f.EventID);
  WriteU16(p + 24, f.EventType);
  WriteU16(p + 26, static_cast<std::uint16_t>(f.Strings.size()));
  WriteU16(p + 28, f.EventCategory);
  WriteU16(p + 30, f.ReservedFlags);
  WriteU32(p + 32, f.ClosingRecordNumber);
  WriteU32(p + 36, stringOffset);
  WriteU32(p + 40, static_cast<std::uint32_t>(f.UserSid.size()));
  WriteU32(p + 44, sidOffset);
  WriteU32(p + 48, static_cast<std::uint32_t>(f.Data.size()));
  WriteU32(p + 52, dataOffset);
  WriteU32(p + length - 4, length);
  return out;
}

}  // namespace qs::platform
