// Quillstamp.ini: the settings read at start-up, the writers that keep the file up to date as
// settings change, and the two sections that tell where things live on this platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/path_map.h"
#include "platform/profile.h"
#include "ui/settings.h"

namespace qs {

inline constexpr std::string_view kConfigurationSection = "Configuration";
inline constexpr std::string_view kKeyTemporisation = "Temporisation";
inline constexpr std::string_view kKeyWinComments = "WinComments";
inline constexpr std::string_view kKeyMacComments = "MacComments";
inline constexpr std::string_view kKeyTimeSeconds = "TimeSeconds";
inline constexpr std::string_view kKeyMaxWinComments = "MaxWinComments";
inline constexpr std::string_view kKeyMaxSelectedEvents = "MaxSelectedEvents";
inline constexpr std::string_view kKeyAutomatic = "Automatic";
inline constexpr std::string_view kKeyPerformance = "Performance";

// Where this platform keeps what Windows would provide: the Security log's file and the local
// folders of the drive letters that the log's paths name.
inline constexpr std::string_view kPlatformSection = "Platform";
inline constexpr std::string_view kKeySecurityLog = "SecurityLog";
inline constexpr std::string_view kDefaultSecurityLog = "/var/log/audit/audit.log";
inline constexpr std::string_view kDrivesSection = "Drives";

// The settings file of a program whose executable lies in `programFolder`: the folder, "/",
// "Quillstamp" and ".ini". The separator is always added, also after a folder that ends with one.
std::string SettingsFilePathIn(std::string_view programFolder);
// The same for the running executable (the folder of /proc/self/exe); nullopt when it cannot be
// found.
std::optional<std::string> SettingsFilePath();

// A number key's value: the text by TextToNumber, rounded half to even; 0, no number, or a number
// outside [minimum, maximum] (the range of the field that holds it) gives `defaultValue`.
std::int32_t NumberSetting(std::string_view text, std::int32_t defaultValue, std::int32_t minimum,
                           std::int32_t maximum);
// A flag key's value: on only when the text reads as exactly the number 1 (1, 1.0, 01, " 1").
bool FlagSetting(std::string_view text);

class SettingsFile {
 public:
  // `beforeReplace` is passed to every write (tests use it to interrupt one).
  explicit SettingsFile(std::string path, platform::ProfileWriteHook beforeReplace = {});

  const std::string& path() const { return path_; }

  // The eight keys of "Configuration", in the order start-up reads them, by the reading rules;
  // anything missing or unreadable gives the default of its field.
  Settings ReadConfiguration() const;

  // The writers: each first updates `settings`, then writes its key ("1"/"0" for flags, plain
  // decimal for numbers). None checks a range. A failed write is not reported and the new value
  // stays in `settings`. The result of the file write is returned for callers that care (tests);
  // the program's rules do not examine it.
  bool WriteTemporisation(Settings& settings, std::int32_t value) const;
  bool WriteWinComments(Settings& settings, bool on) const;
  bool WriteMacComments(Settings& settings, bool on) const;
  bool WriteTimeSeconds(Settings& settings, bool on) const;
  bool WriteMaxWinComments(Settings& settings, std::int16_t value) const;
  bool WriteMaxSelectedEvents(Settings& settings, std::int16_t value) const;
  bool WriteAutomatic(Settings& settings, bool on) const;
  bool WritePerformance(Settings& settings, std::int16_t value) const;

  // "SecurityLog" of "Platform": the log file the scan reads; kDefaultSecurityLog when missing
  // or empty.
  std::string SecurityLogPath() const;
  // The keys "A" to "Z" (either case) of "Drives", each a local folder; other keys and values
  // that are not absolute folders are ignored.
  platform::PathMap ReadDrives() const;

 private:
  bool WriteKey(std::string_view key, std::string_view value) const;

  std::string path_;
  platform::ProfileWriteHook beforeReplace_;
};

}  // namespace qs
