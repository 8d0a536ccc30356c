#include "platform/posix/account_database.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <unordered_map>
#include <vector>

namespace qs::platform::audit {

UserNameLookup AccountDatabaseLookup() {
  auto cache = std::make_shared<std::unordered_map<std::uint32_t, std::optional<std::string>>>();
  return [cache](std::uint32_t uid) -> std::optional<std::string> {
    if (auto it = cache->find(uid); it != cache->end()) return it->second;
    std::optional<std::string> name;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    while (true) {
      const int rc = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result);
      if (rc == ERANGE && buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
        continue;
      }
      if (rc == 0 && result != nullptr && result->pw_name != nullptr) name = result->pw_name;
      break;
    }
    cache->emplace(uid, name);
    return name;
  };
}

}  // namespace qs::platform::audit
