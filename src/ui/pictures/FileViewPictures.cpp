#include "ui/pictures/FileViewPictures.h"

#include <QPainterPath>
#include <QString>

#include "ui/Pictures.h"
#include "ui/pictures/Painters.h"

namespace corvale::ui::pictures {
namespace {

const QColor kFolderFace(241, 196, 15);
const QColor kFolderEdge(183, 149, 11);
const QColor kButtonFace(40, 116, 166);
const QColor kButtonHover(52, 152, 219);
const QColor kButtonPushed(27, 79, 114);
const QColor kButtonDisabled(189, 195, 199);
const QColor kDeletedRed(192, 57, 43);
const QColor kText(33, 47, 61);

void DrawFolder(QPainter& p, const QRectF& r, const QColor& face, const QColor& edge) {
  QPainterPath path;
  path.moveTo(r.left(), r.top() + r.height() * 0.2);
  path.lineTo(r.left() + r.width() * 0.4, r.top() + r.height() * 0.2);
  path.lineTo(r.left() + r.width() * 0.5, r.top() + r.height() * 0.32);
  path.lineTo(r.right(), r.top() + r.height() * 0.32);
  path.lineTo(r.right(), r.bottom());
  path.lineTo(r.left(), r.bottom());
  path.closeSubpath();
  p.setPen(QPen(edge, 1.0));
  p.setBrush(face);
  p.drawPath(path);
}

// Five 16 x 16 folder images: a partition (a drive), a folder, a deleted folder (with a red cross),
// a lost folder (grey), a temporary folder (dashed).
void DrawFolderStrip(QPainter& p, const QSize& size) {
  p.fillRect(QRect(QPoint(0, 0), size), QColor(255, 0, 255));
  p.setRenderHint(QPainter::Antialiasing, true);
  for (int i = 0; i < 5; ++i) {
    const QRectF cell(i * 16 + 1.5, 2.5, 13, 11);
    if (i == 0) {
      p.setPen(QPen(QColor(93, 109, 126), 1.0));
      p.setBrush(QColor(214, 219, 223));
      p.drawRoundedRect(cell.adjusted(0, 2, 0, 0), 2, 2);
      p.setBrush(QColor(46, 204, 113));
      p.setPen(Qt::NoPen);
      p.drawEllipse(QRectF(cell.right() - 4, cell.bottom() - 4, 3, 3));
      continue;
    }
    const QColor face = i == 3 ? QColor(170, 183, 184) : kFolderFace;
    DrawFolder(p, cell, face, i == 3 ? QColor(112, 123, 124) : kFolderEdge);
    if (i == 2) {
      p.setPen(QPen(kDeletedRed, 1.8));
      p.drawLine(QPointF(cell.left() + 4, cell.top() + 4), QPointF(cell.right() - 3, cell.bottom() - 1));
      p.drawLine(QPointF(cell.right() - 3, cell.top() + 4), QPointF(cell.left() + 4, cell.bottom() - 1));
    } else if (i == 4) {
      p.setPen(QPen(kText, 1.0, Qt::DotLine));
      p.setBrush(Qt::NoBrush);
      p.drawRect(cell.adjusted(2, 5, -2, -2));
    }
  }
}

void DrawListButton(QPainter& p, const QSize& size, const QString& label, ButtonState state) {
  p.fillRect(QRect(QPoint(0, 0), size), QColor(238, 242, 245));
  p.setRenderHint(QPainter::Antialiasing, true);
  QColor face = kButtonFace;
  if (state == ButtonState::Hover) face = kButtonHover;
  if (state == ButtonState::Pushed) face = kButtonPushed;
  if (state == ButtonState::Disabled) face = kButtonDisabled;
  p.setPen(Qt::NoPen);
  p.setBrush(face);
  p.drawRoundedRect(QRectF(1.5, 2.5, size.width() - 3, size.height() - 5), 3, 3);
  QFont font("Arial");
  font.setPixelSize(12);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter, label);
}

void DrawButtonRow(QPainter& p, const QSize& size) {
  p.fillRect(QRect(QPoint(0, 0), size), QColor(238, 242, 245));
  p.setPen(QColor(203, 212, 219));
  p.drawLine(0, size.height() - 1, size.width(), size.height() - 1);
}

// A red cross on the colour key, drawn over the icons of deleted files.
void DrawDeletedMark(QPainter& p, const QSize& size) {
  p.fillRect(QRect(QPoint(0, 0), size), QColor(255, 0, 255));
  p.setPen(QPen(kDeletedRed, 2.0));
  p.drawLine(1, 1, size.width() - 2, size.height() - 2);
  p.drawLine(size.width() - 2, 1, 1, size.height() - 2);
}

// A sheet of paper with a folded corner.
void DrawGenericFile(QPainter& p, const QSize& size) {
  p.fillRect(QRect(QPoint(0, 0), size), Qt::transparent);
  p.setRenderHint(QPainter::Antialiasing, true);
  const double w = size.width(), h = size.height();
  QPainterPath path;
  path.moveTo(w * 0.2, h * 0.05);
  path.lineTo(w * 0.62, h * 0.05);
  path.lineTo(w * 0.82, h * 0.27);
  path.lineTo(w * 0.82, h * 0.95);
  path.lineTo(w * 0.2, h * 0.95);
  path.closeSubpath();
  p.setPen(QPen(QColor(93, 109, 126), 1.0));
  p.setBrush(Qt::white);
  p.drawPath(path);
  p.drawLine(QPointF(w * 0.62, h * 0.05), QPointF(w * 0.62, h * 0.27));
  p.drawLine(QPointF(w * 0.62, h * 0.27), QPointF(w * 0.82, h * 0.27));
}

// The legend of the letters and colours with which the file views show attributes and states.
void DrawStatesLegend(QPainter& p, const QSize& size) {
  p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  QFont bold("Arial");
  bold.setPixelSize(11);
  bold.setBold(true);
  QFont plain("Arial");
  plain.setPixelSize(11);
  struct Row {
    const char* mark;
    const char* text;
    QColor color;
  };
  const Row attributes[] = {{"R", "Read-only", kText},
                            {"H", "Hidden", kText},
                            {"S", "System", kText},
                            {"A", "Archive", kText},
                            {"E", "Encrypted", QColor(0, 160, 0)},
                            {"C", "Compressed", QColor(0, 0, 255)}};
  const Row states[] = {{"D", "Deleted", kText}, {"L", "Lost", kText}, {"C", "Cross-linked", kText}};
  int y = 4;
  auto heading = [&](const char* text) {
    p.setFont(bold);
    p.setPen(kText);
    p.drawText(QRect(4, y, size.width() - 8, 14), Qt::AlignLeft | Qt::AlignVCenter, text);
    y += 14;
  };
  auto row = [&](const Row& r) {
    p.setFont(bold);
    p.setPen(r.color);
    p.drawText(QRect(10, y, 14, 12), Qt::AlignLeft | Qt::AlignVCenter, r.mark);
    p.setFont(plain);
    p.drawText(QRect(26, y, size.width() - 30, 12), Qt::AlignLeft | Qt::AlignVCenter, r.text);
    y += 12;
  };
  heading("Attributes");
  for (const Row& r : attributes) row(r);
  y += 3;
  heading("States");
  for (const Row& r : states) row(r);
  // The mark drawn over the icon of a deleted file.
  p.setPen(QPen(kDeletedRed, 2.0));
  p.drawLine(10, y + 3, 17, y + 10);
  p.drawLine(17, y + 3, 10, y + 10);
  p.setFont(plain);
  p.setPen(kText);
  p.drawText(QRect(26, y, size.width() - 30, 14), Qt::AlignLeft | Qt::AlignVCenter, "Deleted file");
}

}  // namespace

