// The window of a pass that nobody looks at: nothing is ever pending, so a yield costs nothing and
// the figures measure the pass alone.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "scan/scan_pass.h"

namespace qs::bench {

class QuietView final : public ScanView {
 public:
  bool ProcessPendingEvents() override { return false; }
  void ShowEventsStatus(std::string_view) override {}
  void ShowMaxEvents(std::string_view text) override { maxEvents = std::string(text); }
  void SetProgressMaximum(std::int32_t) override {}
  void SetProgressValue(std::int32_t) override {}
  bool IsWindowVisible() const override { return true; }
  void ShowOpenLogError(std::string_view message) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
  }
  void EnableTimer() override {}

  std::string maxEvents;  // lblMaxEvents: the number of records in the log
};

}  // namespace qs::bench
