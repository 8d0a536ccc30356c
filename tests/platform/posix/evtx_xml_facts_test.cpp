// The facts of an event read from its XML text alone, as the Windows build reads every event of an
// .evtx file, against what the Linux build reads through libevtx's record calls: for every record
// of the real logs, the XML that libevtx renders must give the very record that the libevtx reader
// presents, string by string.
#include <gtest/gtest.h>
#include <libevtx.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/eventlog_record.h"
#include "platform/formats/evtx_record.h"
#include "platform/posix/log_source.h"
#include "support/ansi_record.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

using namespace qs::platform;

// The XML text of every record of the file, in record order, as libevtx renders it.
std::vector<std::string> RenderedXml(const std::string& path) {
  std::vector<std::string> texts;
  libevtx_file_t* file = nullptr;
  if (libevtx_file_initialize(&file, nullptr) != 1) {
    ADD_FAILURE() << "libevtx_file_initialize";
    return texts;
  }
  if (libevtx_file_open(file, path.c_str(), libevtx_get_access_flags_read(), nullptr) != 1) {
    ADD_FAILURE() << "libevtx cannot open " << path;
    libevtx_file_free(&file, nullptr);
    return texts;
  }
  int count = 0;
  EXPECT_EQ(libevtx_file_get_number_of_records(file, &count, nullptr), 1);
  for (int i = 0; i < count; ++i) {
    libevtx_record_t* record = nullptr;
    if (libevtx_file_get_record_by_index(file, i, &record, nullptr) != 1) {
      ADD_FAILURE() << "record " << i;
      break;
    }
    std::size_t size = 0;
    std::string text;
    if (libevtx_record_get_utf8_xml_string_size(record, &size, nullptr) == 1 && size > 0) {
      std::vector<std::uint8_t> buffer(size);
      if (libevtx_record_get_utf8_xml_string(record, buffer.data(), size, nullptr) == 1)
        text.assign(buffer.begin(), std::find(buffer.begin(), buffer.end(), std::uint8_t{0}));
    }
    EXPECT_FALSE(text.empty()) << "record " << i;
    texts.push_back(std::move(text));
    libevtx_record_free(&record, nullptr);
  }
  libevtx_file_close(file, nullptr);
  libevtx_file_free(&file, nullptr);
  return texts;
}

struct LogCase {
  const char* file;
  // The records that become event 560: without the names of their strings, from either side, none
  // would, and both sides would still agree.
  std::size_t converted;
};

void PrintTo(const LogCase& c, std::ostream* out) { *out << c.file; }

class EvtxXmlAgainstLibevtx : public testing::TestWithParam<LogCase> {};

TEST_P(EvtxXmlAgainstLibevtx, EveryRecordPresentsAsTheLibevtxReaderPresentsIt) {
  const std::string path = FixturePath(std::string("evtx/") + GetParam().file);
  const std::unique_ptr<LogSource> log = OpenEvtxLog(path);
  ASSERT_NE(log, nullptr) << path;
  const std::vector<std::string> xml = RenderedXml(path);
  ASSERT_EQ(xml.size(), log->RecordCount());
  ASSERT_GT(xml.size(), 0u);
  std::size_t converted = 0;
  for (std::size_t i = 0; i < xml.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    const auto facts = evtx::FactsFromXml(xml[i]);
    ASSERT_TRUE(facts.has_value()) << xml[i];
    const std::vector<std::uint8_t> fromXml = BuildAnsiRecord(evtx::PresentedFields(*facts));
    const std::vector<std::uint8_t>& fromLibevtx = log->Record(i);
    const AnsiRecord a = ParseAnsiRecord(fromXml);
    const AnsiRecord b = ParseAnsiRecord(fromLibevtx);
    EXPECT_EQ(a.recordNumber, b.recordNumber);
    EXPECT_EQ(a.timeWritten, b.timeWritten);
    EXPECT_EQ(a.eventId, b.eventId);
    EXPECT_EQ(a.eventType, b.eventType);
    EXPECT_EQ(a.sourceName, b.sourceName);
    EXPECT_EQ(a.computerName, b.computerName);
    ASSERT_EQ(a.strings.size(), b.strings.size());
    for (std::size_t k = 0; k < a.strings.size(); ++k)
      EXPECT_EQ(a.strings[k], b.strings[k]) << "string " << k;
    // Whatever the fields above miss, the records are the same bytes.
    EXPECT_TRUE(fromXml == fromLibevtx);
    converted += a.eventId == 560;
  }
  EXPECT_EQ(converted, GetParam().converted);
}

INSTANTIATE_TEST_SUITE_P(RealLogs, EvtxXmlAgainstLibevtx,
                         testing::Values(LogCase{"LM_5145_Remote_FileCopy.evtx", 869},
                                         LogCase{"discovery_bloodhound.evtx", 9},
                                         LogCase{"CA_hashdump_4663_4656_lsass_access.evtx", 1},
                                         LogCase{"CA_chrome_firefox_opera_4663.evtx", 0}),
                         [](const testing::TestParamInfo<LogCase>& info) {
                           std::string name = info.param.file;
                           name = name.substr(0, name.find('.'));
                           std::replace_if(
                               name.begin(), name.end(),
                               [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
                               '_');
                           return name;
                         });

}  // namespace
}  // namespace qs::test
