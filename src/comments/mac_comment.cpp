#include "comments/mac_comment.h"

#include <algorithm>
#include <array>
#include <vector>

#include "comments/file_comments.h"
#include "platform/utf.h"

namespace qs {

namespace {

// The stream's bytes: each code unit low byte first.
std::string Utf16LeBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t u : text) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return bytes;
}

}  // namespace

std::u16string MacCommentLine(std::string_view dateText, std::string_view user, bool timeSeconds) {
  std::u16string line = platform::Utf8ToUtf16(dateText);
  // The cut is made whatever the last three characters are: with a 12-hour time it takes the
  // AM/PM marker, with a date alone the end of the year.
  if (!timeSeconds) line.resize(line.size() > 3 ? line.size() - 3 : 0);
  line.push_back(u' ');
  line += platform::Utf8ToUtf16(user);
  return line;
}

void MacComment::WriteMacComment(int row) {
  EventList& list = context_.eventList;
  const CurrentEvent& event = context_.currentEvent;
  const std::u16string line =
      MacCommentLine(DateText(event.dateTime), event.user, context_.settings.TimeSeconds);

  const std::string local = LocalPath(context_, event.file);
  const platform::StreamHandle handle =
      local.empty()
          ? platform::kInvalidStream
          : streams_.OpenStream(local + std::string(kCommentsStreamSuffix),
                                platform::kOpenStreamRead, platform::ExpectedFile{event.identity});
  if (handle == platform::kStreamNotTheFile) {
    MarkNotTheFile(row);
    return;
  }
  if (handle == platform::kInvalidStream) {
    list.SetMark(row, kColMac, StatusMark::Failed);
    RegenerateMacComment(row);
    return;
  }

  // A longer stream gives its first 1024 bytes: the buffer holds no more.
  std::array<char, kMacReadBufferSize> buffer{};
  std::int32_t bytesRead = -1;
  const std::int64_t size = streams_.GetStreamSize(handle);
  if (size > 0) {
    const auto count = static_cast<std::int32_t>(std::min<std::int64_t>(size, buffer.size()));
    bytesRead = streams_.ReadStream(handle, buffer.data(), count);
  }
  streams_.CloseStream(handle);
  if (bytesRead < 0) {
    list.SetMark(row, kColMac, StatusMark::Failed);
    RegenerateMacComment(row);
    return;
  }

  // The text is the stream's code units. An odd last byte is no code unit, but it is part of the
  // comment that another tool left: it is kept after the text, never dropped or replaced.
  const std::string_view stored(buffer.data(), static_cast<std::size_t>(bytesRead));
  const std::u16string existing = platform::Utf16LeBytesToText(stored);
  if (stored.empty()) {
    list.SetMark(row, kColMac, StatusMark::Failed);
    RegenerateMacComment(row);
    return;
  }
  if (existing.find(line) != std::u16string::npos) {
    list.SetMark(row, kColMac, StatusMark::MacWritten);
    return;
  }

  std::u16string text = line;
  text.push_back(u'\r');
  text += existing;
  const std::u16string_view kept = CutToCodeUnits(text, kMacCommentLimit);
  std::string bytes = Utf16LeBytes(kept);
  // The odd byte stays while the whole text does and the stream keeps within its 398 bytes;
  // otherwise the cut takes it with the end of the oldest text.
  if (stored.size() % 2 == 1 && kept.size() == text.size() && bytes.size() < 2 * kMacCommentLimit) {
    bytes.push_back(stored.back());
  }
  const std::optional<std::string_view> mark =
      Store(row, event.file, bytes, StatusMark::MacWritten);
  if (!mark) {
    MarkNotTheFile(row);
    return;
  }
  list.SetMark(row, kColMac, *mark);
  YieldStep(context_.settings.Performance, context_.pump);
}

void MacComment::RegenerateMacComment(int row) {
  EventList& list = context_.eventList;
  const std::string file = list.CellText(row, kColFile);
  const std::vector<int> rows = MarkRowsOfFile(list, file, kColMac, StatusMark::MacWritten);
  // Lines beyond the cut are not needed.
  std::u16string text;
  for (auto it = rows.begin(); it != rows.end() && text.size() <= kMacCommentLimit; ++it) {
    text += MacCommentLine(list.CellText(*it, kColDateTime), list.CellText(*it, kColUser),
                           context_.settings.TimeSeconds);
    text.push_back(u'\r');
  }
  const std::optional<std::string_view> mark = Store(
      row, file, Utf16LeBytes(CutToCodeUnits(text, kMacCommentLimit)), StatusMark::MacRegenerated);
  if (!mark) {
    MarkNotTheFile(row);
    return;
  }
  list.SetMark(row, kColMac, *mark);
}

void MacComment::MarkNotTheFile(int row) {
  // As the comment pass marks a row whose file is not the written one: that file is gone.
  context_.eventList.SetMark(row, kColWin, StatusMark::Unknown);
  context_.eventList.SetMark(row, kColMac, StatusMark::NotApplicable);
}

std::optional<std::string_view> MacComment::Store(int row, const std::string& file,
                                                  std::string_view bytes,
                                                  std::string_view written) {
  const std::string local = LocalPath(context_, file);
  const platform::StreamHandle handle =
      local.empty()
          ? platform::kInvalidStream
          : streams_.OpenStream(local + std::string(kCommentsStreamSuffix),
                                platform::kOpenStreamWriteCreate,
                                platform::ExpectedFile{context_.eventList.RowIdentity(row)});
  if (handle == platform::kStreamNotTheFile) return std::nullopt;
  if (handle == platform::kInvalidStream) return StatusMark::StreamNotOpened;
  const std::int32_t result =
      streams_.WriteStream(handle, bytes.data(), static_cast<std::int32_t>(bytes.size()));
  streams_.CloseStream(handle);
  return result < 0 ? StatusMark::Failed : written;
}

}  // namespace qs
