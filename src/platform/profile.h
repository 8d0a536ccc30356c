// The settings-file service: reading and writing one key of an INI file, with the rules that the
// Windows profile functions keep, and a write that never leaves a damaged file behind.
//
// Reading rules:
// - The file is read as bytes, lines ending in CR LF, LF or CR alone. A UTF-8 byte-order mark at
//   the start is skipped; a file that starts with the UTF-16LE byte-order mark is read as that
//   text, in UTF-8. A file that cannot be read (missing, no permission, a folder) reads as empty,
//   and so does anything but a regular file: a FIFO or a device is never waited on.
// - A section header is a line whose first non-blank character is "[" and that holds a "]"; the
//   name is what stands between "[" and the last "]", without blanks around it. A line that
//   begins with "[" but holds no "]" is not a header.
// - A key is a line holding "=", inside a section: the name before the first "=", the value after
//   it, both without blanks (space, tab, CR, VT, FF) around them. A line without "=" is not a key,
//   nor is a line whose first non-blank character is ";" (a comment) or one with an empty name.
// - Section and key names match without regard to case (ASCII letters), and the names asked for
//   without blanks around them.
// - Only the first section of a given name counts, and in it the first key of a given name.
// - A value wrapped in a matching pair of double or single quotes loses them; an unbalanced quote
//   stays. A NUL byte ends the value. At most kMaxProfileValue characters of a value are read.
//
// Writing rules:
// - The key's value is replaced in its line (the text up to "=" and the line ending stay as they
//   were), or the key is added after the last key of its section, or the section and the key are
//   added at the end of the file, or the file is created. Every other byte stays as it was; added
//   lines take the line ending of the file's first line (LF for a new file, CR for a file whose
//   lines end in CR alone).
// - The new file is written to a temporary file in the same folder, flushed to disk and renamed
//   over the old one, so that a crash or a full disk leaves either the old file or the new one,
//   never a part of either. The replacement keeps the old file's owner and group (as far as the
//   caller may set them), its extended attributes, its access ACL and its mode. When the path is
//   a symbolic link its target is written and the link stays. A file with several hard links is
//   rewritten in place after the temporary file has been flushed, so that all its names keep
//   naming one file; such a write is not atomic against a crash.
// - Writers of the same file, in this program or another, take turns: each holds an exclusive
//   lock on the companion file "<file>.lock" from the read to the replacement, so that no write
//   is lost to another made in between. The companion file is removed by its holder. A write that
//   cannot have the lock within a few seconds fails.
// - The write fails, leaving the file untouched, when the file exists but cannot be read (its
//   unread content would be lost), when it is read-only (no owner write permission, the way the
//   read-only attribute is mapped on this platform, or no write access for the caller), when it is
//   not a regular file, when its folder cannot take the temporary file or the lock, when the
//   replacement cannot be given an attribute or the ACL of the old file, when the disk is full,
//   or when a name or value would break the line structure (a line break, a NUL, "=" or a
//   leading "[" or ";" in a key, "]" in a section name, an empty name). A file that starts with a
//   UTF-16 byte-order mark is not written either: adding single-byte lines to it would garble it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qs::platform {

// The most characters of a value that a read returns (a buffer of 255 with its terminating NUL).
inline constexpr std::size_t kMaxProfileValue = 254;

// The value of `key` in `section` of the file at `path`, or `defaultValue` when the file, the
// section or the key is missing; at most `maxLength` characters of either. Settings that hold
// paths pass a larger limit, since a cut path would name another file.
std::string ReadIniString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, const std::string& path,
                          std::size_t maxLength = kMaxProfileValue);

// The keys of the first section named `section`, in file order, each name once (its first key),
// with their values read by the rules above. Empty when the file or the section is missing.
std::vector<std::pair<std::string, std::string>> ReadIniSection(
    std::string_view section, const std::string& path, std::size_t maxLength = kMaxProfileValue);

// Called after the temporary file has been written and flushed, before it replaces the old file
// (or, for a file with several links, before its content is rewritten), with the lock held and
// with the temporary file's path. Returning false abandons the write as a failure would at that
// moment (the temporary file is removed, the old file stays). Lets tests interrupt a write.
using ProfileWriteHook = std::function<bool(const std::string& tempPath)>;

// Sets `key` of `section` to `value` in the file at `path`. Returns true when the new file is in
// place; callers that follow the program's rules do not examine the result.
bool WriteIniString(std::string_view section, std::string_view key, std::string_view value,
                    const std::string& path, const ProfileWriteHook& beforeReplace = {});

// The same rules on a file's content held in memory (the file functions above are built on
// them): the value of a key, and the content after a write, or nullopt when the write would be
// refused for its names, its value or the content's encoding.
std::string ProfileStringIn(std::string_view content, std::string_view section,
                            std::string_view key, std::string_view defaultValue,
                            std::size_t maxLength = kMaxProfileValue);
std::optional<std::string> ProfileWithKey(std::string_view content, std::string_view section,
                                          std::string_view key, std::string_view value);

}  // namespace qs::platform
