#pragma once
// Dialogs laid out in code from their templates: sizes given in dialog units of the templates' font
// ("MS Shell Dlg", 8 points), and controls known by their numbers as the templates give them.

#include <QFont>
#include <QFontMetrics>
#include <QList>
#include <QRect>
#include <QSize>
#include <QVariant>
#include <QWidget>

namespace corvale::ui {

// Dialog units of the templates' font: a quarter of its average character width (6 pixels) across,
// an eighth of its height (13 pixels) down.
constexpr int kDialogBaseUnitX = 6;
constexpr int kDialogBaseUnitY = 13;

constexpr int DluToPixelsX(int dlu) { return (dlu * kDialogBaseUnitX + 2) / 4; }
constexpr int DluToPixelsY(int dlu) { return (dlu * kDialogBaseUnitY + 4) / 8; }
inline QRect DluRect(int x, int y, int cx, int cy) {
  return QRect(DluToPixelsX(x), DluToPixelsY(y), DluToPixelsX(cx), DluToPixelsY(cy));
}

// A template's size in dialog units, in pixels of `font` as it is shown here: a dialog unit is a
// quarter of the font's average character width across (the width of the 52 Latin letters over 52,
// rounded) and an eighth of its height down. Laid-out dialogs take it as their least size.
inline QSize DluSize(const QFont& font, int cx, int cy) {
  const QFontMetrics metrics(font);
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  const int baseX = (letters / 26 + 1) / 2;
  const int baseY = metrics.height();
  return QSize((cx * baseX + 2) / 4, (cy * baseY + 4) / 8);
}

// The number of a control in its dialog; 0 when it has none.
inline void SetControlId(QWidget* control, int id) { control->setProperty("controlId", id); }
inline int ControlId(const QWidget* control) { return control->property("controlId").toInt(); }

// The control numbered `id` among the descendants of `parent`, or null.
template <typename T = QWidget>
T* FindControl(const QWidget* parent, int id) {
  for (T* child : parent->findChildren<T*>())
    if (ControlId(child) == id) return child;
  return nullptr;
}

// The numbers of the standard buttons.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

}  // namespace corvale::ui
