#pragma once
// The program's picture buttons: a push button that shows one of four bitmaps (normal, mouse over,
// pressed, disabled) and is exactly as large as its normal bitmap. A state without a bitmap shows
// the normal one. The button may show a cursor of its own while the mouse is over it, and may tell a
// listener when the mouse comes and goes (a page that shows a description of the button under the
// mouse).

#include <QAbstractButton>
#include <QCursor>
#include <cstdint>
#include <string>

#include "controls/MaskedBitmap.h"

// Told when the mouse comes over a picture button and when it leaves.
class IButtonPromptChange {
 public:
  virtual ~IButtonPromptChange() = default;
  virtual void SetPrompt(int controlId, const std::string& prompt) = 0;
  virtual void RestorePrompt(int controlId) = 0;
};

class CButtonPlus : public QAbstractButton {
  Q_OBJECT

 public:
  // The picture shown, by priority: pressed, disabled, mouse over, normal.
  enum class Face { Normal, Hover, Push, Disable };

  explicit CButtonPlus(QWidget* parent = nullptr);
  CButtonPlus(uint32_t uNormal, uint32_t uHover, uint32_t uPush, uint32_t uDisable,
              QWidget* parent = nullptr);

  // Loads every non-zero bitmap id into its state, replacing what was there; 0 keeps the old one.
  // The button takes the size of its normal bitmap.
  void LoadBitmaps(uint32_t uNormal, uint32_t uHover, uint32_t uPush, uint32_t uDisable);
  // The cursor shown while the mouse is over the button.
  void SetHoverCursor(const QCursor& cursor);
  // The size of the normal bitmap; (0, 0) when none is loaded.
  QSize GetBitmapSize() const;
  // Moves the button to (x, y) at the size of its normal bitmap.
  void MoveTo(int x, int y);
  // Lets the button take any width, its picture drawn across the whole of it: a strip that runs to
  // the end of a row of buttons, however wide the row. Its height stays the picture's.
  void SetFillsWidth(bool fills);
  bool FillsWidth() const { return m_fillsWidth; }

  // The command number the button stands for in its window.
  void SetControlId(int id) { m_controlId = id; }
  int ControlId() const { return m_controlId; }

  // The listener told when the mouse comes (with `prompt`) and goes; null for none. Not owned.
  void SetPromptListener(IButtonPromptChange* listener, std::string prompt);

  bool IsHovered() const { return m_hover; }
  // The picture that a paint would show now.
  Face CurrentFace() const;
  const CMaskedBitmap& Bitmap(Face face) const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void ApplySize();

  CMaskedBitmap m_normal;
  CMaskedBitmap m_hoverBitmap;
  CMaskedBitmap m_push;
  CMaskedBitmap m_disable;
  bool m_hover = false;
  bool m_fillsWidth = false;
  int m_controlId = 0;
  IButtonPromptChange* m_promptListener = nullptr;
  std::string m_prompt;
};
