#include "ui/MessageBox.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QString>
#include <cstdio>

namespace corvale::ui {
namespace {

MessageBoxHandler& Handler() {
  static MessageBoxHandler* handler = new MessageBoxHandler;
  return *handler;
}

QuestionHandler& Questions() {
  static QuestionHandler* handler = new QuestionHandler;
  return *handler;
}

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::Information;
}

bool& RealBoxesEverywhere() {
  static bool show = false;
  return show;
}

// Whether a box is shown as a window, or only written to stderr.
bool ShowsBoxes() { return WindowsAreVisible() || RealBoxesEverywhere(); }

}  // namespace

void ShowRealBoxesEverywhere(bool show) { RealBoxesEverywhere() = show; }

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
  if (!ShowsBoxes()) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return;
  }
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok);
  box.exec();
}

MessageAnswer AskMessageBox(const std::string& text, const std::string& caption, MessageButtons buttons,
                            MessageIcon icon) {
  if (const QuestionHandler& handler = Questions()) return handler(text, caption, buttons, icon);
  const bool yesNo = buttons == MessageButtons::YesNo;
  if (!ShowsBoxes()) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return yesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
  }
  QMessageBox::StandardButtons qtButtons = QMessageBox::Ok;
  if (buttons == MessageButtons::OkCancel) qtButtons = QMessageBox::Ok | QMessageBox::Cancel;
  if (yesNo) qtButtons = QMessageBox::Yes | QMessageBox::No;
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text), qtButtons);
  switch (box.exec()) {
    case QMessageBox::Ok:
      return MessageAnswer::Ok;
    case QMessageBox::Yes:
      return MessageAnswer::Yes;
    case QMessageBox::No:
      return MessageAnswer::No;
    default:
      return yesNo ? MessageAnswer::No : MessageAnswer::Cancel;
  }
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  std::swap(Handler(), handler);
  return handler;
}

QuestionHandler SetQuestionHandler(QuestionHandler handler) {
  std::swap(Questions(), handler);
  return handler;
}

}  // namespace corvale::ui
