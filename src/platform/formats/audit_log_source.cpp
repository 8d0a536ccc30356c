#include "platform/formats/audit_log_source.h"

#include "platform/formats/audit_record.h"

namespace qs::platform {

void AuditLogSource::Add(audit::FileModification&& m) {
  if (m.rename) {
    // A rename changes no content: it stands for a save only when the same process wrote the
    // file it moves. A bare move (mv policy.txt other.txt) is no change of anybody's file.
    if (m.renamedFrom.empty()) return;
    const auto it = byWriter_.find(WriterKey(m, m.renamedFrom));
    if (it == byWriter_.end()) return;
    for (std::size_t index : it->second) dropped_[index] = true;
    byWriter_.erase(it);
  }
  byWriter_[WriterKey(m, m.path)].push_back(modifications_.size());
  modifications_.push_back(std::move(m));
  dropped_.push_back(false);
}

void AuditLogSource::Compact() {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < modifications_.size(); ++i) {
    if (dropped_[i]) continue;
    if (kept != i) modifications_[kept] = std::move(modifications_[i]);
    ++kept;
  }
  modifications_.resize(kept);
  dropped_.clear();
  byWriter_.clear();
}

const std::vector<std::uint8_t>& AuditLogSource::Record(std::size_t index) {
  const auto& m = modifications_.at(index);
  record_ = audit::BuildModificationRecord(m, audit::RecordComputerName(m.node, hostName_));
  return record_;
}

std::string AuditLogSource::WriterKey(const audit::FileModification& m, const std::string& path) {
  std::string key = m.node;
  key.push_back('\0');
  key += std::to_string(m.pid);
  key.push_back('\0');
  // A process keeps its session; a pid used again by a process of another session is another
  // writer.
  key += std::to_string(m.session);
  key.push_back('\0');
  key += path;
  return key;
}

}  // namespace qs::platform
