#include "controls/HelpFile.h"

#include <sys/stat.h>

#include <string>

#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "platform/StringTable.h"
#include "ui/Shell.h"

namespace {

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
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
  const std::string topic = folder + std::to_string(contextId) + ".html";
  const std::string index = folder + "index.html";
  if (IsFile(topic)) {
    corvale::ui::OpenUrl(topic);
  } else if (IsFile(index)) {
    corvale::ui::OpenUrl(index);
  } else {
    DebugTrace("No help page for topic %d in %s", contextId, folder.c_str());
  }
  return 0;
}
