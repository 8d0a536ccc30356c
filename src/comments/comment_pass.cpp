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

namespace {

// Whether the file now at the event's path is the file the event wrote. A path is not a file for
// good: a user who may write in a folder can rename or hard-link another owner's file onto a name
// that the log shows written (the rule: platform::IsExpectedFile). The comment services check the
// file they open again, since the path may change between this look and their open.
bool IsTheWrittenFile(const platform::FileFacts& facts,
                      const std::optional<platform::FileIdentity>& written) {
  return platform::IsExpectedFile(platform::ExpectedFile{written}, facts.identity, facts.links);
}

bool IsTheWrittenFile(const platform::FileFacts& facts, const CurrentEvent& event) {
  return IsTheWrittenFile(facts, event.identity);
}

// Lets the writers' files go when the comments of one file are done, on every way out.
class ReleaseAtEnd {
 public:
  explicit ReleaseAtEnd(CommentWriters& writers) : writers_(writers) {}
  ~ReleaseAtEnd() { writers_.ReleaseFiles(); }
  ReleaseAtEnd(const ReleaseAtEnd&) = delete;
  ReleaseAtEnd& operator=(const ReleaseAtEnd&) = delete;

 private:
  CommentWriters& writers_;
};

}  // namespace

void FileCommentStep::CommentPass() {
  const ReleaseAtEnd release(writers_);
  const platform::FileFacts facts = fileStatus_.ReadFileFacts(currentEvent_.file);
  const std::uint32_t attributes = facts.attributes;
  const bool readable = attributes != platform::kInvalidFileAttributes;
  if (readable && (attributes & platform::kFileAttributeDirectory) != 0) return;

  eventList_.InsertNewest(currentEvent_.dateTime, currentEvent_.user, currentEvent_.file,
                          currentEvent_.identity);

  // Another file at the path is treated as the written one gone.
  if (!readable || !IsTheWrittenFile(facts, currentEvent_)) {
    eventList_.SetMark(1, kColWin, StatusMark::Unknown);
    eventList_.SetMark(1, kColMac, StatusMark::NotApplicable);
    return;
  }
  if ((attributes & platform::kFileAttributeReadOnly) != 0) {
    eventList_.SetMark(1, kColWin, StatusMark::ReadOnly);
    eventList_.SetMark(1, kColMac, StatusMark::NotApplicable);
    return;
  }
  // The Macintosh writer yields; the Windows 2000 setting is read after it, and the file is looked
  // at again, since the yield gives time to put another file at the path.
  if (settings_.MacComments) writers_.WriteMacComment(1);
  if (!settings_.WinComments) return;
  // The Macintosh writer found another file at the path when it opened it.
  if (eventList_.CellText(1, kColWin) == StatusMark::Unknown) return;
  if (settings_.MacComments &&
      !IsTheWrittenFile(fileStatus_.ReadFileFacts(currentEvent_.file), currentEvent_)) {
    eventList_.SetMark(1, kColWin, StatusMark::Unknown);
    return;
  }
  writers_.WriteWinComment(1);
}

void FileCommentStep::SummaryCheckPass() {
  const int count = eventList_.EventCount();
  // The rows cannot change during the pass (only a pass inserts, and one runs at a time); the
  // second bound only keeps a row number valid should the list ever shrink during a yield.
  for (int row = 1; row <= count && row <= eventList_.EventCount(); ++row) {
    const bool retryWin =
        settings_.WinComments && StatusMark::IsFailed(eventList_.CellText(row, kColWin));
    const bool retryMac =
        settings_.MacComments && StatusMark::IsFailed(eventList_.CellText(row, kColMac));
    // A retry comes passes after the write it stands for, time enough to put another file at
    // the path: a file that is there but is not the written one is treated as the written one
    // gone, as at the first attempt. A missing file is left to fail again.
    if (retryWin || retryMac) {
      const platform::FileFacts facts =
          fileStatus_.ReadFileFacts(eventList_.CellText(row, kColFile));
      if (facts.attributes != platform::kInvalidFileAttributes &&
          !IsTheWrittenFile(facts, eventList_.RowIdentity(row))) {
        eventList_.SetMark(row, kColWin, StatusMark::Unknown);
        eventList_.SetMark(row, kColMac, StatusMark::NotApplicable);
        YieldStep(settings_.Performance, pump_);
        continue;
      }
    }
    if (retryWin) writers_.RegenerateWinComment(row);
    if (retryMac) writers_.RegenerateMacComment(row);
    writers_.ReleaseFiles();
    YieldStep(settings_.Performance, pump_);
  }
}

}  // namespace qs
