#include "controls/PartitionLayoutFrame.h"

#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <algorithm>

#include "controls/Formatting.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"

namespace {

QString StringOr(uint32_t id, const char* fallback) {
  QString text = corvale::ui::LoadStringResource(id);
  return text.isEmpty() ? QString::fromUtf8(fallback) : text;
}

QFont LayoutFont(bool bold) {
  QFont font(QString::fromStdString(corvale::ui::GetUIFontName()));
  font.setPixelSize(14);
  font.setBold(bold);
  return font;
}

QRect RectFromEdges(int left, int top, int right, int bottom) {
  return QRect(left, top, right - left, bottom - top);
}

constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;

}  // namespace

bool PartitionBoxInfo::Overlaps(const PartitionBoxInfo& other) const {
  return BytesPerSector == other.BytesPerSector && FirstSector <= other.LastSector &&
         other.FirstSector <= LastSector;
}

bool PartitionBoxInfo::SameAs(const PartitionBoxInfo& other) const {
  return BytesPerSector == other.BytesPerSector && FirstSector == other.FirstSector &&
         LastSector == other.LastSector && FileSystemType == other.FileSystemType && Score == other.Score;
}

CPartitionLayoutView::CPartitionLayoutView(CPartitionLayoutFrame* frame)
    : QAbstractScrollArea(frame), m_frame(frame), m_font(LayoutFont(false)), m_boldFont(LayoutFont(true)) {
  setObjectName(QString::number(CPartitionLayoutFrame::kViewId));
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

int CPartitionLayoutView::GetContentHeight() const {
  return m_rows.empty() ? kRowHeight : static_cast<int>(m_rows.size()) * kRowHeight;
}

QRect CPartitionLayoutView::PlaceBox(const PartitionBoxInfo& info, const QRect& row, uint64_t diskSectors) {
  const double width = row.width();
  const double sectors = diskSectors ? static_cast<double>(diskSectors) : 1.0;
  // A partition reaching past the end of the source (a damaged record) stays inside the row.
  const double first = std::min(static_cast<double>(info.FirstSector), sectors);
  const double last = std::min(static_cast<double>(info.LastSector), sectors);
  int left = row.left() + static_cast<int>(width * first / sectors);
  int right = row.left() + static_cast<int>(width * last / sectors);
  int top = row.top() + 3;
  int bottom = row.top() + row.height() - 3;
  if (right - left >= 5) {
    left += 3;
    right -= 3;
  }
  return QRect(left, top, right - left, bottom - top);
}

void CPartitionLayoutView::AddPartitionBox(const PartitionBoxInfo& info) {
  for (Row& row : m_rows) {
    const bool clash = std::any_of(row.Boxes.begin(), row.Boxes.end(),
                                   [&](const Box& box) { return box.Info.Overlaps(info); });
    if (clash) continue;
    row.Boxes.push_back(Box{info, PlaceBox(info, row.Rect, m_diskSectors)});
    viewport()->update();
    return;
  }
  Row row;
  row.Boxes.push_back(Box{info, QRect()});
  m_rows.push_back(std::move(row));
  LayoutRows();
  m_frame->LayoutFrame();
}

void CPartitionLayoutView::RemovePartitionBox(const PartitionBoxInfo& info) {
  for (size_t i = 0; i < m_rows.size(); ++i) {
    auto& boxes = m_rows[i].Boxes;
    auto found =
        std::find_if(boxes.begin(), boxes.end(), [&](const Box& box) { return box.Info.SameAs(info); });
    if (found == boxes.end()) continue;
    boxes.erase(found);
    if (boxes.empty()) {
      m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(i));
      LayoutRows();
      m_frame->LayoutFrame();
      return;
    }
    viewport()->update();
  }
}

void CPartitionLayoutView::RemoveAllFrames() {
  m_rows.clear();
  LayoutRows();
  m_frame->LayoutFrame();
}

void CPartitionLayoutView::LayoutRows() {
  const int width = viewport()->width();
  int top = 0;
  for (Row& row : m_rows) {
    row.Rect = QRect(0, top, width, kRowHeight);
    for (Box& box : row.Boxes) box.Rect = PlaceBox(box.Info, row.Rect, m_diskSectors);
    top += kRowHeight;
  }
  verticalScrollBar()->setRange(0, std::max(0, top - viewport()->height()));
  verticalScrollBar()->setPageStep(std::max(1, viewport()->height()));
  verticalScrollBar()->setSingleStep(10);
  viewport()->update();
}

void CPartitionLayoutView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  LayoutRows();
}

void CPartitionLayoutView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.setFont(m_font);
  const int contentHeight = m_rows.empty() ? 0 : static_cast<int>(m_rows.size()) * kRowHeight;
  painter.fillRect(viewport()->rect(), QColor(146, 170, 203));
  painter.translate(0, -verticalScrollBar()->value());
  painter.fillRect(QRect(0, 0, viewport()->width(), contentHeight), QColor(146, 170, 203));
  for (const Row& row : m_rows)
    for (const Box& box : row.Boxes) DrawBox(painter, box);
}

