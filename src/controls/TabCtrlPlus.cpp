#include "controls/TabCtrlPlus.h"

#include <QMouseEvent>
#include <QPainter>
#include <cinttypes>

#include "platform/Log.h"
#include "ui/UiFont.h"

namespace {

const QColor kFrame(201, 210, 217);
const QColor kTabFrame(156, 170, 189);
const QColor kSelectedBar(161, 206, 239);
const QColor kCloseBoxPressed(64, 64, 64);

// The close box is drawn this far in from the top and bottom of a tab once it has been laid out,
// and a little less on the tab just made.
constexpr int kCloseInsetMade = 6;
constexpr int kCloseInsetMoved = 8;

}  // namespace

TabItemPlus::TabItemPlus(QWidget* window, const QString& caption, const QRect& rect, bool hasCloseBox)
    : m_rect(rect), m_caption(caption), m_window(window), m_hasCloseBox(hasCloseBox) {
  PlaceCloseBox(kCloseInsetMade);
}

void TabItemPlus::PlaceCloseBox(int inset) {
  const int right = m_rect.x() + m_rect.width();
  const int height = m_rect.height() - 2 * inset;
  m_closeRect = height > 0 ? QRect(right - 20, m_rect.y() + inset, 8, height) : QRect();
}

void TabItemPlus::Select(bool selected) {
  LogError("------------------------ParmInfo:BOOL bSelected=%d", selected ? 1 : 0);
  m_selected = selected;
  if (m_window != nullptr) m_window->setVisible(selected);
}

void TabItemPlus::SetPosition(int x) {
  LogError("------------------------ParmInfo:int iPos=%x", x);
  m_rect.moveLeft(x);
  PlaceCloseBox(kCloseInsetMoved);
}

bool TabItemPlus::HitTest(const QPoint& point) const { return m_rect.contains(point); }

bool TabItemPlus::HitTestCloseBox(const QPoint& point) const {
  return m_hasCloseBox && !m_closeRect.isEmpty() && m_closeRect.contains(point);
}

void TabItemPlus::Draw(QPainter& painter) const {
  painter.save();
  painter.setPen(kTabFrame);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(m_rect.adjusted(0, 0, -1, -1));
  if (m_selected) {
    // A coloured bar along the top, and white below it down into the page.
    const QRect inside = m_rect.adjusted(1, 1, -1, 0);
    painter.fillRect(QRect(inside.left(), inside.top(), inside.width(), 3), kSelectedBar);
    painter.fillRect(QRect(inside.left(), m_rect.top() + 4, inside.width(), m_rect.height() - 4), Qt::white);
  }
  if (m_hasCloseBox) DrawCloseBox(painter);
  const int textRight = m_hasCloseBox ? m_closeRect.left() : m_rect.x() + m_rect.width();
  const QRect text(m_rect.left() + 18, m_rect.top(), textRight - m_rect.left() - 18, m_rect.height());
  painter.setPen(Qt::black);
  if (text.width() > 0)
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     painter.fontMetrics().elidedText(m_caption, Qt::ElideRight, text.width()));
  painter.restore();
}

void TabItemPlus::DrawCloseBox(QPainter& painter) const {
  if (m_closeRect.isEmpty()) return;
  painter.save();
  painter.setPen(QPen(m_closePressed ? kCloseBoxPressed : kTabFrame, 2));
  const QRect& r = m_closeRect;
  painter.drawLine(r.topLeft(), r.bottomRight());
  painter.drawLine(r.topRight(), r.bottomLeft());
  painter.restore();
}

CTabCtrlPlus::CTabCtrlPlus(QWidget* parent) : QWidget(parent), m_font(corvale::ui::MakeUiFont(14, 400)) {
  setFont(m_font);
}

void CTabCtrlPlus::AddWindow(QWidget* pWnd) {
  LogError("------------------------ParmInfo: CWnd* pWnd=%" PRIxPTR, reinterpret_cast<uintptr_t>(pWnd));
  if (pWnd == nullptr) return;
  m_windows.push_back(pWnd);
  pWnd->setParent(this);
  pWnd->setGeometry(QRect());
  pWnd->hide();
}

bool CTabCtrlPlus::AddTab(const QString& lpszItem, int iWindowIndex) {
  LogError("------------------------ParmInfo: LPCTSTR lpszItem=%" PRIxPTR ", int iWindowIndex=%x",
           reinterpret_cast<uintptr_t>(&lpszItem), iWindowIndex);
  if (iWindowIndex < 0 || iWindowIndex >= static_cast<int>(m_windows.size())) return false;
  const int captionWidth = QFontMetrics(m_font).horizontalAdvance(lpszItem);
  const bool first = m_items.empty();
  int total = 0;
  if (!first) {
    for (const auto& item : m_items) total += item->Width();
    total -= 1;
    if (total >= width()) return false;
  }
  const int tabWidth = captionWidth + 40 + (first ? 0 : 10);
  if (!first && width() < total + tabWidth) return false;
  m_items.emplace_back(
      new TabItemPlus(m_windows[iWindowIndex], lpszItem, QRect(0, 0, tabWidth, kTabHeight), !first));
  LayoutTabs();
  return true;
}

