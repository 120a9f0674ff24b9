#include "controls/HelpFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "platform/StringTable.h"
#include "platform/TrustedFile.h"
#include "ui/Shell.h"

namespace {

enum class Page { kMissing, kRefused, kUsable };

// Whether the page `name` of the opened help folder may be handed to the browser. Running as root,
// the person who asked gets only pages root put there: a page another user wrote would run their
// script in that person's browser.
Page CheckPage(int folder, const std::string& name, const std::string& path) {
  if (folder < 0) return Page::kMissing;
  std::string why;
  const int fd = platform::OpenTrustedFileAt(folder, name, path, &why);
  if (fd >= 0) {
    ::close(fd);
    return Page::kUsable;
  }
  return errno == ENOENT ? Page::kMissing : Page::kRefused;
}

std::string& ChosenHelpFolder() {
  static std::string folder;
  return folder;
}

}  // namespace

std::string HelpFolder() {
  if (!ChosenHelpFolder().empty()) return ChosenHelpFolder();
  return platform::ExecutableDirectory() + corvale::LoadText(kStringHelpFileName) + "/";
}

void SetHelpFolder(const std::string& folder) {
  ChosenHelpFolder() = folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

int ShowHelpFile(QWidget* /*owner*/, int contextId) {
  const std::string folder = HelpFolder();
  std::string why;
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat st {};
  if (folderFd >= 0 && (::fstat(folderFd, &st) != 0 || !platform::IsTrustedFolderStatus(st, &why))) {
    LogError("The help folder %s is not used: %s", folder.c_str(), why.c_str());
    ::close(folderFd);
    return 0;
  }
  for (const std::string& name : {std::to_string(contextId) + ".html", std::string("index.html")}) {
    const Page page = CheckPage(folderFd, name, folder + name);
    if (page == Page::kMissing) continue;
    // A refused page is logged and opens nothing, not even the index in its place.
    if (page == Page::kUsable) corvale::ui::OpenUrl(folder + name);
    if (folderFd >= 0) ::close(folderFd);
    return 0;
  }
  DebugTrace("No help page for topic %d in %s", contextId, folder.c_str());
  if (folderFd >= 0) ::close(folderFd);
  return 0;
}
