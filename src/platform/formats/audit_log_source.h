// A Linux audit log presented as a Security log: one record of event 560 for each file
// modification (what counts as one: platform/formats/audit_parser.h), oldest first. The
// modifications are handed in as the parser finds them; reading the log's files is the
// platform's part (OpenAuditLog).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/formats/audit_parser.h"
#include "platform/formats/log_source.h"

namespace qs::platform {

class AuditLogSource final : public LogSource {
 public:
  // hostName: the computer name of records whose modification names no node.
  explicit AuditLogSource(std::string hostName) : hostName_(std::move(hostName)) {}

  // A path of the longest kind (PATH_MAX) makes a record of some 4 KiB: the scan reads records
  // of any size, so none is left out.
  //
  // A program that saves by writing a temporary file and renaming it over the document shows as
  // writes of a name that no longer exists, then a rename. So the writes of a file that the same
  // process (node, pid and session) then renames away are left out, and the rename stands for
  // them. A rename of a file that the renaming process did not write is left out itself: moving
  // somebody else's file changes nothing in it.
  void Add(audit::FileModification&& m);

  // Once the whole log is read.
  void Compact();

  std::size_t RecordCount() const override { return modifications_.size(); }
  const std::vector<std::uint8_t>& Record(std::size_t index) override;

 private:
  static std::string WriterKey(const audit::FileModification& m, const std::string& path);

  std::string hostName_;
  std::vector<audit::FileModification> modifications_;
  std::vector<bool> dropped_;
  std::unordered_map<std::string, std::vector<std::size_t>> byWriter_;
  std::vector<std::uint8_t> record_;
};

}  // namespace qs::platform
