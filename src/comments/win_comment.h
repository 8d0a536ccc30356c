// The Windows 2000 comment: the Comments entry of the file's summary properties, reached through
// the platform's summary property component; newest line first, each line ended by CR LF, at most
// MaxWinComments code units.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/summary_properties.h"

namespace qs {

struct CommentContext;

class WinComment {
 public:
  WinComment(CommentContext& context, platform::SummaryFactory makeSummary)
      : context_(context), makeSummary_(std::move(makeSummary)) {}

  void WriteWinComment(int row);
  void RegenerateWinComment(int row);

 private:
  // Created on first use and kept for the run; null while it cannot be created.
  platform::SummaryPropertyComponent* Component();
  enum class Opened { Usable, Unusable, NotTheFile };
  // OpenSummary and GetOpenStatus for the file (a path as the log gives it), which must be the
  // file of `row`'s event.
  Opened Open(int row, const std::string& file);

  CommentContext& context_;
  platform::SummaryFactory makeSummary_;
  std::unique_ptr<platform::SummaryPropertyComponent> component_;
};

}  // namespace qs
