// The summary-property service: the component that opens a file's summary properties, one file
// at a time, and reads, writes and saves their Comments entry. Texts are UTF-16, the unit of the
// comment logic. Every operation returns a 32-bit result code, negative on failure. NTFS keeps
// the properties in the file's property sets; the POSIX implementation
// (posix/xdg_comment_summary.h) in the freedesktop comment attribute.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_identity.h"

namespace qs::platform {

// The status of an open that gave no usable summary (besides 0).
inline constexpr std::int32_t kSummaryNotOpened = static_cast<std::int32_t>(0x8004791BU);
// Read/write access with exclusive sharing: the mode the comment writers open with.
inline constexpr std::int32_t kSummaryReadWriteExclusive = 18;

inline constexpr std::int32_t kSummaryOk = 0;
inline constexpr std::int32_t kSummaryFailed = static_cast<std::int32_t>(0x80004005U);
// What OpenSummary gives when the file at the path is not the expected one (nothing opened).
inline constexpr std::int32_t kSummaryNotTheFile = static_cast<std::int32_t>(0x80070020U);

inline bool SummaryUsable(std::int32_t status) {
  return status != 0 && status != kSummaryNotOpened;
}

class SummaryPropertyComponent {
 public:
  virtual ~SummaryPropertyComponent() = default;
  // Replaces the Comments text of the open summary (stored by SaveSummary).
  virtual std::int32_t SetComments(std::u16string_view text) = 0;
  // The Comments text of the open summary, empty when it has none.
  virtual std::int32_t GetComments(std::u16string& text) = 0;
  // Stores the changed summary into the file.
  virtual std::int32_t SaveSummary() = 0;
  // 0 or kSummaryNotOpened: the last open gave no usable summary; anything else: it is open.
  virtual std::int32_t GetOpenStatus(std::int32_t& status) = 0;
  // Opens the summary of the file at `path`; takes over from an earlier open never closed. A
  // platform whose names are bytes takes a name that is not UTF-8 in the lossless form of
  // platform/utf.h. With `expected`, the file opened must be that file (IsExpectedFile), checked
  // on the file opened itself; else nothing is opened and the result is kSummaryNotTheFile.
  virtual std::int32_t OpenSummary(std::u16string_view path, std::int32_t mode,
                                   const std::optional<ExpectedFile>& expected) = 0;
  // Any file at the path.
  std::int32_t OpenSummary(std::u16string_view path, std::int32_t mode) {
    return OpenSummary(path, mode, std::nullopt);
  }
  // Releases the file.
  virtual std::int32_t CloseSummary() = 0;
};

// Makes the component; may return null when it cannot be created. A component that needs the
// system to load something is thus created on first use, not at start-up.
using SummaryFactory = std::function<std::unique_ptr<SummaryPropertyComponent>()>;

}  // namespace qs::platform
