#pragma once
// The Qt application of a test executable that drives widgets, on Qt's offscreen platform unless
// the environment names another one; and where the screenshot tests leave their pictures. Header
// only: only the suites that link Qt include it.

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdlib>
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

#ifdef CORVALE_SCREENSHOT_DIR
// Saves `image` as `<screenshot folder>/<name>.png` and returns the path, or empty on failure.
inline std::string SaveScreenshot(const QImage& image, const std::string& name) {
  QDir().mkpath(QStringLiteral(CORVALE_SCREENSHOT_DIR));
  const std::string path = std::string(CORVALE_SCREENSHOT_DIR) + "/" + name + ".png";
  return image.save(QString::fromStdString(path), "PNG") ? path : std::string();
}
#endif

}  // namespace corvale::test
