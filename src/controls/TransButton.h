#pragma once
// A check box or radio button that paints itself: a flat background colour, the box, and its text in
// a font of its own. After every click it tells its owner the new check state through Clicked,
// delivered once the click has been handled (queued), as a posted message would be.

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <string>

class CTransButton : public QAbstractButton {
  Q_OBJECT

 public:
  enum class Kind { CheckBox, RadioButton };

  explicit CTransButton(Kind kind = Kind::CheckBox, QWidget* parent = nullptr);

  void SetBkColor(const QColor& color);
  QColor BkColor() const { return m_background; }
  // A font of `pointSizeTenths` tenths of a point in `face` (followed by its installed stand-ins),
  // bold (weight 700) or regular (400).
  void SetFont(int pointSizeTenths, const std::string& face, bool bold);
  bool HasOwnFont() const { return m_hasFont; }
  const QFont& OwnFont() const { return m_font; }
  // Whether a focus rectangle is drawn while the button has the keyboard focus; takes effect at the
  // next paint.
  void ShowFocusRect(bool show);
  bool FocusRectShown() const { return m_focusRect; }

  Kind ButtonKind() const { return m_kind; }
  QSize sizeHint() const override;

 signals:
  // After a click: 1 when the button is now ticked, 0 when not.
  void Clicked(int checkState, CTransButton* button);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  Kind m_kind;
  QFont m_font;
  bool m_hasFont = false;
  QColor m_background{255, 255, 255};
  bool m_focusRect = true;
};
