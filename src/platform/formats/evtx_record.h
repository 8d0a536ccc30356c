// Records of a Windows Vista-and-later event log (.evtx), as the parser hands them over, presented
// as event-log records in the form that an ANSI read returns them.
//
// No Windows since Vista writes event 560. Its successors are 4656 ("A handle to an object was
// requested") and 5145 (a file server's check of what an SMB client opens); their access lists use
// the same codes. A successful 4656 or 5145 becomes an event-560 record in the Windows 2000
// layout, so that the selection rule selects it unchanged; every other record keeps its own event
// ID and strings, so that it is counted and never selected.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/eventlog_record.h"

namespace qs::platform::evtx {

// The file header begins with "ElfFile" and a zero byte.
inline constexpr char kFileSignature[8] = {'E', 'l', 'f', 'F', 'i', 'l', 'e', '\0'};
bool BeginsAsEvtxHeader(const std::uint8_t* bytes, std::size_t size);

inline constexpr std::uint32_t kHandleRequestedEventId = 4656;
inline constexpr std::uint32_t kShareObjectCheckedEventId = 5145;
inline constexpr std::uint64_t kKeywordAuditSuccess = 0x0020000000000000;
inline constexpr std::uint64_t kKeywordAuditFailure = 0x0010000000000000;

// What the parser gives of one record.
struct EvtxRecordFacts {
  std::uint64_t identifier = 0;       // the event record identifier (EventRecordID)
  std::uint64_t writtenFiletime = 0;  // the event's time, 100 ns since 1601 UTC
  std::uint32_t eventId = 0;
  std::string computerName;
  std::string sourceName;
  std::optional<std::uint64_t> keywords;  // unknown when the record's XML gives none
  std::vector<std::string> strings;       // the event data, by index
  // The event data's field names, in the order of `strings`; unknown (nullopt) when the record's
  // XML does not name every field.
  std::optional<std::vector<std::string>> names;
};

// What the record's XML text tells beyond the strings: its keywords, its event record identifier,
// its time and the Name attribute of each
// <Data> element of its <EventData>. A Data element without a name, or an XML text without
// EventData, leaves the names unknown.
struct EvtxXmlFacts {
  std::optional<std::uint64_t> keywords;
  // The System's EventRecordID. A log saved from a filtered view numbers its records' headers
  // from 1 again, and only this keeps the number the event had.
  std::optional<std::uint64_t> eventRecordId;
  // The System's TimeCreated, as a FILETIME. The same log's record headers may hold other times:
  // in a log saved from a filtered view they are those of other records.
  std::optional<std::uint64_t> timeCreated;
  std::optional<std::vector<std::string>> names;
};
EvtxXmlFacts ReadXmlFacts(std::string_view xml);

// The facts of one event from its XML text alone, in the form that rendering an event as XML gives
// it (attributes in single or double quotes, with or without white space between the elements):
// the System's EventID, Keywords, EventRecordID, TimeCreated, Computer and Provider Name, and the
// values of the EventData's Data elements with their Name attributes. An event that carries
// UserData instead gives the texts of its innermost elements as its strings, unnamed. nullopt when
// the text is not well formed as far as this reading goes, or lacks the event ID, the record
// identifier or the time.
std::optional<EvtxRecordFacts> FactsFromXml(std::string_view xml);

// Seconds since 1970 UTC, whole seconds, held to what a record's u32 time can say.
std::uint32_t FiletimeToUnixSeconds(std::uint64_t filetime);

// The event-560 fields of a successful 4656 or 5145 whose named fields are all present and well
// formed; nullopt for every other record.
std::optional<EventRecordFields> ConvertToFileOpen(const EvtxRecordFacts& facts);

// The fields the record is presented with: converted, or its own.
EventRecordFields PresentedFields(const EvtxRecordFacts& facts);

// The live Security log of Windows Vista and later, read with ReadEventLog, holds the same events
// 4656 and 5145 as a record of the event-log layout, its strings in the order of the event's
// template and its outcome in the event type; the number of strings tells the template (4656 has
// one of 15 strings before Windows 8 and one of 17 since). `record` (the first `size` bytes of a
// read, its texts in UTF-8) becomes the event-560 record of the Windows 2000 layout when it is a
// successful 4656 or 5145 whose strings are all there and well formed; nullopt leaves the record
// as it was read.
std::optional<std::vector<std::uint8_t>> ConvertLiveRecord(const std::uint8_t* record,
                                                           std::size_t size);

}  // namespace qs::platform::evtx
