#include "platform/eventlog_record.h"

#include "platform/utf.h"

namespace qs::platform {

namespace {

void AppendText(std::vector<std::uint8_t>& out, const std::string& text, RecordText form) {
  if (form == RecordText::Ansi) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
    return;
  }
  for (char16_t u : Utf8ToUtf16(text)) {
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

}  // namespace

void PadRecordTo4(std::vector<std::uint8_t>& record) {
  while (record.size() % 4 != 0) record.push_back(0);
}

void FinishRecord(std::vector<std::uint8_t>& record, const RecordPlacement& placement) {
  PadRecordTo4(record);
  record.resize(record.size() + 4);
  const auto length = static_cast<std::uint32_t>(record.size());
  std::uint8_t* p = record.data();
  WriteU32(p + record_offset::kLength, length);
  WriteU16(p + record_offset::kNumStrings, placement.numStrings);
  WriteU32(p + record_offset::kStringOffset, placement.stringOffset);
  WriteU32(p + record_offset::kUserSidLength, placement.userSidLength);
  WriteU32(p + record_offset::kUserSidOffset, placement.userSidOffset);
  WriteU32(p + record_offset::kDataLength, placement.dataLength);
  WriteU32(p + record_offset::kDataOffset, placement.dataOffset);
  WriteU32(p + length - 4, length);
}

std::vector<std::uint8_t> BuildRecord(const EventRecordFields& f, RecordText form) {
  std::vector<std::uint8_t> out(kFixedRecordSize, 0);
  std::uint8_t* p = out.data();
  WriteU32(p + record_offset::kSignature, kRecordSignature);
  WriteU32(p + record_offset::kRecordNumber, f.RecordNumber);
  WriteU32(p + record_offset::kTimeGenerated, f.TimeGenerated);
  WriteU32(p + record_offset::kTimeWritten, f.TimeWritten);
  WriteU32(p + record_offset::kEventId, f.EventID);
  WriteU16(p + record_offset::kEventType, f.EventType);
  WriteU16(p + record_offset::kEventCategory, f.EventCategory);
  WriteU16(p + record_offset::kReservedFlags, f.ReservedFlags);
  WriteU32(p + record_offset::kClosingRecordNumber, f.ClosingRecordNumber);

  AppendText(out, f.SourceName, form);
  AppendText(out, f.ComputerName, form);
  PadRecordTo4(out);

  RecordPlacement placement;
  placement.userSidOffset = static_cast<std::uint32_t>(out.size());
  placement.userSidLength = static_cast<std::uint32_t>(f.UserSid.size());
  out.insert(out.end(), f.UserSid.begin(), f.UserSid.end());

  placement.stringOffset = static_cast<std::uint32_t>(out.size());
  placement.numStrings = static_cast<std::uint16_t>(f.Strings.size());
  for (const auto& s : f.Strings) AppendText(out, s, form);

  placement.dataOffset = static_cast<std::uint32_t>(out.size());
  placement.dataLength = static_cast<std::uint32_t>(f.Data.size());
  out.insert(out.end(), f.Data.begin(), f.Data.end());
  FinishRecord(out, placement);
  return out;
}

std::vector<std::uint8_t> BuildAnsiRecord(const EventRecordFields& fields) {
  return BuildRecord(fields, RecordText::Ansi);
}

}  // namespace qs::platform
