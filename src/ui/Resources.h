#pragma once
// The program's resources, found by their type and their number: texts (the string tables of the
// user's language, with English built in) and bitmaps. The same number may name a text and a
// bitmap that have nothing to do with each other (string 434 and bitmap 434), so a resource is
// always asked for by both.
//
// Every bitmap is our own drawing, made by the painter code of Pictures.h the first time it is asked
// for and then kept. Bitmaps with a colour key (one colour that their users leave transparent) are
// drawn on that exact colour.
//
// Bitmaps are made and kept on the user-interface thread only.

#include <QPixmap>
#include <QSize>
#include <QString>
#include <cstdint>
#include <string>

namespace corvale::ui {

enum class ResourceType { String, Bitmap };

struct ResourceId {
  ResourceType type;
  uint32_t id;
  friend bool operator==(const ResourceId&, const ResourceId&) = default;
};

// True when the resource exists: a text that the language's table or the English table holds, or a
// bitmap the program draws.
bool HasResource(ResourceId resource);

// Text `id` in the user's language, English when the language lacks it, empty when neither has it.
QString LoadStringResource(uint32_t id);

// Text `id` as LoadStringResource gives it, or `fallback` (UTF-8) when no table holds it: the one
// way a control names a text it must show even when the string table lacks it.
QString StringOr(uint32_t id, const char* fallback);
// The same as UTF-8, for the controllers and engines that keep std::string.
std::string StringOrUtf8(uint32_t id, const char* fallback);

// Bitmap `id`, or a null pixmap when there is no such bitmap.
QPixmap LoadBitmapResource(uint32_t id);
// The size of bitmap `id` without drawing it; an empty size when there is no such bitmap.
QSize BitmapResourceSize(uint32_t id);

// Forgets every bitmap drawn so far (they are drawn again on the next request), e.g. before the
// application object that owns the pixmaps goes away.
void ReleaseBitmapResources();

}  // namespace corvale::ui
