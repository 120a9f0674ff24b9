// The launcher QBX. It has no window of its own; a refusal is shown in a message box.
#include <sys/stat.h>

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "launcher/Launcher.h"
#include "launcher/Restart.h"
#include "platform/ProgramFolder.h"

namespace {

// True when Qt would show a window somewhere a person can see it. On the offscreen and minimal
// platforms, or with no display at all, nobody could close a box, so the text goes to stderr only.
bool CanShowWindows() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && (std::strncmp(platform, "offscreen", 9) == 0 || std::strncmp(platform, "minimal", 7) == 0))
    return false;
  if (platform && platform[0]) return true;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && x11[0]) || (wayland && wayland[0]);
}

void ShowMessage(const std::string& text, const std::string& caption) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  if (!CanShowWindows()) return;
  static int argc = 1;
  static char name[] = "QBX";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QApplication> app;
  if (!QApplication::instance()) app = std::make_unique<QApplication>(argc, argv);
  QMessageBox::information(nullptr, QString::fromStdString(caption), QString::fromStdString(text));
}

}  // namespace

int main(int argc, char** argv) {
  // Everything the launcher makes (its log, its lock files) is the user's alone.
  umask(077);
  if (std::string problem = platform::UntrustedExecutableFolderText(); !problem.empty()) {
    ShowMessage(problem, "Corvale");
    return 1;
  }
  corvale::launcher::LauncherServices services;
  services.messageBox = ShowMessage;
  services.watch = corvale::launcher::DefaultWatchSettings();
  // Started again after a change of language: the first run's log goes on.
  services.watch.keepLog = argc > 1 && std::strcmp(argv[1], corvale::launcher::kRestartedArgument) == 0;
  return corvale::launcher::LauncherMain(services);
}
