#pragma once
// The message shown when a folder the user chose to save into is reached through a link of another
// user, which the program does not follow when it writes (platform/FolderWalk.h).

#include <cstdint>
#include <string>

namespace corvale::ui {

inline constexpr uint32_t kStringRefusedLink = 62011;

// Text 62011 with the link named in it.
std::string RefusedLinkText(const std::string& link);

}  // namespace corvale::ui
