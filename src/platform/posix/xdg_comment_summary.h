// The summary property component of this platform: a file's Comments text is its extended
// attribute "user.xdg.comment", UTF-8 without a terminator, the freedesktop.org convention that
// file managers show as the file's comment. Paths and texts cross the UTF-16 interface in the
// lossless form of platform/utf.h: a file name or a stored comment that is not UTF-8 keeps its
// bytes.
#pragma once

#include <memory>
#include <string>

#include "platform/posix/xattr.h"
#include "platform/summary_properties.h"

namespace qs::platform {

inline constexpr const char* kXdgCommentAttribute = "user.xdg.comment";

class XdgCommentSummary final : public SummaryPropertyComponent {
 public:
  // files: the opens, shared with the stream service of the run, which is told of the yields and
  // of the end of each file's comments (see AttributeFiles). Without it, nothing is held.
  explicit XdgCommentSummary(XattrIo& io = SystemXattrIo(),
                             std::shared_ptr<AttributeFiles> files = nullptr)
      : io_(io), files_(files ? std::move(files) : std::make_shared<AttributeFiles>(false)) {}
  ~XdgCommentSummary() override;
  XdgCommentSummary(const XdgCommentSummary&) = delete;
  XdgCommentSummary& operator=(const XdgCommentSummary&) = delete;

  std::int32_t SetComments(std::u16string_view text) override;
  std::int32_t GetComments(std::u16string& text) override;
  std::int32_t SaveSummary() override;
  std::int32_t GetOpenStatus(std::int32_t& status) override;
  // The path is a local path. A mode with write access gives a usable status only for an
  // existing regular file that the program may write (owner write bit set and access(W_OK));
  // a symbolic link is followed only when root or the program's own user owns it.
  using SummaryPropertyComponent::OpenSummary;
  std::int32_t OpenSummary(std::u16string_view path, std::int32_t mode,
                           const std::optional<ExpectedFile>& expected) override;
  std::int32_t CloseSummary() override;

 private:
  void Release();

  XattrIo& io_;
  std::shared_ptr<AttributeFiles> files_;
  int fd_ = -1;
  bool writable_ = false;
  std::int32_t status_ = 0;
  std::string pending_;  // UTF-8 text given by SetComments
  bool changed_ = false;
};

}  // namespace qs::platform
