#pragma once
// Checks that a window is laid out so a person can use it: every visible control lies inside the
// window, and no two visible controls cover each other. Used by the tests that show each page and
// dialog at the smallest size and at large ones, in place of tests that pin pixel positions.
//
// A control is a widget a person looks at or works with (a label, button, edit, list, bar, or a
// widget that paints itself); plain containers (frames, group boxes, stacked and scroll areas,
// tab-widget pages) only hold controls and are not compared. A control inside a scroll area's
// viewport is compared only with the controls of the same viewport, and need not lie inside the
// window: the scroll area shows it by scrolling.

#include <QRect>
#include <QString>
#include <QStringList>

class QWidget;

namespace layoutcheck {

// The problems found in `window` (already shown and laid out), one text each: "X lies outside the
// window", "X overlaps Y"; empty when there are none. Widgets are named by class and object name.
QStringList Problems(QWidget* window);

// Resizes `window` to `size` (bounded by its minimum size), lets the layouts settle and returns
// Problems(window).
QStringList ProblemsAtSize(QWidget* window, const QSize& size);

}  // namespace layoutcheck
