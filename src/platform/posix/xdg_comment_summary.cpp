#include "platform/posix/xdg_comment_summary.h"

#include <errno.h>

#include "platform/utf.h"

namespace qs::platform {

namespace {
constexpr std::int32_t kStatusOpen = 1;
constexpr std::int32_t kAccessMask = 0x3;  // 0 read, 1 write, 2 read/write
}  // namespace

XdgCommentSummary::~XdgCommentSummary() { Release(); }

void XdgCommentSummary::Release() {
  files_->Done(fd_);
  fd_ = -1;
  writable_ = false;
  pending_.clear();
  changed_ = false;
}

std::int32_t XdgCommentSummary::OpenSummary(std::u16string_view path, std::int32_t mode,
                                            const std::optional<ExpectedFile>& expected) {
  Release();
  status_ = kSummaryNotOpened;
  const bool writing = (mode & kAccessMask) != 0;
  // The name's bytes, whether or not they are UTF-8 (see Utf16ToUtf8Lossless).
  const std::string local = Utf16ToUtf8Lossless(path);
  fd_ = files_->Open(local, writing ? FileAccess::Write : FileAccess::Read, expected);
  if (fd_ < 0) return errno == ESTALE ? kSummaryNotTheFile : kSummaryFailed;
  writable_ = writing;
  status_ = kStatusOpen;
  return kSummaryOk;
}

std::int32_t XdgCommentSummary::GetOpenStatus(std::int32_t& status) {
  status = status_;
  return kSummaryOk;
}

std::int32_t XdgCommentSummary::GetComments(std::u16string& text) {
  text.clear();
  if (fd_ < 0) return kSummaryFailed;
  std::string value;
  if (!io_.Get(fd_, kXdgCommentAttribute, value)) {
    return errno == ENODATA ? kSummaryOk : kSummaryFailed;
  }
  // Bytes that are not UTF-8 (another tool's, Latin-1 say) are carried through the comment logic
  // and stored again as they are: the program never replaces a comment it cannot read.
  text = Utf8ToUtf16Lossless(value);
  return kSummaryOk;
}

std::int32_t XdgCommentSummary::SetComments(std::u16string_view text) {
  if (fd_ < 0 || !writable_) return kSummaryFailed;
  pending_ = Utf16ToUtf8Lossless(text);
  changed_ = true;
  return kSummaryOk;
}

std::int32_t XdgCommentSummary::SaveSummary() {
  if (fd_ < 0 || !writable_) return kSummaryFailed;
  if (!changed_) return kSummaryOk;
  // One call: a value the file system refuses (E2BIG, ENOSPC, EOPNOTSUPP) leaves the old one.
  if (!io_.Set(fd_, kXdgCommentAttribute, pending_)) return kSummaryFailed;
  changed_ = false;
  return kSummaryOk;
}

std::int32_t XdgCommentSummary::CloseSummary() {
  const bool wasOpen = fd_ >= 0;
  Release();
  status_ = 0;
  return wasOpen ? kSummaryOk : kSummaryFailed;
}

}  // namespace qs::platform
