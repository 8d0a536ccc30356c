#include "platform/posix/file_identity_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/formats/audit_paths.h"

namespace qs::platform {

namespace {

FileIdentity IdentityOf(dev_t device, ino_t inode) {
  return FileIdentity{static_cast<std::uint64_t>(inode), major(device), minor(device)};
}

std::uint64_t HashOf(const FileIdentity& id) {
  std::uint64_t h = id.inode * 0x9e3779b97f4a7c15u;
  h ^= (static_cast<std::uint64_t>(id.deviceMajor) << 32 | id.deviceMinor) + (h << 6) + (h >> 2);
  return h ^ (h >> 29);
}

// Whether the name at `path` (not followed, if a link) is the file or folder `id`.
bool Holds(const std::string& path, const FileIdentity& id) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && IdentityOf(st.st_dev, st.st_ino) == id;
}

// Whether `path` lies in or below `folder` (both normalised).
bool IsWithin(const std::string& path, const std::string& folder) {
  if (folder == "/") return true;
  return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

// A name that can stand for an entry in its folder.
bool IsEntryName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

}  // namespace

FileIdentityIndex::FileIdentityIndex(std::vector<std::string> roots, std::size_t maxEntries)
    : maxEntries_(std::min<std::size_t>(maxEntries, kUnknown - 1)) {
  for (std::string& root : roots) {
    if (root.empty() || root.front() != '/') continue;
    root = audit::NormalizePath(root);
  }
  std::sort(roots.begin(), roots.end());
  for (std::string& root : roots) {
    if (root.empty() || root.front() != '/') continue;
    // Sorted, a folder comes before those below it.
    if (std::any_of(roots_.begin(), roots_.end(),
                    [&](const std::string& kept) { return IsWithin(root, kept); }))
      continue;
    roots_.push_back(std::move(root));
  }
}

std::size_t FileIdentityIndex::MemoryBytes() const {
  return entries_.capacity() * sizeof(Entry) + slots_.capacity() * sizeof(std::uint32_t) +
         names_.capacity();
}

std::optional<std::uint32_t> FileIdentityIndex::Find(const FileIdentity& id) const {
  if (slots_.empty()) return std::nullopt;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = HashOf(id) & mask;; i = (i + 1) & mask) {
    const std::uint32_t s = slots_[i];
    if (s == 0) return std::nullopt;
    if (entries_[s - 1].id == id) return s - 1;
  }
}

void FileIdentityIndex::Grow() {
  slots_.assign(slots_.empty() ? 1024 : slots_.size() * 2, 0);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t e = 0; e < entries_.size(); ++e) {
    std::size_t i = HashOf(entries_[e].id) & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = static_cast<std::uint32_t>(e + 1);
  }
}

std::uint32_t FileIdentityIndex::EntryOf(const FileIdentity& id) {
  if (const auto found = Find(id)) return *found;
  if (entries_.size() >= maxEntries_) return kUnknown;
  if (2 * (entries_.size() + 1) > slots_.size()) Grow();
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = HashOf(id) & mask;
  while (slots_[i] != 0) i = (i + 1) & mask;
  entries_.push_back(Entry{id, kUnknown, 0, 0});
  slots_[i] = static_cast<std::uint32_t>(entries_.size());
  return static_cast<std::uint32_t>(entries_.size() - 1);
}

void FileIdentityIndex::Name(std::uint32_t entry, std::uint32_t parent, std::string_view name) {
  Entry& e = entries_[entry];
  // The same name again (a walk over what an event taught, a file written twice) costs nothing.
  if (e.parent == parent && std::string_view(names_).substr(e.nameAt, e.nameSize) == name) return;
  e.parent = parent;
  e.nameAt = static_cast<std::uint32_t>(names_.size());
  e.nameSize = static_cast<std::uint32_t>(name.size());
  names_.append(name);
}

void FileIdentityIndex::Clear() {
  entries_.clear();
  slots_.clear();
  names_.clear();
  learntNameBytes_ = 0;
}

void FileIdentityIndex::Learn(const audit::FileModification& m) {
  if (!learning_ || !m.identity || !m.folderIdentity || m.basis == audit::NameBasis::Descriptor)
    return;
  const std::string leaf = audit::LastComponent(m.path);
  if (!IsEntryName(leaf)) return;
  // Names grow with every file written; the index starts again rather than grow (the next miss
  // walks the folders).
  if (learntNameBytes_ > kMaxNameBytes) Clear();
  const std::uint32_t folder = EntryOf(*m.folderIdentity);
  if (folder == kUnknown) return;
  if (m.basis == audit::NameBasis::Logged && entries_[folder].parent == kUnknown) {
    const std::size_t slash = m.path.rfind('/');
    if (slash != std::string::npos)
      Name(folder, kNoParent,
           slash == 0 ? std::string_view("/") : std::string_view(m.path).substr(0, slash));
  }
  const std::uint32_t file = EntryOf(*m.identity);
  if (file == kUnknown || file == folder) return;
  const std::size_t before = names_.size();
  Name(file, folder, leaf);
  learntNameBytes_ += names_.size() - before;
}