void CPartitionLayoutView::DrawBox(QPainter& painter, const Box& box) const {
  const QRect rect = box.Rect;
  painter.fillRect(rect, QColor(196, 206, 219));
  painter.setPen(QColor(58, 60, 75));
  painter.drawRect(rect.adjusted(0, 0, -1, -1));
  const QRect header = QRect(rect.left(), rect.top(), rect.width(), 16).adjusted(4, 4, -4, -4);
  if (header.width() <= 0) return;
  painter.fillRect(header, QColor(84, 151, 84));
  const QRect body = RectFromEdges(rect.left(), header.bottom() + 1, rect.right() + 1, rect.bottom() + 1)
                         .adjusted(4, 4, -4, -4);
  if (body.width() <= 0 || body.height() <= 0) return;
  painter.fillRect(body, QColor(236, 240, 244));
  painter.save();
  painter.setClipRect(body);
  const QPixmap icon = corvale::ui::LoadBitmapResource(132);
  const QRect iconRect(body.left() + 4, body.top(), 20, 22);
  if (!icon.isNull()) painter.drawPixmap(iconRect, icon);
  painter.setPen(Qt::black);
  painter.setFont(m_boldFont);
  painter.drawText(RectFromEdges(iconRect.right() + 5, body.top() + 4, body.right() - 1, body.top() + 20),
                   kTextFlags, painter.fontMetrics().elidedText(box.Info.Name, Qt::ElideRight, body.width()));
  painter.setFont(m_font);
  const uint64_t sectors =
      box.Info.LastSector >= box.Info.FirstSector ? box.Info.LastSector - box.Info.FirstSector + 1 : 0;
  const QString details =
      QStringLiteral("%1, %2,\n%3: %4%")
          .arg(QString::fromStdString(
                   FormatSectorSize(static_cast<int64_t>(sectors), box.Info.BytesPerSector)),
               QString::fromUtf8(GetFileSystemName(static_cast<uint32_t>(box.Info.FileSystemType))),
               StringOr(247, "Rank"), QString::number(box.Info.Score * 100.0, 'f', 2));
  painter.drawText(RectFromEdges(body.left() + 4, body.top() + 22, body.right() - 1, body.bottom() - 1),
                   Qt::AlignLeft | Qt::AlignTop, details);
  painter.restore();
}

CPartitionLayoutFrame::CPartitionLayoutFrame(QWidget* parent) : QWidget(parent), m_font(LayoutFont(false)) {
  m_view = new CPartitionLayoutView(this);
  m_view->setGeometry(0, 0, 10, 10);
}

void CPartitionLayoutFrame::SetDiskInfo(const DiskLayoutInfo& info) {
  QString head;
  if (info.Kind == DiskLayoutInfo::kImage)
    head = StringOr(338, "Partitions layout on the disk image");
  else if (info.Kind == DiskLayoutInfo::kVolume)
    head = StringOr(337, "Partitions layout on the partition");
  else
    head = StringOr(336, "Partitions layout on the disk ");
  m_title = head + QStringLiteral("\"%1\":").arg(info.Name);
  m_cardText = StringOr(331, "Size") + QStringLiteral(": %1").arg(QString::fromStdString(FormatSectorSize(
                                           static_cast<int64_t>(info.SectorCount), info.BytesPerSector)));
  m_view->SetDiskSectorCount(info.SectorCount);
  static constexpr uint32_t kBitmaps[] = {141, 225, 142, 224};
  m_cardPicture =
      info.Kind >= 0 && info.Kind <= 3 ? corvale::ui::LoadBitmapResource(kBitmaps[info.Kind]) : QPixmap();
  update();
}

void CPartitionLayoutFrame::LayoutFrame() {
  const int contentHeight = m_view->GetContentHeight();
  const QRect area =
      RectFromEdges(kCardWidth, kTitleHeight, width(), std::min(height(), contentHeight + kTitleHeight));
  m_view->setGeometry(area.translated(-1, -1));
  m_cardHeight = contentHeight;
  update();
}

void CPartitionLayoutFrame::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutFrame();
}

void CPartitionLayoutFrame::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(239, 239, 247));
  painter.setFont(m_font);
  painter.setPen(Qt::black);
  const QRect titleRect(0, 0, width(), kTitleHeight);
  painter.drawText(titleRect, kTextFlags, painter.fontMetrics().elidedText(m_title, Qt::ElideRight, width()));
  const QRect card(0, 19, kCardWidth, m_cardHeight);
  painter.fillRect(card, QColor(198, 208, 221));
  if (!m_cardPicture.isNull()) painter.drawPixmap(QRect(26, 29, 48, 48), m_cardPicture);
  painter.drawText(QRect(0, 79, kCardWidth, 20), Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine,
                   painter.fontMetrics().elidedText(m_cardText, Qt::ElideRight, kCardWidth));
  const QRect view = m_view->geometry();
  painter.setPen(QColor(63, 64, 78));
  painter.drawRect(QRect(0, view.top() - 1, width() - 1, view.height() + 1));
}
