// The list of selected events: newest at row 1, row 0 the header, at most MaxSelectedEvents rows.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"
#include "platform/file_identity.h"
#include "scan/event_time.h"

namespace qs {

enum EventColumn : int { kColDateTime = 0, kColUser = 1, kColFile = 2, kColWin = 3, kColMac = 4 };
inline constexpr int kColumnCount = 5;

// The mark codes of the Win and Mac cells.
namespace StatusMark {
inline constexpr std::string_view Unknown = "U";
inline constexpr std::string_view ReadOnly = "RO";
inline constexpr std::string_view NotApplicable = "-";
inline constexpr std::string_view WinWritten = "w";
inline constexpr std::string_view WinRegenerated = "W";
inline constexpr std::string_view MacWritten = "m";
inline constexpr std::string_view MacRegenerated = "M";
inline constexpr std::string_view Failed = "?";
inline constexpr std::string_view StreamNotOpened = "???";
inline bool IsFailed(std::string_view mark) { return mark.find('?') != std::string_view::npos; }
}  // namespace StatusMark

// Told of every change once it is done, so that a grid can follow the list. Each report names the
// rows exactly (row numbers as they were before the change), so that a follower that keeps its own
// count of rows can announce the same change to its view, before and after, from the report alone.
class EventListObserver {
 public:
  virtual ~EventListObserver() = default;
  virtual void ListReset() {}                                         // set up or cleared
  virtual void RowsRemovedFromBottom(int /*first*/, int /*last*/) {}  // data rows, inclusive
  virtual void RowInsertedAtTop() {}                                  // the new row is row 1
  virtual void CellChanged(int /*row*/, int /*column*/) {}
  virtual void SelectedCountChanged(int /*count*/) {}  // lblNbSelectedEvents
};

class EventList {
 public:
  using Row = std::array<std::string, kColumnCount>;

  explicit EventList(const Settings& settings, EventListObserver* observer = nullptr);

  // Header row and column widths (twips) for a grid of the given width.
  void SetUpList(int gridWidthTwips);
  void ClearList();
  // Cuts the list below MaxSelectedEvents, inserts the event as row 1, refreshes the count.
  // `identity` is the written file's, where the log names it; it is kept with the row, unseen,
  // so that a comment retried later goes to that file only.
  void InsertNewest(const EventDateTime& when, std::string_view user, std::string_view file,
                    const std::optional<platform::FileIdentity>& identity = std::nullopt);
  // column is kColWin or kColMac; row 1..EventCount().
  void SetMark(int row, int column, std::string_view mark);
  // Any cell, row 0 being the header.
  const std::string& CellText(int row, int column) const;
  int EventCount() const { return static_cast<int>(rows_.size()); }
  // The identity kept with row 1..EventCount(); nullopt when the log named none.
  std::optional<platform::FileIdentity> RowIdentity(int row) const;
  // The rows whose File cell is exactly `file`, top down. Every comment written is rebuilt from
  // these rows, so the search compares a hash kept with each row before any text: the paths of
  // one shared folder differ only near their ends.
  std::vector<int> RowsOfFile(std::string_view file) const;

  int ColumnWidth(int column) const { return widths_[static_cast<std::size_t>(column)]; }
  void SetObserver(EventListObserver* observer) { observer_ = observer; }

 private:
  const Settings& settings_;
  EventListObserver* observer_;
  Row header_;
  std::array<int, kColumnCount> widths_{};
  std::deque<Row> rows_;                                          // rows_[0] is row 1
  std::deque<std::optional<platform::FileIdentity>> identities_;  // beside rows_, row by row
  std::deque<std::size_t> fileHashes_;                            // of the File cells, the same
};

}  // namespace qs
