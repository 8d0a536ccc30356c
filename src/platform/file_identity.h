// Which file an event changed, where the log tells it (the inode and device of an audit PATH item),
// and how that identity travels in the data area of the event-560 record made for the event. A
// path alone does not name a file for good: a user who may write in a shared folder can rename
// or link another owner's file onto a name that the log shows written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/eventlog_record.h"

namespace qs::platform {

struct FileIdentity {
  std::uint64_t inode = 0;
  std::uint32_t deviceMajor = 0;
  std::uint32_t deviceMinor = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The file that a comment may go onto: the file the log showed written. Where the log names its
// identity, only that file is it. Where it does not (a Windows log), a file with several names
// cannot be told from a link that somebody planted onto the written file's name, and only a file
// of one name is taken for it.
struct ExpectedFile {
  std::optional<FileIdentity> identity;
};

// Whether the file of identity `found` (none where the platform cannot tell it), with `links`
// names, is the expected one. The comment pass asks it of the file at the path, and the comment
// services of the file they opened, before they read or write anything: between a look at a path
// and its open, anybody who may rename in the folder can put another file there.
inline bool IsExpectedFile(const ExpectedFile& expected, const std::optional<FileIdentity>& found,
                           std::uint64_t links) {
  if (expected.identity) return found == expected.identity;
  return links <= 1;
}

// The data area: a tag, then the inode, the major and the minor device number, little-endian.
// The tag tells it from the data that a Windows record may carry.
inline constexpr std::uint8_t kFileIdentityTag[4] = {'Q', 'S', 'I', 'D'};
inline constexpr std::size_t kFileIdentityDataSize = 4 + 8 + 4 + 4;

inline std::vector<std::uint8_t> FileIdentityData(const FileIdentity& id) {
  std::vector<std::uint8_t> data(kFileIdentityDataSize, 0);
  for (std::size_t i = 0; i < 4; ++i) data[i] = kFileIdentityTag[i];
  WriteU32(data.data() + 4, static_cast<std::uint32_t>(id.inode));
  WriteU32(data.data() + 8, static_cast<std::uint32_t>(id.inode >> 32));
  WriteU32(data.data() + 12, id.deviceMajor);
  WriteU32(data.data() + 16, id.deviceMinor);
  return data;
}

// The identity that the data area of the record in the first `size` bytes of `record` carries,
// or nullopt. DataOffset and DataLength are trusted only as far as they stay inside those bytes
// and the record's Length.
inline std::optional<FileIdentity> RecordFileIdentity(const std::uint8_t* record,
                                                      std::size_t size) {
  if (record == nullptr || size < kFixedRecordSize) return std::nullopt;
  std::size_t length = ReadU32(record + record_offset::kLength);
  if (length < kFixedRecordSize || length > size) length = size;
  const std::uint32_t offset = ReadU32(record + record_offset::kDataOffset);
  const std::uint32_t dataLength = ReadU32(record + record_offset::kDataLength);
  if (dataLength != kFileIdentityDataSize || offset < kFixedRecordSize || offset > length ||
      length - offset < kFileIdentityDataSize)
    return std::nullopt;
  const std::uint8_t* data = record + offset;
  for (std::size_t i = 0; i < 4; ++i)
    if (data[i] != kFileIdentityTag[i]) return std::nullopt;
  FileIdentity id;
  id.inode = ReadU32(data + 4) | static_cast<std::uint64_t>(ReadU32(data + 8)) << 32;
  id.deviceMajor = ReadU32(data + 12);
  id.deviceMinor = ReadU32(data + 16);
  return id;
}

}  // namespace qs::platform
