#include "ui/Shell.h"

#include <QDesktopServices>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <cstdio>

#include "ui/MessageBox.h"

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
  if (!WindowsAreVisible()) {
    std::fprintf(stderr, "open: %s\n", address.c_str());
    return false;
  }
  const QString text = QString::fromStdString(address);
  const QUrl url = text.startsWith('/') ? QUrl::fromLocalFile(text) : QUrl(text, QUrl::StrictMode);
  return url.isValid() && QDesktopServices::openUrl(url);
}

UrlHandler SetUrlHandler(UrlHandler handler) {
  std::swap(Urls(), handler);
  return handler;
}

bool StartProgram(const std::string& program, const std::vector<std::string>& arguments) {
  if (const ProgramStarter& starter = Starter()) return starter(program, arguments);
  QStringList args;
  for (const std::string& argument : arguments) args << QString::fromStdString(argument);
  return QProcess::startDetached(QString::fromStdString(program), args);
}

ProgramStarter SetProgramStarter(ProgramStarter starter) {
  std::swap(Starter(), starter);
  return starter;
}

}  // namespace corvale::ui
