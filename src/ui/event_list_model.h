// The grid's view of the event list: a table model that follows qs::EventList through its
// observer. Row 0 of the list (the titles) is the model's horizontal header.
#pragma once

#include <QAbstractTableModel>
#include <functional>

#include "scan/event_list.h"

namespace qs {

class EventListModel : public QAbstractTableModel, public EventListObserver {
  Q_OBJECT
 public:
  explicit EventListModel(const EventList& list, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // lblNbSelectedEvents follows the count through this.
  void SetCountListener(std::function<void(int)> listener) { countListener_ = std::move(listener); }

  // EventListObserver
  void ListReset() override;
  void RowsRemovedFromBottom(int first, int last) override;
  void RowInsertedAtTop() override;
  void CellChanged(int row, int column) override;
  void SelectedCountChanged(int count) override;

 private:
  // Tells the view of a cut that waited for an insertion which did not come.
  void ShowPendingCut();
  void RemoveRows(int from, int to);  // model rows, inclusive

  const EventList& list_;
  int shownRows_ = 0;        // the rows the view has been told of
  bool cutPending_ = false;  // the last of them is gone from the list, the view not yet told
  std::function<void(int)> countListener_;
};

}  // namespace qs
