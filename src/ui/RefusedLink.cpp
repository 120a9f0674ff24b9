#include "ui/RefusedLink.h"

#include "ui/Resources.h"

namespace corvale::ui {

std::string RefusedLinkText(const std::string& link) {
  QString text = LoadStringResource(kStringRefusedLink);
  text.replace(QStringLiteral("%s"), QString::fromStdString(link));
  return text.toStdString();
}

}  // namespace corvale::ui
