// The four comment operations that the comment pass and the summary check pass call.
#pragma once

namespace qs {

class CommentWriters {
 public:
  virtual ~CommentWriters() = default;
  // Writers are given row 1, the row of the current event; regenerators any data row.
  virtual void WriteMacComment(int row) = 0;
  virtual void RegenerateMacComment(int row) = 0;
  virtual void WriteWinComment(int row) = 0;
  virtual void RegenerateWinComment(int row) = 0;
  // The operations on one file are done for now: files kept open between them are let go.
  virtual void ReleaseFiles() {}
};

}  // namespace qs
