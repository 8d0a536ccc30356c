#include "platform/posix/streams_xattr.h"

#include <errno.h>

#include <algorithm>

namespace qs::platform {

namespace {

constexpr std::string_view kDataSuffix = ":$DATA";

// Splits "file:NAME:$DATA" (or "file:NAME") into file and NAME. File names may hold colons
// themselves, stream names may not.
bool SplitStreamPath(std::string_view streamPath, std::string& file, std::string& name) {
  if (streamPath.ends_with(kDataSuffix)) streamPath.remove_suffix(kDataSuffix.size());
  const std::size_t colon = streamPath.rfind(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == streamPath.size()) {
    return false;
  }
  file.assign(streamPath.substr(0, colon));
  name.assign(streamPath.substr(colon + 1));
  return name.find('/') == std::string::npos;
}

// What Samba stores: the stream's bytes and one 0x00. A value of odd length that ends in 0x00 is
// taken to be in that layout; any other value was put there by another tool and is taken whole.
std::string StreamContent(std::string value) {
  if (value.size() % 2 == 1 && value.back() == '\0') value.pop_back();
  return value;
}

}  // namespace

std::string StreamAttributeName(std::string_view name) {
  std::string attribute = "user.DosStream.";
  attribute.append(name);
  attribute.append(kDataSuffix);
  return attribute;
}

XattrStreamFiles::~XattrStreamFiles() {
  while (!open_.empty()) CloseStream(open_.begin()->first);
}

StreamHandle XattrStreamFiles::OpenStream(std::string_view streamPath, std::uint32_t mode,
                                          const std::optional<ExpectedFile>& expected) {
  std::string file;
  std::string name;
  if (!SplitStreamPath(streamPath, file, name)) return kInvalidStream;
  const bool writing = (mode & (kOpenWriteBit | kOpenReadWriteBit)) != 0;
  const int fd = files_->Open(file, writing ? FileAccess::Write : FileAccess::Read, expected);
  if (fd < 0) return errno == ESTALE ? kStreamNotTheFile : kInvalidStream;

  Open open;
  open.fd = fd;
  open.attribute = StreamAttributeName(name);
  open.writable = writing;
  bool ok = true;
  if (writing && (mode & kOpenCreateBit) != 0) {
    // The stream is empty from here on. A stream that exists keeps its stored value until the
    // first write replaces it whole (or the close empties it), so that a write the file system
    // refuses loses nothing and clients of the share never see it half done. Setting the value
    // finds out at once whether the file system takes user attributes at all.
    std::string value;
    if (io_.Get(fd, open.attribute, value)) {
      ok = io_.Set(fd, open.attribute, value);
      open.emptyOnClose = true;
    } else {
      ok = errno == ENODATA && Store(open, std::string());
    }
  } else {
    std::string value;
    ok = io_.Get(fd, open.attribute, value);
    if (ok) open.content = StreamContent(std::move(value));
  }
  if (!ok) {
    files_->Done(fd);
    return kInvalidStream;
  }
  if (next_ < 1) next_ = 1;  // after wrapping round
  while (open_.contains(next_)) ++next_;
  const StreamHandle handle = next_++;
  open_.emplace(handle, std::move(open));
  return handle;
}

std::int64_t XattrStreamFiles::GetStreamSize(StreamHandle handle) const {
  const Open* open = Find(handle);
  return open == nullptr ? -1 : static_cast<std::int64_t>(open->content.size());
}

std::int32_t XattrStreamFiles::ReadStream(StreamHandle handle, char* buffer, std::int32_t count) {
  Open* open = Find(handle);
  if (open == nullptr || count < 0 || (buffer == nullptr && count > 0)) return -1;
  const std::size_t available =
      open->position < open->content.size() ? open->content.size() - open->position : 0;
  const std::size_t n = std::min(available, static_cast<std::size_t>(count));
  std::copy_n(open->content.data() + open->position, n, buffer);
  open->position += n;
  return static_cast<std::int32_t>(n);
}

std::int32_t XattrStreamFiles::WriteStream(StreamHandle handle, const char* buffer,
                                           std::int32_t count) {
  Open* open = Find(handle);
  if (open == nullptr || !open->writable || count < 0 || (buffer == nullptr && count > 0)) {
    return -1;
  }
  // From the first write on, the stored value is what the writes made it: a refused write leaves
  // the value that was stored before it, the old stream included.
  open->emptyOnClose = false;
  std::string content = open->content;
  if (content.size() < open->position) content.resize(open->position, '\0');
  content.replace(open->position,
                  std::min(content.size() - open->position, static_cast<std::size_t>(count)),
                  buffer, static_cast<std::size_t>(count));
  if (!Store(*open, content)) return -1;
  open->position += static_cast<std::size_t>(count);
  return count;
}

void XattrStreamFiles::CloseStream(StreamHandle handle) {
  auto it = open_.find(handle);
  if (it == open_.end()) return;
  // Opened to empty the stream and never written.
  if (it->second.emptyOnClose) Store(it->second, std::string());
  files_->Done(it->second.fd);
  open_.erase(it);
}

void XattrStreamFiles::ReleaseFiles() { files_->Release(); }

void XattrStreamFiles::Yielded() { files_->Yielded(); }

XattrStreamFiles::Open* XattrStreamFiles::Find(StreamHandle handle) {
  auto it = open_.find(handle);
  return it == open_.end() ? nullptr : &it->second;
}

const XattrStreamFiles::Open* XattrStreamFiles::Find(StreamHandle handle) const {
  auto it = open_.find(handle);
  return it == open_.end() ? nullptr : &it->second;
}

bool XattrStreamFiles::Store(Open& open, const std::string& content) {
  std::string value = content;
  // Read back, Samba's layout of a stream of odd length is an even value, which is taken whole
  // (one byte longer). Such a stream, ending in a byte other than 0x00, is what a value that
  // another tool stored without the 0x00 reads as, so it is stored the same way and reads back
  // byte for byte. An odd stream that ends in 0x00 reads back in neither layout; it gets Samba's.
  if (content.size() % 2 == 0 || content.back() == '\0') value.push_back('\0');
  if (!io_.Set(open.fd, open.attribute, value)) return false;
  open.content = content;
  open.emptyOnClose = false;
  return true;
}

}  // namespace qs::platform
