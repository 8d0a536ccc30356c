#include "ui/event_list_model.h"

namespace qs {

EventListModel::EventListModel(const EventList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list), shownRows_(list.EventCount()) {}

int EventListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shownRows_;
}

int EventListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant EventListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  // The observer is told after the list has changed, so a view may ask for a row that has just
  // gone; such a row reads as empty.
  const int row = index.row() + 1;
  if (row > list_.EventCount() || index.column() >= kColumnCount) return {};
  return QString::fromStdString(list_.CellText(row, index.column()));
}

QVariant EventListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal && section >= 0 && section < kColumnCount)
    return QString::fromStdString(list_.CellText(0, section));
  return {};
}

void EventListModel::ListReset() {
  ShowPendingCut();
  beginResetModel();
  shownRows_ = list_.EventCount();
  endResetModel();
  emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
}

void EventListModel::RowsRemovedFromBottom(int first, int last) {
  ShowPendingCut();
  // first and last are rows of the list (1-based); the model's rows start at 0.
  const int from = std::max(first - 1, 0);
  const int to = std::min(last - 1, shownRows_ - 1);
  if (from > to) return;
  // A full list loses its oldest row just before it gains its newest, for every event. Told to
  // the view as a removal and an insertion, that changes the row count twice and makes the grid
  // lay out all its rows again each time; the rows moving down by one under an unchanged count
  // is the same table, for the price of a repaint. So the cut of the one last row waits for the
  // insertion that follows it.
  if (from == to && to == shownRows_ - 1) {
    cutPending_ = true;
    return;
  }
  RemoveRows(from, to);
}

void EventListModel::RowInsertedAtTop() {
  if (cutPending_) {
    cutPending_ = false;
    // The last row went and a new first row came: every row now holds what the row above it
    // held, and the first row the new event.
    emit dataChanged(index(0, 0), index(shownRows_ - 1, kColumnCount - 1), {Qt::DisplayRole});
    return;
  }
  beginInsertRows({}, 0, 0);
  ++shownRows_;
  endInsertRows();
}

void EventListModel::ShowPendingCut() {
  if (!cutPending_) return;
  cutPending_ = false;
  RemoveRows(shownRows_ - 1, shownRows_ - 1);
}

void EventListModel::RemoveRows(int from, int to) {
  beginRemoveRows({}, from, to);
  shownRows_ -= to - from + 1;
  endRemoveRows();
}

void EventListModel::CellChanged(int row, int column) {
  ShowPendingCut();
  if (row < 1 || row > shownRows_) return;
  const QModelIndex cell = index(row - 1, column);
  emit dataChanged(cell, cell, {Qt::DisplayRole});
}

void EventListModel::SelectedCountChanged(int count) {
  ShowPendingCut();
  if (countListener_) countListener_(count);
}

}  // namespace qs
