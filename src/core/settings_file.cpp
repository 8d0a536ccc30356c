#include "core/settings_file.h"

#include <limits>

#include "core/text_number.h"
#include "platform/formats/samba_audit_parser.h"
#include "platform/program_folder.h"

namespace qs {

namespace {

// Paths are not cut to the limit of the eight settings: a cut path would name another file.
constexpr std::size_t kMaxPathValue = 4096;

constexpr std::int32_t kInt16Min = std::numeric_limits<std::int16_t>::min();
constexpr std::int32_t kInt16Max = std::numeric_limits<std::int16_t>::max();
constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

std::string_view FlagText(bool on) { return on ? "1" : "0"; }

}  // namespace

std::string SettingsFilePathIn(std::string_view programFolder) {
  return std::string(programFolder) + "/" + "Quillstamp" + ".ini";
}

std::optional<std::string> SettingsFilePath() {
  const std::optional<std::string> folder = platform::ProgramFolder();
  if (!folder) return std::nullopt;
  return SettingsFilePathIn(*folder);
}

std::int32_t NumberSetting(std::string_view text, std::int32_t defaultValue, std::int32_t minimum,
                           std::int32_t maximum) {
  const double rounded = RoundHalfEven(TextToNumber(text));
  // NaN cannot come from the rule, but fails both tests and so would fall to the default too.
  if (!(rounded >= minimum && rounded <= maximum)) return defaultValue;
  const auto value = static_cast<std::int32_t>(rounded);
  return value == 0 ? defaultValue : value;
}

bool FlagSetting(std::string_view text) { return TextToNumber(text) == 1.0; }

SettingsFile::SettingsFile(std::string path, platform::ProfileWriteHook beforeReplace)
    : path_(std::move(path)), beforeReplace_(std::move(beforeReplace)) {}

Settings SettingsFile::ReadConfiguration() const {
  const auto read = [this](std::string_view key) {
    return platform::ReadIniString(kConfigurationSection, key, "", path_);
  };
  const Settings defaults;
  Settings s;
  // The wait counts down one below the setting (Timer1_Timer), so the lowest 32-bit value would
  // overflow there; it is treated as not fitting the field.
  s.Temporisation =
      NumberSetting(read(kKeyTemporisation), defaults.Temporisation, kInt32Min + 1, kInt32Max);
  s.WinComments = FlagSetting(read(kKeyWinComments));
  s.MacComments = FlagSetting(read(kKeyMacComments));
  s.TimeSeconds = FlagSetting(read(kKeyTimeSeconds));
  // The comment is cut to this many characters, existing lines included: a limit below 1 would
  // empty every comment it touched and add nothing, so a file edited by hand to such a value gets
  // the default instead of erasing comments the program never wrote.
  s.MaxWinComments = static_cast<std::int16_t>(
      NumberSetting(read(kKeyMaxWinComments), defaults.MaxWinComments, 1, kInt16Max));
  s.MaxSelectedEvents = static_cast<std::int16_t>(
      NumberSetting(read(kKeyMaxSelectedEvents), defaults.MaxSelectedEvents, kInt16Min, kInt16Max));
  s.Automatic = FlagSetting(read(kKeyAutomatic));
  s.Performance = static_cast<std::int16_t>(
      NumberSetting(read(kKeyPerformance), defaults.Performance, kInt16Min, kInt16Max));
  return s;
}

bool SettingsFile::WriteKey(std::string_view key, std::string_view value) {
  return platform::WriteIniString(kConfigurationSection, key, value, path_, beforeReplace_);
}

bool WriteTemporisation(SettingsKeyWriter& writer, Settings& settings, std::int32_t value) {
  settings.Temporisation = value;
  return writer.WriteKey(kKeyTemporisation, std::to_string(value));
}

bool WriteWinComments(SettingsKeyWriter& writer, Settings& settings, bool on) {
  settings.WinComments = on;
  return writer.WriteKey(kKeyWinComments, FlagText(on));
}

bool WriteMacComments(SettingsKeyWriter& writer, Settings& settings, bool on) {
  settings.MacComments = on;
  return writer.WriteKey(kKeyMacComments, FlagText(on));
}

bool WriteTimeSeconds(SettingsKeyWriter& writer, Settings& settings, bool on) {
  settings.TimeSeconds = on;
  return writer.WriteKey(kKeyTimeSeconds, FlagText(on));
}

bool WriteMaxWinComments(SettingsKeyWriter& writer, Settings& settings, std::int16_t value) {
  settings.MaxWinComments = value;
  return writer.WriteKey(kKeyMaxWinComments, std::to_string(value));
}

bool WriteMaxSelectedEvents(SettingsKeyWriter& writer, Settings& settings, std::int16_t value) {
  settings.MaxSelectedEvents = value;
  return writer.WriteKey(kKeyMaxSelectedEvents, std::to_string(value));
}

bool WriteAutomatic(SettingsKeyWriter& writer, Settings& settings, bool on) {
  settings.Automatic = on;
  return writer.WriteKey(kKeyAutomatic, FlagText(on));
}

bool WritePerformance(SettingsKeyWriter& writer, Settings& settings, std::int16_t value) {
  settings.Performance = value;
  return writer.WriteKey(kKeyPerformance, std::to_string(value));
}

namespace {

// A path that names its file whatever the current folder: from a root (/var/log/x,
// \\server\share\x.evt, \logs\x.evt) or with a drive letter (C:\Logs\x.evt).
bool IsAbsolutePath(std::string_view path) {
  if (path.empty()) return false;
  if (path[0] == '/' || path[0] == '\\') return true;
  const char drive = path[0];
  return path.size() >= 2 && path[1] == ':' &&
         ((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z'));
}

}  // namespace

std::string SettingsFile::SecurityLogPath() const {
  std::string log =
      platform::ReadIniString(kPlatformSection, kKeySecurityLog, "", path_, kMaxPathValue);
  if (log.empty()) return std::string(kDefaultSecurityLog);
  // A full_audit log is named by its kind, then its file (or the journal).
  std::string kind;
  if (log.starts_with(platform::samba_audit::kLogScheme)) {
    kind = platform::samba_audit::kLogScheme;
    log.erase(0, kind.size());
    if (log.empty() || log == platform::samba_audit::kJournal) return kind + log;
  }
  if (IsAbsolutePath(log)) return kind + log;
  // A relative name is taken from the folder of this file, the program's own, so that it names
  // the same log whatever folder the program was started from.
  const std::size_t slash = path_.rfind('/');
  if (slash == std::string::npos) return kind + log;
  return kind + path_.substr(0, slash + 1) + log;
}

std::vector<std::string> SettingsFile::ReadAuditedFolders() const {
  const std::string list =
      platform::ReadIniString(kPlatformSection, kKeyAuditedFolders, "", path_, kMaxPathValue);
  std::vector<std::string> folders;
  std::size_t begin = 0;
  while (begin <= list.size()) {
    std::size_t end = list.find(':', begin);
    if (end == std::string::npos) end = list.size();
    std::string folder = list.substr(begin, end - begin);
    while (!folder.empty() && (folder.back() == ' ' || folder.back() == '\t')) folder.pop_back();
    folder.erase(0, folder.find_first_not_of(" \t"));
    if (!folder.empty() && folder.front() == '/') folders.push_back(std::move(folder));
    begin = end + 1;
  }
  return folders;
}

platform::PathMap SettingsFile::ReadDrives() const {
  platform::PathMap drives;
  for (const auto& [key, folder] : platform::ReadIniSection(kDrivesSection, path_, kMaxPathValue)) {
    if (key.size() != 1) continue;
    const char letter = key[0];
    if ((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) {
      drives.SetDrive(letter, folder);
    }
  }
  return drives;
}

}  // namespace qs
