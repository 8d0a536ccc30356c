// The comment step of a scan: lists each selected event and writes its file's comments, and after
// the reading retries every comment that failed.
#pragma once

#include "comments/comment_writers.h"
#include "core/settings.h"
#include "platform/file_status.h"
#include "scan/event_list.h"
#include "scan/event_pump.h"
#include "scan/record_decoder.h"
#include "scan/scan_pass.h"

namespace qs {

class FileCommentStep final : public CommentStep {
 public:
  // Everything is owned elsewhere and lives for the run. `currentEvent` is the scan state's, filled
  // before each CommentPass; `settings` is read at each use, since a yield lets the window change
  // it between two events or two rows.
  FileCommentStep(EventList& eventList, const CurrentEvent& currentEvent, const Settings& settings,
                  const platform::FileStatusService& fileStatus, CommentWriters& writers,
                  EventPump& pump);

  // The current event: a folder is dropped; otherwise it becomes row 1 and is marked "U"/"-"
  // (its file cannot be found, or the file at its path is not the one written: another identity
  // than the log names, or, where the log names none, several hard links), "RO"/"-"
  // (read-only), or gets its Macintosh and then its Windows 2000 comment, as far as each kind is
  // on. A file replaced at its path during the Macintosh writer's yield gets no Windows 2000
  // comment ("U").
  void CommentPass() override;

  // Rows 1 to the count at the start, downwards in the list: a Win cell holding "?" is
  // regenerated when that kind is on, then a Mac cell holding "?"; a yield after each row. Runs
  // over all rows whatever the stop request says.
  void SummaryCheckPass() override;

 private:
  EventList& eventList_;
  const CurrentEvent& currentEvent_;
  const Settings& settings_;
  const platform::FileStatusService& fileStatus_;
  CommentWriters& writers_;
  EventPump& pump_;
};

}  // namespace qs
