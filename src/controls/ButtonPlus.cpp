#include "controls/ButtonPlus.h"

#include <QEnterEvent>
#include <QPainter>

#include "platform/Log.h"

CButtonPlus::CButtonPlus(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::StrongFocus);
  ApplySize();
}

CButtonPlus::CButtonPlus(uint32_t uNormal, uint32_t uHover, uint32_t uPush, uint32_t uDisable,
                         QWidget* parent)
    : CButtonPlus(parent) {
  LogError(
      "------------------------ParmInfo:UINT uNormal=%d, UINT uHover=%d, UINT uPush=%d, UINT uDisable=%d",
      static_cast<int>(uNormal), static_cast<int>(uHover), static_cast<int>(uPush),
      static_cast<int>(uDisable));
  LoadBitmaps(uNormal, uHover, uPush, uDisable);
}

void CButtonPlus::LoadBitmaps(uint32_t uNormal, uint32_t uHover, uint32_t uPush, uint32_t uDisable) {
  // An id that names no bitmap leaves that state without a picture; painting then falls back to
  // the normal picture.
  if (uNormal) m_normal.LoadBitmap(uNormal);
  if (uHover) m_hoverBitmap.LoadBitmap(uHover);
  if (uPush) m_push.LoadBitmap(uPush);
  if (uDisable) m_disable.LoadBitmap(uDisable);
  ApplySize();
  update();
}

void CButtonPlus::SetHoverCursor(const QCursor& cursor) { setCursor(cursor); }

QSize CButtonPlus::GetBitmapSize() const { return m_normal.IsNull() ? QSize(0, 0) : m_normal.GetSize(); }

void CButtonPlus::MoveTo(int x, int y) {
  LogError("------------------------ParmInfo:int x=%d, int y=%d", x, y);
  setGeometry(QRect(QPoint(x, y), GetBitmapSize()));
  update();
}

void CButtonPlus::SetPromptListener(IButtonPromptChange* listener, std::string prompt) {
  m_promptListener = listener;
  m_prompt = std::move(prompt);
}

CButtonPlus::Face CButtonPlus::CurrentFace() const {
  if (isDown() && !m_push.IsNull()) return Face::Push;
  if (!isEnabled() && !m_disable.IsNull()) return Face::Disable;
  if (m_hover && !m_hoverBitmap.IsNull()) return Face::Hover;
  return Face::Normal;
}

const CMaskedBitmap& CButtonPlus::Bitmap(Face face) const {
  switch (face) {
    case Face::Normal:
      return m_normal;
    case Face::Hover:
      return m_hoverBitmap;
    case Face::Push:
      return m_push;
    case Face::Disable:
      return m_disable;
  }
  return m_normal;
}

QSize CButtonPlus::sizeHint() const { return GetBitmapSize(); }

void CButtonPlus::SetFillsWidth(bool fills) {
  m_fillsWidth = fills;
  ApplySize();
  update();
}

void CButtonPlus::ApplySize() {
  const QSize size = GetBitmapSize();
  if (!m_fillsWidth) {
    setFixedSize(size);
    return;
  }
  setMinimumSize(0, size.height());
  setMaximumSize(QWIDGETSIZE_MAX, size.height());
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CButtonPlus::paintEvent(QPaintEvent*) {
  // Nothing is erased first: the picture covers the whole button.
  QPainter painter(this);
  const CMaskedBitmap& picture = Bitmap(CurrentFace());
  if (m_fillsWidth && !picture.IsNull())
    painter.drawPixmap(QRect(0, 0, width(), picture.GetSize().height()), picture.Pixmap());
  else
    DrawBitmapAt(picture, &painter, 0, 0);
}

void CButtonPlus::enterEvent(QEnterEvent* event) {
  if (m_promptListener) m_promptListener->SetPrompt(m_controlId, m_prompt);
  m_hover = true;
  update();
  QAbstractButton::enterEvent(event);
}

void CButtonPlus::leaveEvent(QEvent* event) {
  if (m_promptListener) m_promptListener->RestorePrompt(m_controlId);
  m_hover = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void CButtonPlus::focusOutEvent(QFocusEvent* event) {
  m_hover = false;
  update();
  QAbstractButton::focusOutEvent(event);
}

void CButtonPlus::mouseReleaseEvent(QMouseEvent* event) {
  update();
  QAbstractButton::mouseReleaseEvent(event);
}
