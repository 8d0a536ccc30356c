#include "ui/core/settings_file.h"

#include <limits>

#include "platform/program_folder.h"
#include "ui/core/text_number.h"

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
    return platform::GetPrivateProfileString(kConfigurationSection, key, "", path_);
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
  s.MaxWinComments = static_cast<std::int16_t>(
      NumberSetting(read(kKeyMaxWinComments), defaults.MaxWinComments, kInt16Min, kInt16Max));
  s.MaxSelectedEvents = static_cast<std::int16_t>(
      NumberSetting(read(kKeyMaxSelectedEvents), defaults.MaxSelectedEvents, kInt16Min, kInt16Max));
  s.Automatic = FlagSetting(read(kKeyAutomatic));
  s.Performance = static_cast<std::int16_t>(
      NumberSetting(read(kKeyPerformance), defaults.Performance, kInt16Min, kInt16Max));
  return s;
}

bool SettingsFile::WriteKey(std::string_view key, std::string_view value) const {
  return platform::WritePrivateProfileString(kConfigurationSection, key, value, path_,
                                             beforeReplace_);
}

bool SettingsFile::WriteTemporisation(Settings& settings, std::int32_t value) const {
  settings.Temporisation = value;
  return WriteKey(kKeyTemporisation, std::to_string(value));
}

bool SettingsFile::WriteWinComments(Settings& settings, bool on) const {
  settings.WinComments = on;
  return WriteKey(kKeyWinComments, FlagText(on));
}

bool SettingsFile::WriteMacComments(Settings& settings, bool on) const {
  settings.MacComments = on;
  return WriteKey(kKeyMacComments, FlagText(on));
}

bool SettingsFile::WriteTimeSeconds(Settings& settings, bool on) const {
  settings.TimeSeconds = on;
  return WriteKey(kKeyTimeSeconds, FlagText(on));
}

bool SettingsFile::WriteMaxWinComments(Settings& settings, std::int16_t value) const {
  settings.MaxWinComments = value;
  return WriteKey(kKeyMaxWinComments, std::to_string(value));
}

bool SettingsFile::WriteMaxSelectedEvents(Settings& settings, std::int16_t value) const {
  settings.MaxSelectedEvents = value;
  return WriteKey(kKeyMaxSelectedEvents, std::to_string(value));
}

bool SettingsFile::WriteAutomatic(Settings& settings, bool on) const {
  settings.Automatic = on;
  return WriteKey(kKeyAutomatic, FlagText(on));
}

bool SettingsFile::WritePerformance(Settings& settings, std::int16_t value) const {
  settings.Performance = value;
  return WriteKey(kKeyPerformance, std::to_string(value));
}

std::string SettingsFile::SecurityLogPath() const {
  std::string log = platform::GetPrivateProfileString(kPlatformSection, kKeySecurityLog, "", path_,
                                                      kMaxPathValue);
  return log.empty() ? std::string(kDefaultSecurityLog) : log;
}

platform::PathMap SettingsFile::ReadDrives() const {
  platform::PathMap drives;
  for (const auto& [key, folder] :
       platform::GetPrivateProfileSection(kDrivesSection, path_, kMaxPathValue)) {
    if (key.size() != 1) continue;
    const char letter = key[0];
    if ((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) {
      drives.SetDrive(letter, folder);
    }
  }
  return drives;
}

}  // namespace qs
