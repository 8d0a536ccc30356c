// Reading back a record in the form that an ANSI read returns, checking its layout on the way.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/eventlog_record.h"

namespace qs::test {

struct AnsiRecord {
  std::uint32_t recordNumber = 0;
  std::uint32_t timeGenerated = 0;
  std::uint32_t timeWritten = 0;
  std::uint32_t eventId = 0;
  std::uint16_t eventType = 0;
  std::uint16_t eventCategory = 0;
  std::string sourceName;
  std::string computerName;
  std::vector<std::uint8_t> userSid;
  std::vector<std::string> strings;
  std::vector<std::uint8_t> data;
};

// Texts ended by a zero byte at pos, which must lie before end.
inline std::string TextAt(const std::vector<std::uint8_t>& r, std::size_t& pos, std::size_t end) {
  std::string text;
  while (pos < end && r[pos] != 0) text.push_back(static_cast<char>(r[pos++]));
  EXPECT_LT(pos, end) << "text without its zero byte";
  ++pos;
  return text;
}

// Parses r, failing the test on any fault of the layout: Length, the trailing copy of it, the
// signature, offsets inside the record, texts ended by zero bytes, the 4-byte boundaries.
inline AnsiRecord ParseAnsiRecord(const std::vector<std::uint8_t>& r) {
  using platform::ReadU16;
  using platform::ReadU32;
  namespace at = platform::record_offset;
  AnsiRecord a;
  if (r.size() < platform::kMinRecordSize) {
    ADD_FAILURE() << "record of " << r.size() << " bytes";
    return a;
  }
  const std::uint8_t* p = r.data();
  EXPECT_EQ(ReadU32(p + at::kLength), r.size());
  EXPECT_EQ(r.size() % 4, 0u);
  EXPECT_EQ(ReadU32(p + r.size() - 4), r.size());
  EXPECT_EQ(ReadU32(p + at::kSignature), platform::kRecordSignature);
  a.recordNumber = ReadU32(p + at::kRecordNumber);
  a.timeGenerated = ReadU32(p + at::kTimeGenerated);
  a.timeWritten = ReadU32(p + at::kTimeWritten);
  a.eventId = ReadU32(p + at::kEventId);
  a.eventType = ReadU16(p + at::kEventType);
  a.eventCategory = ReadU16(p + at::kEventCategory);
  const std::size_t end = r.size() - 4;
  std::size_t pos = at::kSourceName;
  a.sourceName = TextAt(r, pos, end);
  a.computerName = TextAt(r, pos, end);
  const std::uint32_t sidLength = ReadU32(p + at::kUserSidLength);
  const std::uint32_t sidOffset = ReadU32(p + at::kUserSidOffset);
  EXPECT_EQ(sidOffset % 4, 0u);
  EXPECT_GE(sidOffset, pos);
  EXPECT_LE(sidOffset + sidLength, end);
  if (sidOffset + sidLength <= end) a.userSid.assign(p + sidOffset, p + sidOffset + sidLength);
  std::size_t s = ReadU32(p + at::kStringOffset);
  EXPECT_EQ(s, sidOffset + sidLength);
  const std::uint16_t numStrings = ReadU16(p + at::kNumStrings);
  for (std::uint16_t k = 0; k < numStrings && s < end; ++k) a.strings.push_back(TextAt(r, s, end));
  EXPECT_EQ(a.strings.size(), numStrings);
  const std::uint32_t dataLength = ReadU32(p + at::kDataLength);
  const std::uint32_t dataOffset = ReadU32(p + at::kDataOffset);
  EXPECT_EQ(dataOffset, s);
  EXPECT_LE(dataOffset + dataLength, end);
  if (dataOffset + dataLength <= end) a.data.assign(p + dataOffset, p + dataOffset + dataLength);
  for (std::size_t k = dataOffset + dataLength; k < end; ++k) EXPECT_EQ(r[k], 0) << "padding";
  EXPECT_LT(end - (dataOffset + dataLength), 4u);
  return a;
}

}  // namespace qs::test
