// Where the files and folders below the audited folders lie, by their identity (inode and
// device). A file server names many of the files it writes in ways the audit log cannot turn into
// a path: it reopens a file through /proc/self/fd/N, or names it relative to a folder it holds
// open, and the kernel then logs the CWD in place of that folder's name. What the log does give
// for certain is the inode and device of the file and of its folder; this index turns them back
// into paths.
//
// It learns from the events themselves (a file named NAME in folder F) and from walks of the
// audited folders, which read each folder's entries (readdir gives an entry's inode without a
// stat of it) and stat only the folders. Every path it gives is checked on the file system before
// it is trusted; a path that does not hold the identity any more, or none at all, costs one walk,
// at most once per pass, however many identities that pass misses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_identity.h"
#include "platform/formats/audit_record.h"

namespace qs::platform {

class FileIdentityIndex {
 public:
  // A walk stops adding once the index holds this many files and folders, so that a tree of
  // any size costs bounded memory (some 70 bytes each, names included).
  static constexpr std::size_t kMaxEntries = 1'000'000;
  // What the names learnt from the log may take before the index starts again from nothing: a
  // log of long names would otherwise grow it by every file written.
  static constexpr std::size_t kMaxNameBytes = 4 << 20;
  // How deep below an audited folder a walk goes.
  static constexpr std::size_t kMaxDepth = 64;

  // `roots`: the audited folders, absolute. Folders below another root are walked once.
  explicit FileIdentityIndex(std::vector<std::string> roots, std::size_t maxEntries = kMaxEntries);

  // What a modification tells of where its file lies: the file named by the last component of
  // its path in the folder of its PARENT item, and for a trusted path, that folder's path. Only
  // once the log has shown a name to resolve: a log that needs none costs nothing here.
  void Learn(const audit::FileModification& m);

  // The path of a modification whose name the log cannot be trusted for (NameBasis other than
  // Logged): `m.path` becomes the absolute path and `m.basis` Logged. A path that no longer
  // holds the file is still given (the best name known): the comment step finds it is not the
  // file; for a folder that is nowhere to be found, that is the log's own guess. False when no
  // path is known: a descriptor's file that is gone, whose name the index never learnt, or a
  // folder not found whose guessed path is another folder.
  bool Resolve(audit::FileModification& m);

  // A new pass begins: a miss may walk the folders again.
  void NewPass() { walkedThisPass_ = false; }

  const std::vector<std::string>& roots() const { return roots_; }
  std::size_t size() const { return entries_.size(); }
  std::size_t walks() const { return walks_; }
  // The memory the index holds (its tables and names), for the benchmarks.
  std::size_t MemoryBytes() const;

 private:
  static constexpr std::uint32_t kNoParent = 0xFFFFFFFFu;  // the name is an absolute path
  static constexpr std::uint32_t kUnknown = 0xFFFFFFFEu;   // a folder known only by identity

  struct Entry {
    FileIdentity id;
    std::uint32_t parent = kUnknown;
    std::uint32_t nameAt = 0;
    std::uint32_t nameSize = 0;
  };

  // The entry of `id`, made (unknown) when it has none; kUnknown when the index is full.
  std::uint32_t EntryOf(const FileIdentity& id);
  std::optional<std::uint32_t> Find(const FileIdentity& id) const;
  void Name(std::uint32_t entry, std::uint32_t parent, std::string_view name);
  // The path the index gives for `id`, unchecked.
  std::optional<std::string> PathOf(const FileIdentity& id) const;
  // One attempt at `m`'s path with what the index knows; `holds` tells whether the file system
  // confirms it.
  // A folder that the log names rightly is learnt on the way.
  std::optional<std::string> Attempt(const audit::FileModification& m, bool& holds);
  void Walk();
  void WalkFolder(int fd, std::uint32_t entry, std::uint64_t device, std::size_t depth);
  void Clear();
  void Grow();

  std::vector<std::string> roots_;
  std::size_t maxEntries_;
  std::vector<Entry> entries_;
  std::vector<std::uint32_t> slots_;  // open addressing: an entry's index + 1, 0 when empty
  std::string names_;
  bool walkedThisPass_ = false;
  bool learning_ = false;
  std::size_t learntNameBytes_ = 0;  // the names learnt from the log since the last walk
  std::size_t walks_ = 0;
};

}  // namespace qs::platform