void CTabCtrlPlus::SelectTab(int iItemIndex) {
  LogError("------------------------ParmInfo: int iItemIndex=%d", iItemIndex);
  if (iItemIndex < 0 || iItemIndex >= GetTabCount()) return;
  for (auto& item : m_items) item->Select(false);
  m_items[iItemIndex]->Select(true);
  PlacePages();
  update();
}

void CTabCtrlPlus::DeleteTab(int index) {
  if (index < 0 || index >= GetTabCount()) return;
  // The tab's page goes out of sight with it; tab 0 (whichever that is now) is shown instead.
  m_items[index]->Select(false);
  m_items.erase(m_items.begin() + index);
  SelectTab(0);
  LayoutTabs();
}

int CTabCtrlPlus::GetCurTab() const {
  for (int i = 0; i < GetTabCount(); ++i)
    if (m_items[i]->IsSelected()) return i;
  return -1;
}

QWidget* CTabCtrlPlus::GetCurWindow() const {
  const int current = GetCurTab();
  return current >= 0 ? m_items[current]->Window() : nullptr;
}

QString CTabCtrlPlus::GetTabText(int index) const {
  return index >= 0 && index < GetTabCount() ? m_items[index]->Caption() : QString();
}

QRect CTabCtrlPlus::GetTabRect(int index) const {
  return index >= 0 && index < GetTabCount() ? m_items[index]->Rect() : QRect();
}

QRect CTabCtrlPlus::GetCloseBoxRect(int index) const {
  return index >= 0 && index < GetTabCount() && m_items[index]->HasCloseBox() ? m_items[index]->CloseBoxRect()
                                                                              : QRect();
}

void CTabCtrlPlus::LayoutTabs() {
  int x = 0;
  for (auto& item : m_items) {
    // Each tab after the first overlaps its left neighbour's frame by a pixel.
    item->SetPosition(x == 0 ? 0 : x - 1);
    x += item->Width() + 5;
  }
  update();
}

void CTabCtrlPlus::PlacePages() {
  QWidget* current = GetCurWindow();
  for (QWidget* page : m_windows) {
    if (page == current)
      page->setGeometry(QRect(QPoint(1, kTabHeight), QPoint(width() - 2, height() - 2)));
    else
      page->setGeometry(QRect());
  }
}

QSize CTabCtrlPlus::minimumSizeHint() const {
  QSize pages(0, 0);
  for (const QWidget* page : m_windows)
    if (page != nullptr) pages = pages.expandedTo(page->minimumSizeHint().expandedTo(page->minimumSize()));
  return QSize(pages.width() + 3, kTabHeight + pages.height() + 2);
}

void CTabCtrlPlus::resizeEvent(QResizeEvent*) {
  LogError("------------------------ParmInfo: UINT nType, int cx, int cy");
  PlacePages();
}

void CTabCtrlPlus::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  // The frame around the pages; its top line is the tabs' bottom edge.
  painter.setPen(kFrame);
  painter.drawRect(QRect(0, kTabHeight - 1, width(), height() - kTabHeight + 1).adjusted(0, 0, -1, -1));
  painter.setFont(m_font);
  for (const auto& item : m_items) item->Draw(painter);
}

void CTabCtrlPlus::mousePressEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  for (auto& item : m_items) {
    if (item->HitTestCloseBox(point)) {
      // Until the button comes up the press belongs to this close box (Qt keeps the mouse here).
      m_capturing = true;
      item->SetCloseBoxPressed(true);
      update(item->CloseBoxRect().adjusted(-2, -2, 2, 2));
      return;
    }
  }
  for (int i = 0; i < GetTabCount(); ++i) {
    if (m_items[i]->HitTest(point) && !m_items[i]->IsSelected()) {
      SelectTab(i);
      QWidget::mousePressEvent(event);
      emit CtrlNotify();
      return;
    }
  }
  QWidget::mousePressEvent(event);
}

void CTabCtrlPlus::mouseReleaseEvent(QMouseEvent* event) {
  if (!m_capturing) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  m_capturing = false;
  const QPoint point = event->position().toPoint();
  for (int i = 0; i < GetTabCount(); ++i) {
    if (m_items[i]->HitTestCloseBox(point)) {
      DeleteTab(i);
      emit CtrlNotify();
      break;
    }
    if (m_items[i]->IsCloseBoxPressed()) {
      m_items[i]->SetCloseBoxPressed(false);
      update(m_items[i]->CloseBoxRect().adjusted(-2, -2, 2, 2));
    }
  }
  // A release away from every close box leaves none of them pressed.
  for (auto& item : m_items) item->SetCloseBoxPressed(false);
  update();
}
