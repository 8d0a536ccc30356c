// The named-stream service of this platform. A stream is kept where a Samba file server with
// vfs_streams_xattr keeps it, so that Windows and Macintosh clients of the share see it as the
// file's stream: the stream "NAME" of a file is its extended attribute
// "user.DosStream.NAME:$DATA", holding the stream's bytes followed by one 0x00 byte. A stream of
// odd length that does not end in 0x00 is the exception: it is kept as another tool left it,
// without the 0x00 (see StreamContent), and reads back as it was written.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/posix/xattr.h"
#include "platform/streams.h"

namespace qs::platform {

// The attribute that holds the stream `name` ("Comments").
std::string StreamAttributeName(std::string_view name);

class XattrStreamFiles final : public StreamService {
 public:
  // files: the opens, shared with the summary component of the run so that the two comments of
  // an event look their file up once.
  explicit XattrStreamFiles(XattrIo& io = SystemXattrIo(),
                            std::shared_ptr<AttributeFiles> files = nullptr)
      : io_(io), files_(files ? std::move(files) : std::make_shared<AttributeFiles>()) {}
  ~XattrStreamFiles() override;
  XattrStreamFiles(const XattrStreamFiles&) = delete;
  XattrStreamFiles& operator=(const XattrStreamFiles&) = delete;

  // Writing also fails on a file system that refuses user attributes. With kOpenCreateBit an
  // existing stream keeps its stored value until the first write replaces it whole, or the close
  // empties it. Links are followed only when trusted (see OpenFileForAttributes).
  using StreamService::OpenStream;
  StreamHandle OpenStream(std::string_view streamPath, std::uint32_t mode,
                          const std::optional<ExpectedFile>& expected) override;
  std::int64_t GetStreamSize(StreamHandle handle) const override;
  std::int32_t ReadStream(StreamHandle handle, char* buffer, std::int32_t count) override;
  // The stream is stored whole on every write, so a write that the file system refuses (E2BIG,
  // ENOSPC) leaves the stored stream as it was before that call (the old stream, when it is the
  // first write since the open) and returns -1.
  std::int32_t WriteStream(StreamHandle handle, const char* buffer, std::int32_t count) override;
  void CloseStream(StreamHandle handle) override;
  void ReleaseFiles() override;
  void Yielded() override;

 private:
  struct Open {
    int fd = -1;
    std::string attribute;
    std::string content;  // the stream's bytes, without the stored 0x00
    std::size_t position = 0;
    bool writable = false;
    bool emptyOnClose = false;  // emptied by the open, old value still stored
  };
  Open* Find(StreamHandle handle);
  const Open* Find(StreamHandle handle) const;
  bool Store(Open& open, const std::string& content);

  XattrIo& io_;
  std::shared_ptr<AttributeFiles> files_;
  std::map<StreamHandle, Open> open_;
  StreamHandle next_ = 1;
};

}  // namespace qs::platform
