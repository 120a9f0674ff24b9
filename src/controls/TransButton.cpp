#include "controls/TransButton.h"

#include <QFontMetrics>
#include <QMetaObject>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>

#include "platform/RecoveryContext.h"
#include "ui/UiFont.h"

namespace {

// The box's column and where the text starts.
constexpr int kBoxWidth = 15;
constexpr int kBoxSize = 13;
constexpr int kTextIndent = 19;
constexpr int kFocusIndent = 18;

}  // namespace

CTransButton::CTransButton(Kind kind, QWidget* parent) : QAbstractButton(parent), m_kind(kind) {
  setCheckable(true);
  setAutoExclusive(kind == Kind::RadioButton);
  setFocusPolicy(Qt::StrongFocus);
  connect(this, &QAbstractButton::clicked, this, [this] {
    const int state = isChecked() ? 1 : 0;
    QMetaObject::invokeMethod(
        this, [this, state] { emit Clicked(state, this); }, Qt::QueuedConnection);
  });
}

void CTransButton::SetBkColor(const QColor& color) {
  m_background = color;
  update();
}

void CTransButton::SetFont(int pointSizeTenths, const std::string& face, bool bold) {
  QStringList families{QString::fromStdString(face)};
  families << corvale::ui::UIFontFamiliesFor(GetRecoveryContext().LanguageId);
  m_font = QFont();
  m_font.setFamilies(families);
  m_font.setPointSizeF(pointSizeTenths > 0 ? pointSizeTenths / 10.0 : 1.0);
  m_font.setWeight(bold ? QFont::Bold : QFont::Normal);
  m_hasFont = true;
  update();
}

void CTransButton::ShowFocusRect(bool show) {
  if (show != m_focusRect) m_focusRect = show;
}

QSize CTransButton::sizeHint() const {
  QFontMetrics metrics(m_hasFont ? m_font : font());
  return QSize(kTextIndent + metrics.horizontalAdvance(text()) + 2, std::max(metrics.height(), kBoxSize) + 4);
}

void CTransButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.save();
  const QRect area = rect();
  painter.fillRect(area, m_background);

  if (hasFocus() && m_focusRect) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect =
        QRect(area.left() + kFocusIndent, area.top(), area.width() - kFocusIndent, area.height() - 1);
    focus.backgroundColor = m_background;
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
  }

  QStyleOptionButton box;
  box.initFrom(this);
  box.rect = QRect(area.left() + (kBoxWidth - kBoxSize) / 2, area.top() + (area.height() - kBoxSize) / 2,
                   kBoxSize, kBoxSize);
  box.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
  box.state |= isChecked() ? QStyle::State_On : QStyle::State_Off;
  if (isDown()) box.state |= QStyle::State_Sunken;
  style()->drawPrimitive(
      m_kind == Kind::CheckBox ? QStyle::PE_IndicatorCheckBox : QStyle::PE_IndicatorRadioButton, &box,
      &painter, this);

  if (m_hasFont) painter.setFont(m_font);
  painter.setPen(palette().color(QPalette::WindowText));
  const QRect textArea = area.adjusted(kTextIndent, 0, 0, 0);
  const QString shown =
      QFontMetrics(painter.font()).elidedText(text(), Qt::ElideRight, std::max(0, textArea.width()));
  painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
  painter.restore();
}

void CTransButton::mousePressEvent(QMouseEvent* event) {
  update();
  QAbstractButton::mousePressEvent(event);
}

void CTransButton::mouseReleaseEvent(QMouseEvent* event) {
  update();
  QAbstractButton::mouseReleaseEvent(event);
}

void CTransButton::mouseDoubleClickEvent(QMouseEvent* event) {
  update();
  QAbstractButton::mouseDoubleClickEvent(event);
}
