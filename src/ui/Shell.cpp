#include "ui/Shell.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <cstdio>

#include "platform/DesktopOpen.h"
#include "platform/TrustedFile.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"

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

constexpr uint32_t kStringUnableToOpen = 238;

// Waits, in the event loop of the interface's thread, for the handler's exit status on `fd` and
// reports a failure. Closes `fd`.
void WatchOutcome(int fd) {
  if (fd < 0) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() != app->thread()) {
    ::close(fd);
    return;
  }
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, app);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, fd] {
    unsigned char status = 0;
    ssize_t n;
    do {
      n = ::read(fd, &status, 1);
    } while (n < 0 && errno == EINTR);
    notifier->setEnabled(false);
    notifier->deleteLater();
    ::close(fd);
    if (n != 1 || status == 0) return;
    ShowMessageBox(OpenErrorText(ResultOfOpenerStatus(status)), GetProductTitle(), MessageIcon::Warning);
  });
}

// Shows the opener's answer: the message when nothing started, else a later failure.
bool Report(const platform::DesktopOpenResult& result) {
  if (!result.started) ShowMessageBox(result.message, GetProductTitle(), MessageIcon::Warning);
  WatchOutcome(result.outcomeFd);
  return result.started;
}

}  // namespace

std::string OpenErrorText(int result) {
  struct Reason {
    int result;
    uint32_t id;
    const char* text;
  };
  static const Reason kReasons[] = {
      {0, 225, "The operating system is out\nof memory or resources."},
      {2, 227, "The specified file is not found."},
      {3, 226, "The specific path is not found."},
      {5, 229, "The operating system denied\naccess to the specific file."},
      {8, 236, "There is not enough memory to complete the operation."},
      {11, 228, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
      {26, 237, "A sharing violation occurred."},
      {27, 230, "The filename association is\nincomplete or invalid."},
      {28, 233, "The DDE transaction could not\nbe completed because the request timed out."},
      {29, 232, "The DDE transaction is failed."},
      {30, 231,
       "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed."},
      {31, 235, "There is no application associated\nwith the given filename extension."},
      {32, 234, "The specified dynamic-link library is not found."},
  };
  std::string text = StringOrUtf8(kStringUnableToOpen, "Unable to open hyperlink:\n\n");
  for (const Reason& reason : kReasons)
    if (reason.result == result) return text + StringOrUtf8(reason.id, reason.text);
  return text + "Unknown Error (" + std::to_string(result) + ") occurred.";
}

int ResultOfOpenerStatus(int status) {
  switch (status) {
    case 2:
      return 2;
    case 3:
    case 126:
    case 127:
      return 31;
    case 4:
      return 27;
    default:
      return status;
  }
}

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
  return Report(platform::OpenForUser(address, kind));
}

bool ShowItemsInFolder(const std::string& folder, const std::vector<std::string>& items) {
  if (items.empty()) return OpenUrl(folder);
  if (const UrlHandler& handler = Urls()) return handler(folder);
  if (!WindowsAreVisible() && !platform::DesktopOpenerReplaced()) {
    std::fprintf(stderr, "open: %s\n", folder.c_str());
    return false;
  }
  return Report(platform::ShowItemsForUser(folder, items));
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
