// Quillstamp.ini: the settings read at start-up, the writers that keep the file up to date as
// settings change, and the two sections that tell where things live on this platform. The key
// names are defined here once, for the reading rules and for every writer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"
#include "platform/path_map.h"
#include "platform/profile.h"

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
#ifdef _WIN32
// Windows reads the computer's own Security log through its event-log service when the settings
// name no log file.
inline constexpr std::string_view kDefaultSecurityLog = "";
#else
inline constexpr std::string_view kDefaultSecurityLog = "/var/log/audit/audit.log";
#endif
// The folders below which the files that a Linux audit log names only by their identity are
// looked for, separated by ":"; without the key, the folders that the audit rules watch.
inline constexpr std::string_view kKeyAuditedFolders = "AuditedFolders";
inline constexpr std::string_view kDrivesSection = "Drives";

// The settings file of a program whose executable lies in `programFolder`: the folder, "/",
// "Quillstamp" and ".ini". The separator is always added, also after a folder that ends with one.
std::string SettingsFilePathIn(std::string_view programFolder);
// The same for the running executable (the folder that the platform's ProgramFolder finds);
// nullopt when it cannot be found.
std::optional<std::string> SettingsFilePath();

// A number key's value: the text by TextToNumber, rounded half to even; 0, no number, or a number
// outside [minimum, maximum] (the range of the field that holds it) gives `defaultValue`.
std::int32_t NumberSetting(std::string_view text, std::int32_t defaultValue, std::int32_t minimum,
                           std::int32_t maximum);
// A flag key's value: on only when the text reads as exactly the number 1 (1, 1.0, 01, " 1").
bool FlagSetting(std::string_view text);

// Writes one key of section "Configuration": `value` is the key's text ("1"/"0" for flags, plain
// decimal for numbers). The settings file is the writer the program uses; the window and the
// dialogs write through this interface only, so that tests can record what they write. The result
// tells whether the key reached the file, for callers that care (tests); the program's rules do
// not examine it.
class SettingsKeyWriter {
 public:
  virtual ~SettingsKeyWriter() = default;
  virtual bool WriteKey(std::string_view key, std::string_view value) = 0;
};

// The writers of the eight settings: each first updates `settings`, then writes its key through
// `writer`. None checks a range. A failed write is not reported and the new value stays in
// `settings`.
bool WriteTemporisation(SettingsKeyWriter& writer, Settings& settings, std::int32_t value);
bool WriteWinComments(SettingsKeyWriter& writer, Settings& settings, bool on);
bool WriteMacComments(SettingsKeyWriter& writer, Settings& settings, bool on);
bool WriteTimeSeconds(SettingsKeyWriter& writer, Settings& settings, bool on);
bool WriteMaxWinComments(SettingsKeyWriter& writer, Settings& settings, std::int16_t value);
bool WriteMaxSelectedEvents(SettingsKeyWriter& writer, Settings& settings, std::int16_t value);
bool WriteAutomatic(SettingsKeyWriter& writer, Settings& settings, bool on);
bool WritePerformance(SettingsKeyWriter& writer, Settings& settings, std::int16_t value);

class SettingsFile final : public SettingsKeyWriter {
 public:
  // `beforeReplace` is passed to every write (tests use it to interrupt one).
  explicit SettingsFile(std::string path, platform::ProfileWriteHook beforeReplace = {});

  const std::string& path() const { return path_; }

  // The eight keys of "Configuration", in the order start-up reads them, by the reading rules;
  // anything missing or unreadable gives the default of its field.
  Settings ReadConfiguration() const;

  // One key of "Configuration", through the platform's profile functions (and the write hook).
  bool WriteKey(std::string_view key, std::string_view value) override;

  // "SecurityLog" of "Platform": the log file the scan reads; kDefaultSecurityLog when missing
  // or empty. A relative name is taken from the folder of the settings file, also after the
  // "samba-audit:" of a full_audit log (whose "samba-audit:journal" names no file).
  std::string SecurityLogPath() const;
  // The keys "A" to "Z" (either case) of "Drives", each a local folder; other keys and values
  // that are not absolute folders are ignored.
  platform::PathMap ReadDrives() const;
  // "AuditedFolders" of "Platform": the absolute folders it lists (others are ignored), empty
  // when it lists none.
  std::vector<std::string> ReadAuditedFolders() const;

 private:
  std::string path_;
  platform::ProfileWriteHook beforeReplace_;
};

}  // namespace qs