std::optional<std::string> FileIdentityIndex::PathOf(const FileIdentity& id) const {
  std::optional<std::uint32_t> at = Find(id);
  if (!at) return std::nullopt;
  std::vector<std::string_view> parts;
  // A chain longer than any walk makes is one that stale names closed into a loop.
  for (std::size_t depth = 0; depth <= kMaxDepth + 1; ++depth) {
    const Entry& e = entries_[*at];
    const std::string_view name = std::string_view(names_).substr(e.nameAt, e.nameSize);
    if (e.parent == kUnknown) return std::nullopt;
    if (e.parent == kNoParent) {
      std::string path(name);
      for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        if (path.back() != '/') path.push_back('/');
        path.append(*it);
      }
      return path;
    }
    parts.push_back(name);
    at = e.parent;
  }
  return std::nullopt;
}

std::optional<std::string> FileIdentityIndex::Attempt(const audit::FileModification& m,
                                                      bool& holds) {
  holds = false;
  if (m.basis == audit::NameBasis::Descriptor) {
    if (!m.identity) return std::nullopt;
    auto path = PathOf(*m.identity);
    if (path) holds = Holds(*path, *m.identity);
    return path;
  }
  if (m.basis != audit::NameBasis::Folder || !m.folderIdentity) return std::nullopt;
  const std::string leaf = audit::LastComponent(m.path);
  if (!IsEntryName(leaf)) return std::nullopt;
  // The log's guess at the folder (the CWD) is right when the folder it names is that folder.
  const std::size_t slash = m.path.rfind('/');
  if (m.path.front() == '/' && slash != std::string::npos) {
    const std::string folder = slash == 0 ? "/" : m.path.substr(0, slash);
    if (Holds(folder, *m.folderIdentity)) {
      // Known now, the folder's path serves the files that are later named only by identity.
      const std::uint32_t entry = EntryOf(*m.folderIdentity);
      if (entry != kUnknown && entries_[entry].parent == kUnknown) Name(entry, kNoParent, folder);
      holds = true;
      return m.path;
    }
  }
  auto folder = PathOf(*m.folderIdentity);
  if (!folder) return std::nullopt;
  holds = Holds(*folder, *m.folderIdentity);
  if (folder->back() != '/') folder->push_back('/');
  return *folder + leaf;
}

bool FileIdentityIndex::Resolve(audit::FileModification& m) {
  if (m.basis == audit::NameBasis::Logged) return true;
  learning_ = true;
  bool holds = false;
  std::optional<std::string> path = Attempt(m, holds);
  if (!holds && !walkedThisPass_) {
    Walk();
    bool holdsNow = false;
    if (auto walked = Attempt(m, holdsNow); walked) {
      path = std::move(walked);
      holds = holdsNow;
    }
  }
  if (!path) {
    // A folder that can no longer be found (removed, or moved out of the audited folders): the
    // log's own guess is the best name known while nothing shows it wrong; the comment step finds
    // that it does not hold the file. A guess whose folder is another folder names another file,
    // and a descriptor's link no file at all: such a modification is not listed.
    if (m.basis != audit::NameBasis::Folder || m.path.front() != '/') return false;
    const std::size_t slash = m.path.rfind('/');
    struct stat st {};
    if (::lstat(slash == 0 ? "/" : m.path.substr(0, slash).c_str(), &st) == 0) return false;
    path = m.path;
  }
  m.path = audit::NormalizePath(*path);
  m.basis = audit::NameBasis::Logged;
  // The file just placed may be named next only through a descriptor (a save over it).
  if (holds) Learn(m);
  return true;
}

void FileIdentityIndex::Walk() {
  walkedThisPass_ = true;
  ++walks_;
  // Room for a whole tree again, and the names of renamed and deleted files let go.
  if (entries_.size() >= maxEntries_ / 2 || names_.size() > 4 * kMaxNameBytes) Clear();
  learntNameBytes_ = 0;
  for (const std::string& root : roots_) {
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      ::close(fd);
      continue;
    }
    const std::uint32_t entry = EntryOf(IdentityOf(st.st_dev, st.st_ino));
    if (entry == kUnknown) {
      ::close(fd);
      return;
    }
    Name(entry, kNoParent, root);
    WalkFolder(fd, entry, static_cast<std::uint64_t>(st.st_dev), 0);  // closes fd
  }
}

void FileIdentityIndex::WalkFolder(int fd, std::uint32_t entry, std::uint64_t device,
                                   std::size_t depth) {
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return;
  }
  const dev_t dev = static_cast<dev_t>(device);
  while (const dirent* d = ::readdir(dir)) {
    const std::string_view name(d->d_name);
    if (name == "." || name == "..") continue;
    unsigned char type = d->d_type;
    if (type == DT_UNKNOWN) {  // file systems that do not fill in d_type
      struct stat st {};
      if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    if (type == DT_REG) {
      const std::uint32_t file = EntryOf(IdentityOf(dev, d->d_ino));
      if (file == kUnknown) break;  // full
      Name(file, entry, name);
    } else if (type == DT_DIR && depth + 1 < kMaxDepth) {
      // A folder's own identity comes from the folder opened: below a mount point, d_ino is
      // the inode it covers.
      const int sub = ::openat(::dirfd(dir), d->d_name,
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
      if (sub < 0) continue;
      struct stat st {};
      if (::fstat(sub, &st) != 0) {
        ::close(sub);
        continue;
      }
      const std::uint32_t folder = EntryOf(IdentityOf(st.st_dev, st.st_ino));
      if (folder == kUnknown) {
        ::close(sub);
        break;
      }
      Name(folder, entry, name);
      WalkFolder(sub, folder, static_cast<std::uint64_t>(st.st_dev), depth + 1);
    }
  }
  ::closedir(dir);
}

}  // namespace qs::platform
