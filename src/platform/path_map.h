// Where the files that a log names live on this computer. A log copied from a Windows server
// names files like "D:\Shared\budget.xls"; the "Drives" section of the settings file maps each
// drive letter to a local folder.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace qs::platform {

class PathMap {
 public:
  // letter: 'A'..'Z' in either case; folder: an absolute local folder.
  void SetDrive(char letter, std::string folder);

  // The local path of a path as the log gives it:
  // - a path that begins with "/" is used as it stands;
  // - "X:\a\b" with X mapped becomes folder + "/a/b"; a component that does not exist with that
  //   exact case is replaced by the one entry of its folder that matches it without regard to
  //   case, as SMB servers do;
  // - anything else (an unmapped drive, a relative path) cannot be reached: nullopt.
  std::optional<std::string> ToLocal(std::string_view logPath) const;

 private:
  std::map<char, std::string> drives_;  // upper-case letter -> folder
};

}  // namespace qs::platform
