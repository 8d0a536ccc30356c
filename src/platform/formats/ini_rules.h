// The INI rules on a file's content held in memory (the rules themselves are told in
// platform/profile.h, which also declares ProfileStringIn and ProfileWithKey). The file functions
// of the platform read and write the bytes and leave the meaning to these.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/profile.h"

namespace qs::platform {

// The keys of the first section named `section`, in file order, each name once (its first key),
// with their values; empty when the section is missing.
std::vector<std::pair<std::string, std::string>> ProfileSectionIn(
    std::string_view content, std::string_view section, std::size_t maxLength = kMaxProfileValue);

// Whether a write of these names and value keeps the line structure (see the writing rules).
bool ProfileNamesValid(std::string_view section, std::string_view key, std::string_view value);

}  // namespace qs::platform
