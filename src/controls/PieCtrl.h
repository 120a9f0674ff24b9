#pragma once
// The disk-space pie of the target-folder page: how the target disk divides into free space, the
// space the recovery will need and the space already used, drawn as a flat three-dimensional pie
// (an ellipse seen from above with a 12-pixel rim below it). Slices run clockwise from 3 o'clock.

#include <QColor>
#include <QImage>
#include <QWidget>
#include <array>
#include <cstdint>

class CPieCtrl : public QWidget {
  Q_OBJECT

 public:
  // The smallest size the control takes.
  static constexpr int kMinWidth = 180;
  static constexpr int kMinHeight = 130;
  static constexpr int kRimHeight = 12;

  struct SliceColors {
    QColor face;
    QColor rim;
  };
  // Free, required, used.
  static const std::array<SliceColors, 3>& Colors();

  explicit CPieCtrl(QWidget* parent = nullptr);

  void SetSpaceInfo(int64_t llFreeSpace, int64_t llRequiredSpace, int64_t llUsedSpace);
  void SetBackColor(const QColor& color) { m_back = color; }
  int64_t FreeSpace() const { return m_values[0]; }
  int64_t RequiredSpace() const { return m_values[1]; }
  int64_t UsedSpace() const { return m_values[2]; }

  // Whole-degree angles of the three slices; the first takes the rounding difference so that they
  // add up to 360. All 0 when the values add up to 0 (or less).
  static std::array<int, 3> ComputeAngles(int64_t free, int64_t required, int64_t used);

  // The picture at `size` as the control paints it.
  QImage Render(const QSize& size) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::array<int64_t, 3> m_values{};
  QColor m_back{240, 240, 240};
};
