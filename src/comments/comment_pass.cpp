#include "comments/comment_pass.h"

namespace qs {

FileCommentStep::FileCommentStep(EventList& eventList, const CurrentEvent& currentEvent,
                                 const Settings& settings,
                                 const platform::FileStatusService& fileStatus,
                                 CommentWriters& writers, EventPump& pump)
    : eventList_(eventList),
      currentEvent_(currentEvent),
      settings_(settings),
      fileStatus_(fileStatus),
      writers_(writers),
      pump_(pump) {}

void FileCommentStep::CommentPass() {
  const std::uint32_t attributes = fileStatus_.ReadFileAttributes(currentEvent_.file);
  const bool readable = attributes != platform::kInvalidFileAttributes;
  if (readable && (attributes & platform::kFileAttributeDirectory) != 0) return;

  eventList_.InsertNewest(currentEvent_.dateTime, currentEvent_.user, currentEvent_.file);

  if (!readable) {
    eventList_.SetMark(1, kColWin, StatusMark::Unknown);
    eventList_.SetMark(1, kColMac, StatusMark::NotApplicable);
    return;
  }
  if ((attributes & platform::kFileAttributeReadOnly) != 0) {
    eventList_.SetMark(1, kColWin, StatusMark::ReadOnly);
    eventList_.SetMark(1, kColMac, StatusMark::NotApplicable);
    return;
  }
  // The Macintosh writer yields; the Windows 2000 setting is read after it.
  if (settings_.MacComments) writers_.WriteMacComment(1);
  if (settings_.WinComments) writers_.WriteWinComment(1);
}

void FileCommentStep::SummaryCheckPass() {
  const int count = eventList_.EventCount();
  // The rows cannot change during the pass (only a pass inserts, and one runs at a time); the
  // second bound only keeps a row number valid should the list ever shrink during a yield.
  for (int row = 1; row <= count && row <= eventList_.EventCount(); ++row) {
    if (settings_.WinComments && StatusMark::IsFailed(eventList_.CellText(row, kColWin))) {
      writers_.RegenerateWinComment(row);
    }
    if (settings_.MacComments && StatusMark::IsFailed(eventList_.CellText(row, kColMac))) {
      writers_.RegenerateMacComment(row);
    }
    YieldStep(settings_.Performance, pump_);
  }
}

}  // namespace qs
