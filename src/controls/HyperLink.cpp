#include "controls/HyperLink.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPalette>
#include <algorithm>
#include <cstdint>

#include "platform/Log.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"
#include "ui/Shell.h"
#include "ui/UiFont.h"

CHyperLink::CHyperLink(bool bSelectDirs, QWidget* parent) : QLabel(parent), m_selectDirs(bSelectDirs) {
  LogError("------------------------ParmInfo:BOOL bSelectDirs=%d", bSelectDirs ? 1 : 0);
  setCursor(Qt::PointingHandCursor);
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover);
  UpdateLook();
}

void CHyperLink::SetLinkURL(const QString& strURL) {
  LogError("------------------------ParmInfo:CString strURL=%x",
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(&strURL)));
  m_url = strURL;
  if (text().isEmpty()) setText(m_url);
  setToolTip(m_url);
  FitToText();
}

void CHyperLink::SetLinkColors(const QColor& link, const QColor& visited, const QColor& hover) {
  m_link = link;
  m_visitedColor = visited;
  m_hover = hover;
  UpdateLook();
}

void CHyperLink::SetUnderlineMode(int nUnderline) {
  LogError("------------------------ParmInfo:int nUnderline=%x", static_cast<unsigned>(nUnderline));
  if (nUnderline == m_underline) return;
  m_underline = nUnderline;
  UpdateLook();
}

void CHyperLink::SetVisited(bool visited) {
  m_visited = visited;
  UpdateLook();
}

void CHyperLink::SetLinkCursor(const QCursor& cursor) { setCursor(cursor); }

QColor CHyperLink::TextColor() const {
  if (m_over) return m_hover.isValid() ? m_hover : palette().color(QPalette::Highlight);
  return m_visited ? m_visitedColor : m_link;
}

void CHyperLink::UpdateLook() {
  // Setting the palette and the font raises change events that come back here.
  if (m_updating) return;
  m_updating = true;
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, TextColor());
  setPalette(colours);
  QFont face = font();
  face.setUnderline(m_underline == kUnderlineAlways || (m_over && m_underline == kUnderlineHover));
  setFont(face);
  update();
  m_updating = false;
}

void CHyperLink::FitToText() {
  if (!m_adjustToFit) return;
  QFont underlined = font();
  underlined.setUnderline(true);
  const QSize extent = QFontMetrics(underlined).size(Qt::TextSingleLine, text());
  const int border = 2 * frameWidth();
  const QRect old = geometry();
  const int width = extent.width() + border;
  const int height = extent.height() + border;
  const Qt::Alignment align = alignment();
  int x = old.left();
  if (align & Qt::AlignHCenter)
    x = old.left() + (old.width() - width) / 2;
  else if (align & Qt::AlignRight)
    x = old.right() + 1 - width;
  const int y = (align & Qt::AlignVCenter) ? old.top() + (old.height() - height) / 2 : old.top();
  setGeometry(x, y, width, height);
}

void CHyperLink::SetOver(bool over) {
  if (over == m_over) return;
  m_over = over;
  UpdateLook();
}

void CHyperLink::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  SetOver(true);
}

void CHyperLink::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  SetOver(false);
}

void CHyperLink::mouseMoveEvent(QMouseEvent* event) {
  QLabel::mouseMoveEvent(event);
  SetOver(rect().contains(event->position().toPoint()));
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) return;
  Click();
}

void CHyperLink::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) UpdateLook();
}

void CHyperLink::Click() {
  SetOver(false);
  if (m_url.isEmpty()) return;
  const std::string target = m_url.toStdString();
  bool opened = false;
  if (m_selectDirs) {
    // The target must be a folder that can be entered; anything else changes nothing.
    const int folder = ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
      corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(kStringPathInvalid, "Path Invalid!"),
                                  GetProductTitle(), corvale::ui::MessageIcon::Information);
      return;
    }
    ::close(folder);
    std::vector<std::string> items(
        m_items.begin(), m_items.begin() + static_cast<std::ptrdiff_t>(std::min(m_items.size(), kMaxItems)));
    opened = corvale::ui::ShowItemsInFolder(target, items);
  } else {
    opened = corvale::ui::OpenUrl(target);
  }
  if (opened) {
    SetVisited(true);
  } else {
    QApplication::beep();
  }
}
