#pragma once
// The Qt application of a test executable that drives widgets, on Qt's offscreen platform unless
// the environment names another one; and where the screenshot tests leave their pictures. Header
// only: only the suites that link Qt include it.

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <string>

namespace corvale::test {

inline QApplication& TestApplication() {
  static int argc = 1;
  static char name[] = "corvale-tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return existing;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return new QApplication(argc, argv);
  }();
  return *app;
}

// Hands the next modal dialog to `use` once it is shown (the dialog runs its own event loop); `use`
// must end the dialog. Call before the step that opens the dialog.
inline void HandleNextModalDialog(std::function<void(QDialog&)> use) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, use = std::move(use)] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    use(*dialog);
  });
  timer->start();
}

#ifdef CORVALE_SCREENSHOT_DIR
// Saves `image` as `<screenshot folder>/<name>.png` and returns the path, or empty on failure.
inline std::string SaveScreenshot(const QImage& image, const std::string& name) {
  QDir().mkpath(QStringLiteral(CORVALE_SCREENSHOT_DIR));
  const std::string path = std::string(CORVALE_SCREENSHOT_DIR) + "/" + name + ".png";
  return image.save(QString::fromStdString(path), "PNG") ? path : std::string();
}
#endif

}  // namespace corvale::test
