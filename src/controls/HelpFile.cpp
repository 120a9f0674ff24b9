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

}  // namespace

int ShowHelpFile(QWidget* /*owner*/, int contextId) {
  const std::string folder = platform::ExecutableDirectory() + corvale::LoadText(kStringHelpFileName) + "/";
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
