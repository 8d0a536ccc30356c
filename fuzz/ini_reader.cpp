// Settings files of any content: reading never fails, and a write changes only what it must.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/text_number.h"
#include "platform/profile.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qs::platform;
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  const char* keys[] = {"Temporisation", "WinComments", "MaxSelectedEvents", "D", "x"};
  const char* sections[] = {"Configuration", "Drives", "x"};

  for (const char* section : sections) {
    for (const char* key : keys) {
      const std::string value = ProfileStringIn(content, section, key, "");
      Check(value.size() <= kMaxProfileValue);
      const double number = qs::TextToNumber(value);
      (void)qs::RoundHalfEven(number);
    }
  }

  // Setting one key gives that key its value and leaves every other key as it read before.
  const std::optional<std::string> written =
      ProfileWithKey(content, "Configuration", "Temporisation", "42");
  if (written) {
    Check(ProfileStringIn(*written, "Configuration", "Temporisation", "") == "42");
    for (const char* section : sections) {
      for (const char* key : keys) {
        if (std::string_view(section) == "Configuration" &&
            std::string_view(key) == "Temporisation") {
          continue;
        }
        Check(ProfileStringIn(*written, section, key, "") ==
              ProfileStringIn(content, section, key, ""));
      }
    }
  }
  return 0;
}
