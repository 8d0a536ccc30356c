// Fuzz target: one record of a Vista-and-later log as libevtx hands it over, made from the input:
// zero-separated parts, the first the event ID in decimal, the second the computer name, the third
// the record's XML text, the rest its strings. The record is presented, its layout checked, and
// handed to the selection rule; so is the record that the XML text alone gives. Besides crashes and
// sanitizer reports it stops on a layout that the decoder could not rely on, and on a selected
// record that no successful 4656 or 5145 stands for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/eventlog_record.h"
#include "platform/formats/evtx_record.h"
#include "scan/record_decoder.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// The record presented for `facts` has a sound layout, and the selection rule selects it only when
// a successful 4656 or 5145, or an event 560, stands for it.
void CheckPresented(const qs::platform::evtx::EvtxRecordFacts& facts) {
  using qs::platform::ReadU16;
  using qs::platform::ReadU32;
  namespace at = qs::platform::record_offset;
  namespace evtx = qs::platform::evtx;
  const std::vector<std::uint8_t> r = qs::platform::BuildAnsiRecord(evtx::PresentedFields(facts));
  Check(r.size() >= qs::platform::kMinRecordSize && r.size() % 4 == 0);
  const std::uint8_t* p = r.data();
  Check(ReadU32(p + at::kLength) == r.size() && ReadU32(p + r.size() - 4) == r.size());
  std::size_t zeros = 0;
  for (std::size_t k = ReadU32(p + at::kStringOffset); k < ReadU32(p + at::kDataOffset); ++k)
    zeros += p[k] == 0;
  Check(zeros == ReadU16(p + at::kNumStrings));

  qs::TakenEvents newest;
  qs::CurrentEvent current;
  const auto outcome = qs::DecodeRecord(p, r.size(), newest, qs::SelectionContext{}, current);
  if (outcome != qs::DecodeOutcome::NotSelected) {
    // Only a successful 4656 or 5145 becomes a write, or an event that was 560 already.
    const bool successor = (facts.eventId == evtx::kHandleRequestedEventId ||
                            facts.eventId == evtx::kShareObjectCheckedEventId) &&
                           facts.keywords && (*facts.keywords & evtx::kKeywordAuditSuccess) != 0;
    Check(successor || facts.eventId == 560);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace evtx = qs::platform::evtx;

  std::vector<std::string> parts;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  for (std::size_t zero; (zero = input.find('\0')) != std::string_view::npos;) {
    parts.emplace_back(input.substr(0, zero));
    input.remove_prefix(zero + 1);
  }
  parts.emplace_back(input);
  if (parts.size() < 3) return 0;

  evtx::EvtxRecordFacts facts;
  for (char c : parts[0].substr(0, 9))
    if (c >= '0' && c <= '9')
      facts.eventId = facts.eventId * 10 + static_cast<std::uint32_t>(c - '0');
  facts.computerName = parts[1];
  const evtx::EvtxXmlFacts xml = evtx::ReadXmlFacts(parts[2]);
  facts.keywords = xml.keywords;
  facts.names = xml.names;
  if (xml.eventRecordId) facts.identifier = *xml.eventRecordId;
  if (xml.timeCreated) facts.writtenFiletime = *xml.timeCreated;
  facts.strings.assign(parts.begin() + 3, parts.end());

  CheckPresented(facts);
  // The same XML text read alone, as the Windows build reads each event of a log file.
  if (const auto rendered = evtx::FactsFromXml(parts[2])) CheckPresented(*rendered);
  return 0;
}
