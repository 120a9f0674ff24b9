#include "ui/Shell.h"

#include <sys/stat.h>

#include <cstdio>

#include "platform/DesktopOpen.h"
#include "platform/TrustedFile.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"

extern char** environ;

namespace corvale::ui {
namespace {

UrlHandler& Urls() {
  static UrlHandler* handler = new UrlHandler;
  return *handler;
}

ProgramStarter& Starter() {
  static ProgramStarter* starter = new ProgramStarter;
  return *starter;
}

}  // namespace

bool OpenUrl(const std::string& address) {
  if (const UrlHandler& handler = Urls()) return handler(address);
  if (address.empty()) return false;
  if (!WindowsAreVisible() && !platform::DesktopOpenerReplaced()) {
    std::fprintf(stderr, "open: %s\n", address.c_str());
    return false;
  }
  platform::DesktopItem kind = platform::DesktopItem::kAddress;
  if (address[0] == '/') {
    struct stat st {};
    kind = ::stat(address.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? platform::DesktopItem::kFolder
                                                                    : platform::DesktopItem::kFile;
  }
  const platform::DesktopOpenResult result = platform::OpenForUser(address, kind);
  if (!result.started) ShowMessageBox(result.message, GetProductTitle(), MessageIcon::Warning);
  return result.started;
}

UrlHandler SetUrlHandler(UrlHandler handler) {
  std::swap(Urls(), handler);
  return handler;
}

bool StartProgram(const std::string& program, const std::vector<std::string>& arguments) {
  if (const ProgramStarter& starter = Starter()) return starter(program, arguments);
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
  std::string why;
  return platform::StartTrustedProgram(program, argv, env, true, &why) >= 0;
}

ProgramStarter SetProgramStarter(ProgramStarter starter) {
  std::swap(Starter(), starter);
  return starter;
}

}  // namespace corvale::ui
