#include "comments/win_comment.h"

#include <algorithm>
#include <vector>

#include "comments/file_comments.h"
#include "platform/utf.h"

namespace qs {

namespace {

constexpr std::u16string_view kCrLf = u"\r\n";

// The date text (always with seconds), a blank, the user.
std::u16string WinCommentLine(std::string_view dateText, std::string_view user) {
  std::u16string line = platform::Utf8ToUtf16(dateText);
  line.push_back(u' ');
  line += platform::Utf8ToUtf16(user);
  return line;
}

std::size_t WinLimit(const Settings& settings) {
  return static_cast<std::size_t>(std::max<std::int16_t>(settings.MaxWinComments, 0));
}

}  // namespace

platform::SummaryPropertyComponent* WinComment::Component() {
  if (!component_ && makeSummary_) component_ = makeSummary_();
  return component_.get();
}

bool WinComment::Open(const std::string& file) {
  platform::SummaryPropertyComponent* component = Component();
  if (component == nullptr) return false;
  const std::string local = LocalPath(context_, file);
  if (local.empty()) return false;
  // Local names are bytes that need not be UTF-8; the lossless form brings the component back to
  // exactly this name, never to another file whose name reads the same.
  component->OpenSummary(platform::Utf8ToUtf16Lossless(local),
                         platform::kSummaryReadWriteExclusive);
  std::int32_t status = 0;
  if (component->GetOpenStatus(status) < 0) status = 0;
  return platform::SummaryUsable(status);
}

void WinComment::WriteWinComment(int row) {
  EventList& list = context_.eventList;
  const CurrentEvent& event = context_.currentEvent;
  if (!Open(event.file)) {
    list.SetMark(row, kColWin, StatusMark::Failed);
    RegenerateWinComment(row);
    YieldStep(context_.settings.Performance, context_.pump);
    return;
  }
  platform::SummaryPropertyComponent& component = *component_;
  std::u16string existing;
  // A comment that cannot be read is lost like an empty one and rebuilt.
  if (component.GetComments(existing) < 0) existing.clear();
  if (existing.empty()) {
    // The summary stays open: the regeneration's own open takes over from it.
    list.SetMark(row, kColWin, StatusMark::Failed);
    RegenerateWinComment(row);
    return;
  }
  const std::u16string line = WinCommentLine(DateText(event.dateTime), event.user);
  if (existing.find(line) != std::u16string::npos) {
    list.SetMark(row, kColWin, StatusMark::WinWritten);
    component.CloseSummary();
    return;
  }
  std::u16string text = line;
  text += kCrLf;
  text += existing;
  // The limit is read here: a yield may have changed it.
  const bool stored =
      component.SetComments(CutToCodeUnits(text, WinLimit(context_.settings))) >= 0 &&
      component.SaveSummary() >= 0;
  component.CloseSummary();
  // A refused store is retried by the summary check pass.
  list.SetMark(row, kColWin, stored ? StatusMark::WinWritten : StatusMark::Failed);
  YieldStep(context_.settings.Performance, context_.pump);
}

void WinComment::RegenerateWinComment(int row) {
  EventList& list = context_.eventList;
  const std::string file = list.CellText(row, kColFile);
  std::u16string text;
  for (const int i : MarkRowsOfFile(list, file, kColWin, StatusMark::WinWritten)) {
    text += WinCommentLine(list.CellText(i, kColDateTime), list.CellText(i, kColUser));
    text += kCrLf;
  }
  if (!Open(file)) {
    list.SetMark(row, kColWin, StatusMark::Failed);
    return;
  }
  platform::SummaryPropertyComponent& component = *component_;
  const bool stored =
      component.SetComments(CutToCodeUnits(text, WinLimit(context_.settings))) >= 0 &&
      component.SaveSummary() >= 0;
  component.CloseSummary();
  list.SetMark(row, kColWin, stored ? StatusMark::WinRegenerated : StatusMark::Failed);
}

}  // namespace qs
