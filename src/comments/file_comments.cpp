#include "comments/file_comments.h"

namespace qs {

std::u16string_view CutToCodeUnits(std::u16string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t cut = limit;
  const auto high = [](char16_t u) { return u >= 0xD800 && u <= 0xDBFF; };
  const auto low = [](char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
  if (cut > 0 && high(text[cut - 1]) && low(text[cut])) --cut;
  return text.substr(0, cut);
}

std::vector<int> MarkRowsOfFile(EventList& list, const std::string& file, int column,
                                std::string_view mark) {
  const std::vector<int> rows = list.RowsOfFile(file);
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) list.SetMark(*it, column, mark);
  return rows;
}

std::string LocalPath(const CommentContext& context, std::string_view logPath) {
  return context.paths.ToLocal(logPath).value_or(std::string());
}

FileComments::FileComments(EventList& eventList, const CurrentEvent& currentEvent,
                           const Settings& settings, EventPump& pump,
                           const platform::PathMap& paths, platform::StreamService& streams,
                           platform::SummaryFactory makeSummary)
    : streams_(streams),
      pump_(pump, streams),
      context_{eventList, currentEvent, settings, pump_, paths},
      mac_(context_, streams),
      win_(context_, std::move(makeSummary)) {}

}  // namespace qs
