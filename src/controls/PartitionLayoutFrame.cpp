#include "controls/PartitionLayoutFrame.h"

#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>

#include "controls/Formatting.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"

namespace {

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

namespace {

// The columns a partition covers in a row `width` wide, in proportion to its sectors, from the
// row's left edge. A partition reaching past the end of the source (a damaged record) stays inside.
std::pair<int, int> Span(const PartitionBoxInfo& info, int width, uint64_t diskSectors) {
  const double sectors = diskSectors ? static_cast<double>(diskSectors) : 1.0;
  const double first = std::min(static_cast<double>(info.FirstSector), sectors);
  const double last = std::min(static_cast<double>(info.LastSector), sectors);
  const int left = static_cast<int>(width * first / sectors);
  return {left, std::max(left, static_cast<int>(width * last / sectors))};
}

// A box between columns `left` and `right` of a row, 3 pixels in from the row's top and bottom,
// and from its neighbours when it is wide enough to give them up.
QRect Inset(int left, int right, const QRect& row) {
  if (right - left >= 5) {
    left += 3;
    right -= 3;
  }
  return QRect(row.left() + left, row.top() + 3, right - left, row.height() - 6);
}

}  // namespace

QRect CPartitionLayoutView::PlaceBox(const PartitionBoxInfo& info, const QRect& row, uint64_t diskSectors) {
  const auto [left, right] = Span(info, row.width(), diskSectors);
  return Inset(left, right, row);
}

std::vector<QRect> CPartitionLayoutView::PlaceRowBoxes(const std::vector<PartitionBoxInfo>& boxes,
                                                       const QRect& row, uint64_t diskSectors, int least) {
  const int count = static_cast<int>(boxes.size());
  std::vector<QRect> placed(boxes.size());
  if (count == 0) return placed;
  const int width = std::max(0, row.width());
  least = std::max(0, std::min(least, width / count));
  std::vector<int> order(boxes.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return boxes[a].FirstSector < boxes[b].FirstSector; });
  std::vector<std::pair<int, int>> spans(boxes.size());
  for (int i = 0; i < count; ++i) spans[i] = Span(boxes[i], width, diskSectors);
  // Left to right, each box starts where the one before ends at the earliest and is widened to the
  // least width; then right to left, each ends where the next begins at the latest and starts far
  // enough left to keep the least width. As the row holds every box at the least width, no box
  // leaves the row.
  int previous = 0;
  for (int i : order) {
    auto& [left, right] = spans[i];
    left = std::max(left, previous);
    right = std::max(right, left + least);
    previous = right;
  }
  int next = width;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    auto& [left, right] = spans[*it];
    right = std::min(right, next);
    left = std::max(0, std::min(left, right - least));
    next = left;
  }
  for (int i = 0; i < count; ++i) placed[i] = Inset(spans[i].first, spans[i].second, row);
  return placed;
}

void CPartitionLayoutView::PlaceRow(Row& row) const {
  std::vector<PartitionBoxInfo> infos;
  infos.reserve(row.Boxes.size());
  for (const Box& box : row.Boxes) infos.push_back(box.Info);
  const std::vector<QRect> placed = PlaceRowBoxes(infos, row.Rect, m_diskSectors);
  for (size_t i = 0; i < row.Boxes.size(); ++i) row.Boxes[i].Rect = placed[i];
}

void CPartitionLayoutView::AddPartitionBox(const PartitionBoxInfo& info) {
  for (Row& row : m_rows) {
    const bool clash = std::any_of(row.Boxes.begin(), row.Boxes.end(),
                                   [&](const Box& box) { return box.Info.Overlaps(info); });
    if (clash) continue;
    row.Boxes.push_back(Box{info, QRect()});
    PlaceRow(row);
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
    PlaceRow(m_rows[i]);
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
    PlaceRow(row);
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
  // Each line is cut short with an ellipsis where the box ends, never in the middle of a letter.
  const QRect nameRect =
      RectFromEdges(iconRect.right() + 5, body.top() + 4, body.right() - 1, body.top() + 20);
  painter.drawText(nameRect, kTextFlags,
                   painter.fontMetrics().elidedText(box.Info.Name, Qt::ElideRight, nameRect.width()));
  painter.setFont(m_font);
  const uint64_t sectors =
      box.Info.LastSector >= box.Info.FirstSector ? box.Info.LastSector - box.Info.FirstSector + 1 : 0;
  const QString details =
      QStringLiteral("%1, %2,\n%3: %4%")
          .arg(QString::fromStdString(
                   FormatSectorSize(static_cast<int64_t>(sectors), box.Info.BytesPerSector)),
               QString::fromUtf8(GetFileSystemName(static_cast<uint32_t>(box.Info.FileSystemType))),
               corvale::ui::StringOr(247, "Rank"), QString::number(box.Info.Score * 100.0, 'f', 2));
  const QRect detailsRect =
      RectFromEdges(body.left() + 4, body.top() + 22, body.right() - 1, body.bottom() - 1);
  QStringList lines = details.split('\n');
  for (QString& line : lines)
    line = painter.fontMetrics().elidedText(line, Qt::ElideRight, detailsRect.width());
  painter.drawText(detailsRect, Qt::AlignLeft | Qt::AlignTop, lines.join('\n'));
  painter.restore();
}

CPartitionLayoutFrame::CPartitionLayoutFrame(QWidget* parent) : QWidget(parent), m_font(LayoutFont(false)) {
  m_view = new CPartitionLayoutView(this);
  // The view right of the card and under the title, inside the frame's one-pixel line.
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kCardWidth - 1, kTitleHeight - 1, 1, 1);
  layout->addWidget(m_view);
  m_wantedHeight = WantedHeight();
}

void CPartitionLayoutFrame::SetDiskInfo(const DiskLayoutInfo& info) {
  QString head;
  if (info.Kind == DiskLayoutInfo::kImage)
    head = corvale::ui::StringOr(338, "Partitions layout on the disk image");
  else if (info.Kind == DiskLayoutInfo::kVolume)
    head = corvale::ui::StringOr(337, "Partitions layout on the partition");
  else
    head = corvale::ui::StringOr(336, "Partitions layout on the disk ");
  m_title = head + QStringLiteral("\"%1\":").arg(info.Name);
  m_cardText =
      corvale::ui::StringOr(331, "Size") + QStringLiteral(": %1").arg(QString::fromStdString(FormatSectorSize(
                                               static_cast<int64_t>(info.SectorCount), info.BytesPerSector)));
  m_view->SetDiskSectorCount(info.SectorCount);
  static constexpr uint32_t kBitmaps[] = {141, 225, 142, 224};
  m_cardPicture =
      info.Kind >= 0 && info.Kind <= 3 ? corvale::ui::LoadBitmapResource(kBitmaps[info.Kind]) : QPixmap();
  update();
}

int CPartitionLayoutFrame::WantedHeight() const { return kTitleHeight + m_view->GetContentHeight(); }

void CPartitionLayoutFrame::LayoutFrame() {
  m_cardHeight = std::min(m_view->GetContentHeight(), m_view->height());
  update();
  const int wanted = WantedHeight();
  if (wanted != m_wantedHeight) {
    m_wantedHeight = wanted;
    emit wantedHeightChanged(wanted);
  }
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