void AddFileViewPictures(const PictureAdder& add) {
  add(bitmap::kFolderStrip, 80, 16, DrawFolderStrip);
  add(bitmap::kFileListButtonRow, 16, 26, DrawButtonRow);
  add(bitmap::kDeletedMark, 10, 10, DrawDeletedMark);
  add(bitmap::kGenericFileIcon, 32, 32, DrawGenericFile);
  add(bitmap::kStatesLegend, 153, 158, DrawStatesLegend);
  add(buttons::kFilePageStrip, 681, 33,
      [](QPainter& p, const QSize& size) { p.fillRect(QRect(QPoint(0, 0), size), QColor(238, 242, 245)); });
  struct Set {
    ButtonBitmaps ids;
    const char* label;
    int width;
    int height;
  } sets[] = {{buttons::kFileListView, "View", 60, 26},
              {buttons::kFileListSelect, "Select", 60, 26},
              {buttons::kFileListDeselect, "Deselect", 70, 26},
              {buttons::kFileListState, "State", 60, 26},
              {buttons::kSearchFile, "Search File", 110, 33},
              {buttons::kFilePreview, "File Preview", 110, 33},
              {buttons::kSearchByCriteria, "Advanced Search", 130, 33},
              {buttons::kExportResult, "Export Result", 110, 33}};
  for (const Set& set : sets) {
    const std::pair<uint32_t, ButtonState> faces[] = {{set.ids.normal, ButtonState::Normal},
                                                      {set.ids.hover, ButtonState::Hover},
                                                      {set.ids.push, ButtonState::Pushed},
                                                      {set.ids.disable, ButtonState::Disabled}};
    for (const auto& [id, state] : faces) {
      const QString label = QString::fromUtf8(set.label);
      const ButtonState s = state;
      add(id, set.width, set.height,
          [label, s](QPainter& p, const QSize& size) { DrawListButton(p, size, label, s); });
    }
  }
}

}  // namespace corvale::ui::pictures
