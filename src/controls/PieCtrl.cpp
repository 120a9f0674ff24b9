#include "controls/PieCtrl.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "platform/Log.h"

namespace {
constexpr double kPi = 3.141592653589;
}

const std::array<CPieCtrl::SliceColors, 3>& CPieCtrl::Colors() {
  static const std::array<SliceColors, 3> colors{{
      {QColor(255, 0, 255), QColor(128, 0, 128)},
      {QColor(211, 201, 5), QColor(126, 120, 3)},
      {QColor(0, 0, 255), QColor(0, 0, 128)},
  }};
  return colors;
}

CPieCtrl::CPieCtrl(QWidget* parent) : QWidget(parent) {
  setMinimumSize(kMinWidth, kMinHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CPieCtrl::SetSpaceInfo(int64_t llFreeSpace, int64_t llRequiredSpace, int64_t llUsedSpace) {
  LogError(
      "------------------------ParmInfo:LONGLONG llFreeSpace=%llX, LONGLONG llRequiredSpace=%llX,\t\t\t\t"
      "LONGLONG llUsedSpace=%llX",
      static_cast<unsigned long long>(llFreeSpace), static_cast<unsigned long long>(llRequiredSpace),
      static_cast<unsigned long long>(llUsedSpace));
  m_values = {llFreeSpace, llRequiredSpace, llUsedSpace};
}

std::array<int, 3> CPieCtrl::ComputeAngles(int64_t free, int64_t required, int64_t used) {
  const std::array<int64_t, 3> values{std::max<int64_t>(free, 0), std::max<int64_t>(required, 0),
                                      std::max<int64_t>(used, 0)};
  const long double total = static_cast<long double>(values[0]) + values[1] + values[2];
  std::array<int, 3> angles{};
  if (total <= 0) return angles;
  int sum = 0;
  for (int i = 0; i < 3; ++i) {
    const float share = static_cast<float>(values[i] / total);
    angles[i] = static_cast<int>(share * 360 + 0.5f);
    sum += angles[i];
  }
  angles[0] += 360 - sum;
  return angles;
}

QImage CPieCtrl::Render(const QSize& size) const {
  QImage image(size, QImage::Format_RGB32);
  image.fill(m_back);
  const int W = size.width();
  const int H = size.height();
  const int A = static_cast<int>(W / 100.0 * 35);
  const int B = static_cast<int>(H / 35.0 * 6);
  const std::array<int, 3> angles = ComputeAngles(m_values[0], m_values[1], m_values[2]);
  if (angles[0] + angles[1] + angles[2] == 0 || A <= 0 || B <= 0) return image;
  const QPoint centre(W / 2, H - H / 3);

  QPainter p(&image);
  p.translate(centre);
  p.setRenderHint(QPainter::Antialiasing, false);
  const QRect bounds(-A, -B, 2 * A, 2 * B);

  // The rim: the band below the lower half of the ellipse, each column coloured by the slice that
  // owns its point of the outline.
  std::array<int, 4> starts{0, angles[0], angles[0] + angles[1], 360};
  const auto sliceAt = [&](double degrees) {
    for (int i = 0; i < 3; ++i)
      if (degrees >= starts[i] && degrees < starts[i + 1]) return i;
    return 2;
  };
  for (int x = -A; x <= A; ++x) {
    const double c = std::clamp(double(x) / A, -1.0, 1.0);
    const double degrees = std::acos(c) * 180.0 / kPi;
    const int top = static_cast<int>(std::lround(B * std::sqrt(std::max(0.0, 1.0 - c * c))));
    const int slice = sliceAt(degrees);
    // A slice of 0 degrees owns no column.
    const QColor rim = angles[slice] > 0 ? Colors()[slice].rim : QColor(Qt::white);
    p.setPen(rim);
    p.drawLine(x, top, x, top + kRimHeight);
  }

  // Faces: slices wider than 2 degrees, clockwise on screen from their start.
  p.setPen(QPen(Qt::black, 1));
  int running = 0;
  for (int i = 0; i < 3; ++i) {
    if (angles[i] > 2) {
      p.setBrush(Colors()[i].face);
      p.drawPie(bounds, -running * 16, -angles[i] * 16);
    }
    running += angles[i];
  }
  // The rim's outline: the lower half moved down, its two edges, and the slice borders on it.
  p.setBrush(Qt::NoBrush);
  p.drawArc(bounds.translated(0, kRimHeight), 0, -180 * 16);
  p.drawLine(-A, 0, -A, kRimHeight);
  p.drawLine(A, 0, A, kRimHeight);
  running = 0;
  for (int i = 0; i < 3; ++i) {
    running += angles[i];
    const double a = running * kPi / 180.0;
    const int y = static_cast<int>(std::sin(a) * B);
    if (y > 0 && running < 360) {
      const int x = static_cast<int>(std::cos(a) * A);
      p.drawLine(x, y, x, y + kRimHeight);
    }
  }
  return image;
}

void CPieCtrl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, Render(size()));
}
