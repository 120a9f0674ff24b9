#pragma once
// The pictures of the file views and of the dialogs around them: folder images of the file tree,
// the picture buttons of the file list, the deleted-file mark, the generic file icon and the states
// legend and its letters.

#include <QPainter>
#include <QSize>
#include <cstdint>
#include <functional>

namespace corvale::ui::pictures {

using PictureAdder = std::function<void(uint32_t id, int width, int height,
                                        std::function<void(QPainter&, const QSize&)> draw)>;

// Adds every picture of the file views through `add`.
void AddFileViewPictures(const PictureAdder& add);

}  // namespace corvale::ui::pictures
