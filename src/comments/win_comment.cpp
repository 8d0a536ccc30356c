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

WinComment::Opened WinComment::Open(int row, const std::string& file) {
  platform::SummaryPropertyComponent* component = Component();
  if (component == nullptr) return Opened::Unusable;
  const std::string local = LocalPath(context_, file);
  if (local.empty()) return Opened::Unusable;
  // Local names are bytes that need not be UTF-8; the lossless form brings the component back to
  // exactly this name, never to another file whose name reads the same.
  const std::int32_t result = component->OpenSummary(
      platform::Utf8ToUtf16Lossless(local), platform::kSummaryReadWriteExclusive,
      platform::ExpectedFile{context_.eventList.RowIdentity(row)});
  if (result == platform::kSummaryNotTheFile) return Opened::NotTheFile;
  std::int32_t status = 0;
  if (component->GetOpenStatus(status) < 0) status = 0;
  return platform::SummaryUsable(status) ? Opened::Usable : Opened::Unusable;
}

void WinComment::WriteWinComment(int row) {
  EventList& list = context_.eventList;
  const CurrentEvent& event = context_.currentEvent;
  const Opened opened = Open(row, event.file);
  if (opened == Opened::NotTheFile) {
    // The file at the path is not the written one: it is gone, as the comment pass would mark it.
    list.SetMark(row, kColWin, StatusMark::Unknown);
    return;
  }
  if (opened != Opened::Usable) {
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
  const Opened opened = Open(row, file);
  if (opened != Opened::Usable) {
    list.SetMark(row, kColWin,
                 opened == Opened::NotTheFile ? StatusMark::Unknown : StatusMark::Failed);
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
