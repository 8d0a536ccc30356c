// The Macintosh comment: the file's stream ":Comments:$DATA", UTF-16LE text without header,
// newest line first, each line ended by CR, at most 199 code units.
#pragma once

#include <optional>

#include <string>
#include <string_view>

#include "platform/streams.h"

namespace qs {

struct CommentContext;

inline constexpr std::string_view kCommentsStreamSuffix = ":Comments:$DATA";
inline constexpr std::size_t kMacCommentLimit = 199;      // code units
inline constexpr std::int32_t kMacReadBufferSize = 1024;  // bytes

// The date text (without its last three characters when timeSeconds is off), a blank, the user.
std::u16string MacCommentLine(std::string_view dateText, std::string_view user, bool timeSeconds);

class MacComment {
 public:
  MacComment(CommentContext& context, platform::StreamService& streams)
      : context_(context), streams_(streams) {}

  // Puts the current event's line in front of the file's comment; row is the current event's.
  void WriteMacComment(int row);
  // Rebuilds the comment of the file of `row` from every row of that file.
  void RegenerateMacComment(int row);

 private:
  // Writes the bytes whole into the stream of `file` (a path as the log gives it), the file of
  // `row`'s event only: "???" when the stream does not open for writing, "?" when the write
  // fails, `written` otherwise; nullopt when the file at the path is another one (nothing
  // written).
  std::optional<std::string_view> Store(int row, const std::string& file, std::string_view bytes,
                                        std::string_view written);
  // The file at the row's path is not the one its event wrote.
  void MarkNotTheFile(int row);

  CommentContext& context_;
  platform::StreamService& streams_;
};

}  // namespace qs
