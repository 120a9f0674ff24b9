#include "app/MessageBox.h"

#include <cstdio>
#include <mutex>

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QString>

namespace corvale::ui {
namespace {

MessageBoxHandler& Handler() {
  static MessageBoxHandler* handler = new MessageBoxHandler;
  return *handler;
}

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::Question: return QMessageBox::Question;
  }
  return QMessageBox::Information;
}

}  // namespace

bool WindowsAreVisible() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void ShowMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
  if (const MessageBoxHandler& handler = Handler()) {
    handler(text, caption, icon);
    return;
  }
  if (!WindowsAreVisible()) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return;
  }
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok);
  box.exec();
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  std::swap(Handler(), handler);
  return handler;
}

}  // namespace corvale::ui
