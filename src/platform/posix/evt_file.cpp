// Opening an NT event-log (.evt) file: the file is read whole and handed to the portable reader.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/eventlog_record.h"
#include "platform/formats/evt_log.h"
#include "platform/posix/file_stamp.h"
#include "platform/posix/log_source.h"

namespace qs::platform {

namespace {

// The whole file is read in pieces of this size, each followed by the read hook.
constexpr std::size_t kReadPiece = 1 << 20;

// `image`: storage to read the file into. The storage of an earlier image of the same log is read
// over rather than given back: fresh memory costs a page fault for every page of it, which for a
// log of some tens of megabytes takes longer than reading the file. `changed` is set when the
// file's size or time stamp moved while it was read, or it ended before the size it had: the log
// was cut short or rewritten under the reader, and what was read is only a part of it.
std::unique_ptr<EvtLog> ReadEvtFile(const std::string& path, std::vector<std::uint8_t> image = {},
                                    bool* changed = nullptr, const EvtReadHook& afterPiece = {}) {
  if (changed) *changed = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
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
    // Room for the log to grow by an eighth before its storage must move.
    const auto size = static_cast<std::size_t>(st.st_size);
    if (image.capacity() < size) {
      std::vector<std::uint8_t>().swap(image);
      image.reserve(size + size / 8);
    }
    image.resize(size);
    std::size_t got = 0;
    while (got < image.size()) {
      const std::size_t piece = std::min(image.size() - got, kReadPiece);
      const ssize_t n = ::pread(fd, image.data() + got, piece, static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
      if (afterPiece) afterPiece(got);
    }
    struct stat after {};
    const bool moved = got != size || ::fstat(fd, &after) != 0 || after.st_size != st.st_size ||
                       after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
                       after.st_mtim.tv_nsec != st.st_mtim.tv_nsec;
    if (changed) *changed = moved;
    image.resize(got);  // a file that shrank while being read is parsed as far as it goes
  }
  ::close(fd);
  if (!ok) return nullptr;
  return EvtLog::Parse(std::move(image));
}

}  // namespace

std::unique_ptr<LogSource> OpenEvtLog(const std::string& path) { return ReadEvtFile(path); }

}  // namespace qs::platform

namespace qs::platform {

namespace {

// Whether the file still holds `expected` at `offset`.
bool StillHolds(const std::string& path, std::size_t offset, const std::uint8_t* expected,
                std::size_t length) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<std::uint8_t> bytes(length);
  const bool same = ::pread(fd, bytes.data(), length, static_cast<off_t>(offset)) ==
                        static_cast<ssize_t>(length) &&
                    std::equal(bytes.begin(), bytes.end(), expected);
  ::close(fd);
  return same;
}

// An .evt log kept from pass to pass. The event-log service rewrites the header and the EOF record
// behind every record it adds, so a file whose stamp, header and EOF record are as they were holds
// the records it held; any other change has it read anew.
class KeptEvtLog final : public KeptLog {
 public:
  KeptEvtLog(std::string path, std::unique_ptr<EvtLog> log, const FileStamp& stamp, bool changed,
             EvtReadHook afterPiece)
      : path_(std::move(path)),
        log_(std::move(log)),
        stamp_(stamp),
        changed_(changed),
        afterPiece_(std::move(afterPiece)) {}

  bool ChangedWhileRead() const override { return changed_; }

  std::size_t RecordCount() const override { return log_->RecordCount(); }
  const std::vector<std::uint8_t>& Record(std::size_t index) override {
    return log_->Record(index);
  }
  std::uint32_t RecordNumber(std::size_t index) override { return log_->RecordNumber(index); }

  bool Update() override {
    FileStamp now;
    if (!FileStamp::Of(path_, now)) return false;
    // A log that changed while it was read is read whole again: what was read of it may end
    // anywhere, and its stamp may have come back to the one taken before the read.
    if (!changed_) {
      if (now == stamp_ && Unchanged()) return true;
      // Records added behind the old ones: only they are read.
      if (now.size >= 0 && ReadOn(static_cast<std::size_t>(now.size))) {
        stamp_ = now;
        return true;
      }
    }
    // Read again, into the storage it had.
    bool changed = false;
    std::unique_ptr<EvtLog> log = ReadEvtFile(path_, log_->TakeImage(), &changed, afterPiece_);
    if (!log) return false;
    log_ = std::move(log);
    stamp_ = now;
    changed_ = changed;
    return true;
  }

 private:
  bool ReadOn(std::size_t size) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool done =
        log_->ReadOn(size, [fd](std::size_t offset, std::size_t length, std::uint8_t* out) {
          std::size_t got = 0;
          while (got < length) {
            const ssize_t n =
                ::pread(fd, out + got, length - got, static_cast<off_t>(offset + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            got += static_cast<std::size_t>(n);
          }
          return true;
        });
    ::close(fd);
    return done;
  }

  bool Unchanged() const {
    const std::vector<std::uint8_t>& image = log_->Image();
    if (!StillHolds(path_, 0, image.data(), kEvtHeaderSize)) return false;
    const EvtLogLayout& layout = log_->Layout();
    if (layout.eofRecordFound && layout.eofOffset + kEvtEofRecordSize <= image.size()) {
      return StillHolds(path_, layout.eofOffset, image.data() + layout.eofOffset,
                        kEvtEofRecordSize);
    }
    return true;
  }

  std::string path_;
  std::unique_ptr<EvtLog> log_;
  FileStamp stamp_;
  bool changed_ = false;
  EvtReadHook afterPiece_;
};

}  // namespace

std::unique_ptr<KeptLog> KeepEvtLog(const std::string& path) { return KeepEvtLog(path, {}); }

std::unique_ptr<KeptLog> KeepEvtLog(const std::string& path, EvtReadHook afterPiece) {
  // The stamp is taken before the bytes are read: a change while they are read shows at the next
  // Update.
  FileStamp stamp;
  if (!FileStamp::Of(path, stamp)) return nullptr;
  bool changed = false;
  std::unique_ptr<EvtLog> log = ReadEvtFile(path, {}, &changed, afterPiece);
  if (!log) return nullptr;
  return std::make_unique<KeptEvtLog>(path, std::move(log), stamp, changed, std::move(afterPiece));
}

}  // namespace qs::platform
