#include "ui/Resources.h"

#include <QImage>
#include <QPainter>
#include <map>

#include "platform/StringTable.h"
#include "ui/Pictures.h"

namespace corvale::ui {
namespace {

std::map<uint32_t, QPixmap>& Cache() {
  static auto* cache = new std::map<uint32_t, QPixmap>;
  return *cache;
}

}  // namespace

bool HasResource(ResourceId resource) {
  switch (resource.type) {
    case ResourceType::String:
      return !corvale::LoadText(resource.id).empty();
    case ResourceType::Bitmap:
      return FindPicture(resource.id) != nullptr;
  }
  return false;
}

QString LoadStringResource(uint32_t id) { return QString::fromStdString(corvale::LoadText(id)); }

QPixmap LoadBitmapResource(uint32_t id) {
  auto found = Cache().find(id);
  if (found != Cache().end()) return found->second;
  const PictureSpec* picture = FindPicture(id);
  if (!picture) return QPixmap();
  QImage image(picture->width, picture->height, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    picture->draw(painter, QSize(picture->width, picture->height));
  }
  QPixmap pixmap = QPixmap::fromImage(image);
  Cache().emplace(id, pixmap);
  return pixmap;
}

QSize BitmapResourceSize(uint32_t id) {
  const PictureSpec* picture = FindPicture(id);
  return picture ? QSize(picture->width, picture->height) : QSize();
}

void ReleaseBitmapResources() { Cache().clear(); }

QString StringOr(uint32_t id, const char* fallback) {
  const QString text = LoadStringResource(id);
  return text.isEmpty() ? QString::fromUtf8(fallback) : text;
}

std::string StringOrUtf8(uint32_t id, const char* fallback) {
  const QString text = LoadStringResource(id);
  return text.isEmpty() ? std::string(fallback) : text.toStdString();
}

}  // namespace corvale::ui
