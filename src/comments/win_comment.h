// The Windows 2000 comment: the Comments entry of the file's summary properties, reached through
// the summary property component; newest line first, each line ended by CR LF, at most
// MaxWinComments code units.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "comments/summary_property_component.h"

namespace qs {

struct CommentContext;

// Makes the component; may return null when it cannot be created.
using SummaryFactory = std::function<std::unique_ptr<SummaryPropertyComponent>()>;

class WinComment {
 public:
  WinComment(CommentContext& context, SummaryFactory makeSummary)
      : context_(context), makeSummary_(std::move(makeSummary)) {}

  void WriteWinComment(int row);
  void RegenerateWinComment(int row);

 private:
  // Created on first use and kept for the run; null while it cannot be created.
  SummaryPropertyComponent* Component();
  // OpenSummary and GetOpenStatus for the file (a path as the log gives it); true when usable.
  bool Open(const std::string& file);

  CommentContext& context_;
  SummaryFactory makeSummary_;
  std::unique_ptr<SummaryPropertyComponent> component_;
};

}  // namespace qs
