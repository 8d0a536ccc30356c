#include "scan/event_list.h"

#include <algorithm>
#include <functional>
#include <string>

namespace qs {

namespace {

constexpr std::array<std::string_view, kColumnCount> kHeaderTexts = {"Date & Time", "User", "File",
                                                                     "Win", "Mac"};
constexpr int kDateTimeWidth = 1600;
constexpr int kUserWidth = 1600;
constexpr int kMarkWidth = 500;
constexpr int kGridMargin = 200;

const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}

}  // namespace

EventList::EventList(const Settings& settings, EventListObserver* observer)
    : settings_(settings), observer_(observer) {
  for (std::size_t c = 0; c < header_.size(); ++c) header_[c] = kHeaderTexts[c];
}

void EventList::SetUpList(int gridWidthTwips) {
  rows_.clear();
  identities_.clear();
  fileHashes_.clear();
  for (std::size_t c = 0; c < header_.size(); ++c) header_[c] = kHeaderTexts[c];
  const int rest = gridWidthTwips - (kDateTimeWidth + kUserWidth + 2 * kMarkWidth + kGridMargin);
  // A grid narrower than the fixed columns leaves no room for the path, but never a negative one.
  widths_ = {kDateTimeWidth, kUserWidth, std::max(rest, 0), kMarkWidth, kMarkWidth};
  if (observer_ != nullptr) observer_->ListReset();
}

void EventList::ClearList() {
  rows_.clear();
  identities_.clear();
  fileHashes_.clear();
  if (observer_ != nullptr) observer_->ListReset();
}

void EventList::InsertNewest(const EventDateTime& when, std::string_view user,
                             std::string_view file,
                             const std::optional<platform::FileIdentity>& identity) {
  // The limit is read at every insertion, so a lowered limit cuts several rows at once. The list
  // keeps room for the new row; a limit below 1 still leaves the new row alone in the list.
  const int limit = settings_.MaxSelectedEvents;
  const int count = EventCount();
  const int keep = std::clamp(limit - 1, 0, count);
  if (keep < count) {
    rows_.resize(static_cast<std::size_t>(keep));
    identities_.resize(static_cast<std::size_t>(keep));
    fileHashes_.resize(static_cast<std::size_t>(keep));
    if (observer_ != nullptr) observer_->RowsRemovedFromBottom(keep + 1, count);
  }

  Row row;
  row[kColDateTime] = DateText(when);
  row[kColUser] = user;
  row[kColFile] = file;
  rows_.push_front(std::move(row));
  identities_.push_front(identity);
  fileHashes_.push_front(std::hash<std::string_view>{}(file));
  if (observer_ != nullptr) {
    observer_->RowInsertedAtTop();
    observer_->SelectedCountChanged(EventCount());
  }
}

void EventList::SetMark(int row, int column, std::string_view mark) {
  if (row < 1 || row > EventCount() || (column != kColWin && column != kColMac)) return;
  rows_[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(column)] = mark;
  if (observer_ != nullptr) observer_->CellChanged(row, column);
}

std::optional<platform::FileIdentity> EventList::RowIdentity(int row) const {
  if (row < 1 || row > EventCount()) return std::nullopt;
  return identities_[static_cast<std::size_t>(row - 1)];
}

const std::string& EventList::CellText(int row, int column) const {
  if (column < 0 || column >= kColumnCount || row < 0 || row > EventCount()) return EmptyText();
  const auto c = static_cast<std::size_t>(column);
  return row == 0 ? header_[c] : rows_[static_cast<std::size_t>(row - 1)][c];
}

std::vector<int> EventList::RowsOfFile(std::string_view file) const {
  const std::size_t hash = std::hash<std::string_view>{}(file);
  std::vector<int> rows;
  int row = 1;
  auto text = rows_.begin();
  for (auto it = fileHashes_.begin(); it != fileHashes_.end(); ++it, ++text, ++row) {
    if (*it == hash && (*text)[kColFile] == file) rows.push_back(row);
  }
  return rows;
}

}  // namespace qs
