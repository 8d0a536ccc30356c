// What the main window's files share: the client area's design size, text conversion, the
// captions that widen their labels, and the counter of delivered events that the event pump reads.
#pragma once

#include <QLabel>
#include <QObject>
#include <QString>
#include <cstdint>
#include <string_view>

#include "ui/main_window.h"

namespace qs {

// Design size of the window's client area, in twips.
inline constexpr int kClientWidth = 9510;
inline constexpr int kClientHeight = 6810;

inline QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A label keeps its design place, but a caption longer than the design width widens it rather
// than being cut: to the left for a right-aligned label, to the right otherwise.
void SetCaption(QLabel* label, const QString& text);
// The same for the caption that the label holds.
void FitCaption(QLabel* label);

// Every event that the application delivers passes through here; a round of event processing
// had something to do exactly when this count moved during it.
class frmQuillstamp::EventCounter : public QObject {
 public:
  std::uint64_t count = 0;
  bool eventFilter(QObject*, QEvent*) override {
    ++count;
    return false;
  }
};

}  // namespace qs
