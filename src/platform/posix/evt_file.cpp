// Opening an NT event-log (.evt) file: the portable reader walks it through a reader of the file,
// a piece at a time.
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

// An open file descriptor, shared by the log and its reader, closed with the last of them.
class OpenFile {
 public:
  explicit OpenFile(int fd) : fd_(fd) {}
  ~OpenFile() { ::close(fd_); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  // `length` bytes at `offset`, all of them, or false.
  bool ReadAt(std::size_t offset, std::size_t length, std::uint8_t* out) const {
    std::size_t got = 0;
    while (got < length) {
      const ssize_t n = ::pread(fd_, out + got, length - got, static_cast<off_t>(offset + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    return true;
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// The log of the file at `path`, read a piece at a time as the walk and the records need it (the
// file is never held whole: a log of gigabytes costs the positions of its records and a
// megabyte). The file stays open with the log, so that its records are read from the file that
// was walked. `changed` is set when the file's size or time stamp moved while the walk read it,
// or a read came short: the log was cut short or rewritten under the reader, and what was read is
// only a part of it. `afterRead` is called after each read of the file with the end of the bytes
// read.
std::unique_ptr<EvtLog> ReadEvtFile(const std::string& path, bool* changed = nullptr,
                                    const EvtReadHook& afterRead = {}) {
  if (changed) *changed = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  const auto file = std::make_shared<OpenFile>(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) < kEvtHeaderSize + kEvtEofRecordSize ||
      static_cast<std::uint64_t>(st.st_size) > 0xFFFFFFFFu) {
    return nullptr;
  }
  // Look at the header before walking a file that may be large and of another kind.
  std::uint8_t header[kEvtHeaderSize];
  if (!file->ReadAt(0, kEvtHeaderSize, header) || !BeginsAsEvtHeader(header)) return nullptr;
  std::unique_ptr<EvtLog> log =
      EvtLog::Open(static_cast<std::size_t>(st.st_size),
                   [file, afterRead](std::size_t offset, std::size_t length, std::uint8_t* out) {
                     const bool read = file->ReadAt(offset, length, out);
                     if (afterRead) afterRead(offset + length);
                     return read;
                   });
  if (!log) return nullptr;
  struct stat after {};
  if (changed) {
    *changed = log->ReadFailed() || ::fstat(fd, &after) != 0 || after.st_size != st.st_size ||
               after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
               after.st_mtim.tv_nsec != st.st_mtim.tv_nsec;
  }
  return log;
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

  // Also a record that could not be read during the pass: the file was cut short under it.
  bool ChangedWhileRead() const override { return changed_ || log_->ReadFailed(); }

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
    if (!ChangedWhileRead()) {
      if (now == stamp_ && Unchanged()) return true;
      // Records added behind the old ones: only they are read.
      if (now.size >= 0 && ReadOn(static_cast<std::size_t>(now.size))) {
        stamp_ = now;
        return true;
      }
    }
    // Read again, into the storage it had.
    bool changed = false;
    std::unique_ptr<EvtLog> log = ReadEvtFile(path_, &changed, afterPiece_);
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
    const std::vector<std::uint8_t>& header = log_->HeaderBytes();
    if (!StillHolds(path_, 0, header.data(), header.size())) return false;
    const EvtLogLayout& layout = log_->Layout();
    const std::vector<std::uint8_t>& eof = log_->EofBytes();
    if (layout.eofRecordFound && layout.eofOffset + eof.size() <= layout.fileSize) {
      return StillHolds(path_, layout.eofOffset, eof.data(), eof.size());
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
  std::unique_ptr<EvtLog> log = ReadEvtFile(path, &changed, afterPiece);
  if (!log) return nullptr;
  return std::make_unique<KeptEvtLog>(path, std::move(log), stamp, changed, std::move(afterPiece));
}

}  // namespace qs::platform
