// Opening an NT event-log (.evt) file: the file is read whole and handed to the portable reader.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/eventlog_record.h"
#include "platform/formats/evt_log.h"
#include "platform/posix/log_source.h"

namespace qs::platform {

std::unique_ptr<LogSource> OpenEvtLog(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::vector<std::uint8_t> image;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<std::uint64_t>(st.st_size) >= kEvtHeaderSize + kEvtEofRecordSize &&
            static_cast<std::uint64_t>(st.st_size) <= 0xFFFFFFFFu;
  if (ok) {
    // Look at the header before reading a file that may be large and of another kind.
    std::uint8_t header[kEvtHeaderSize];
    ok = ::pread(fd, header, kEvtHeaderSize, 0) == static_cast<ssize_t>(kEvtHeaderSize) &&
         BeginsAsEvtHeader(header);
  }
  if (ok) {
    image.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < image.size()) {
      const ssize_t n =
          ::pread(fd, image.data() + got, image.size() - got, static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    image.resize(got);  // a file that shrank while being read is parsed as far as it goes
  }
  ::close(fd);
  if (!ok) return nullptr;
  return EvtLog::Parse(std::move(image));
}

}  // namespace qs::platform
