#include "controls/HelpFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "platform/StringTable.h"
#include "platform/TrustedFile.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
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

constexpr int kResultFileNotFound = 2;
constexpr int kResultAccessDenied = 5;

void ShowFailure(int result) {
  corvale::ui::ShowMessageBox(corvale::ui::OpenErrorText(result), GetProductTitle(),
                              corvale::ui::MessageIcon::Warning);
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

namespace {

// Opens the first of `names` that the help folder holds. A help that cannot be opened says so: a
// missing page as a file not found, a refused one as access denied.
void OpenFirstPage(const std::vector<std::string>& names) {
  const std::string folder = HelpFolder();
  std::string why;
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat st {};
  if (folderFd >= 0 && (::fstat(folderFd, &st) != 0 || !platform::IsTrustedFolderStatus(st, &why))) {
    LogError("The help folder %s is not used: %s", folder.c_str(), why.c_str());
    ::close(folderFd);
    ShowFailure(kResultAccessDenied);
    return;
  }
  for (const std::string& name : names) {
    const Page page = CheckPage(folderFd, name, folder + name);
    if (page == Page::kMissing) continue;
    if (folderFd >= 0) ::close(folderFd);
    // A refused page is logged and opens nothing, not even the index in its place.
    if (page == Page::kUsable)
      corvale::ui::OpenUrl(folder + name);
    else
      ShowFailure(kResultAccessDenied);
    return;
  }
  DebugTrace("No help page %s in %s", names.front().c_str(), folder.c_str());
  if (folderFd >= 0) ::close(folderFd);
  ShowFailure(kResultFileNotFound);
}

}  // namespace

int ShowHelpFile(QWidget* /*owner*/, int contextId) {
  OpenFirstPage({std::to_string(contextId) + ".html", std::string("index.html")});
  return 0;
}

void ShowHelpContents() { OpenFirstPage({std::string("index.html")}); }
