// The four comment operations over the platform's services: the Macintosh comment in the file's
// named stream, the Windows 2000 comment in its summary properties. This is what the comment pass
// is given.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "comments/comment_writers.h"
#include "comments/mac_comment.h"
#include "comments/win_comment.h"
#include "core/settings.h"
#include "platform/path_map.h"
#include "platform/streams.h"
#include "platform/summary_properties.h"
#include "scan/event_list.h"
#include "scan/event_pump.h"
#include "scan/record_decoder.h"

namespace qs {

// What both comment kinds read and drive; everything is owned elsewhere and lives for the run.
struct CommentContext {
  EventList& eventList;
  const CurrentEvent& currentEvent;
  const Settings& settings;  // read at each use: the window may change it during a yield
  EventPump& pump;
  const platform::PathMap& paths;  // log paths ("D:\Shared\x") to local paths
};

// The first `limit` code units of text (all of it when shorter). A cut that would fall between
// the two halves of a surrogate pair is made one unit earlier, so that no half character is left.
std::u16string_view CutToCodeUnits(std::u16string_view text, std::size_t limit);

// The rows of the list whose File cell is exactly `file`, each marked `mark` in `column`, walked
// from the last row up as a rebuild marks them. Returned newest first, the order of the lines of a
// rebuilt comment.
std::vector<int> MarkRowsOfFile(EventList& list, const std::string& file, int column,
                                std::string_view mark);

// The local path of a file as the log names it, or empty when it cannot be reached.
std::string LocalPath(const CommentContext& context, std::string_view logPath);

class FileComments final : public CommentWriters {
 public:
  // streams: the named streams, owned elsewhere; makeSummary: the summary property component,
  // created on the first Windows 2000 comment (every such comment fails while it gives none).
  FileComments(EventList& eventList, const CurrentEvent& currentEvent, const Settings& settings,
               EventPump& pump, const platform::PathMap& paths, platform::StreamService& streams,
               platform::SummaryFactory makeSummary);

  void WriteMacComment(int row) override { mac_.WriteMacComment(row); }
  void RegenerateMacComment(int row) override { mac_.RegenerateMacComment(row); }
  void WriteWinComment(int row) override { win_.WriteWinComment(row); }
  void RegenerateWinComment(int row) override { win_.RegenerateWinComment(row); }
  void ReleaseFiles() override { streams_.ReleaseFiles(); }

 private:
  // The writers yield through this pump, which tells the streams (and the summaries that share
  // their files) that others have run before it lets them run.
  class YieldingPump final : public EventPump {
   public:
    YieldingPump(EventPump& pump, platform::StreamService& streams)
        : pump_(pump), streams_(streams) {}
    bool ProcessPendingEvents() override {
      streams_.Yielded();
      return pump_.ProcessPendingEvents();
    }

   private:
    EventPump& pump_;
    platform::StreamService& streams_;
  };

  platform::StreamService& streams_;
  YieldingPump pump_;
  CommentContext context_;
  MacComment mac_;
  WinComment win_;
};

}  // namespace qs
