#include "controls/ImageWnd.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>

#include "ui/Resources.h"

CImageWnd::CImageWnd(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  connect(&m_timer, &QTimer::timeout, this, [this] {
    int next = m_frame + 1;
    if (next >= FrameCount()) {
      if (!m_loop) {
        Stop();
        return;
      }
      next = 0;
    }
    ShowFrame(next);
  });
}

bool CImageWnd::SetAnimation(uint32_t bitmapId, int frameCount, int msPerFrame, uint32_t transparent,
                             bool loop) {
  m_frames.clear();
  m_regions.clear();
  const QImage strip = corvale::ui::LoadBitmapResource(bitmapId).toImage();
  if (strip.isNull() || frameCount <= 0 || strip.width() < frameCount) return false;
  const int width = strip.width() / frameCount;
  const QColor key((transparent >> 16) & 0xFF, (transparent >> 8) & 0xFF, transparent & 0xFF);
  for (int i = 0; i < frameCount; ++i) {
    m_frames.push_back(strip.copy(i * width, 0, width, strip.height()));
    m_regions.push_back(FrameRegion(m_frames.back(), key));
  }
  m_timer.setInterval(std::max(1, msPerFrame));
  m_loop = loop;
  resize(width, strip.height());
  ShowFrame(0);
  return true;
}

QRegion CImageWnd::FrameRegion(const QImage& frame, QColor transparent) {
  QRegion region;
  const QImage image = frame.convertToFormat(QImage::Format_RGB32);
  // A channel is near when it lies from the key's value up to 0x10 above it (no more than 255).
  auto channel = [](int value, int key) { return value >= key && value <= std::min(key + 0x10, 255); };
  auto near = [&](QRgb pixel) {
    return channel(qRed(pixel), transparent.red()) && channel(qGreen(pixel), transparent.green()) &&
           channel(qBlue(pixel), transparent.blue());
  };
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    int x = 0;
    while (x < image.width()) {
      while (x < image.width() && near(line[x])) ++x;
      const int start = x;
      while (x < image.width() && !near(line[x])) ++x;
      if (x > start) region += QRect(start, y, x - start, 1);
    }
  }
  return region;
}

void CImageWnd::SetPosition(int x, int y) {
  if (m_frames.empty()) return;
  QWidget* owner = parentWidget();
  if ((x == -1 || y == -1) && owner) {
    x = owner->width() / 2;
    y = owner->height() / 2;
  }
  move(x - width() / 2, y - height() / 2);
}

void CImageWnd::Start() {
  if (m_frames.empty()) return;
  ShowFrame(0);
  raise();
  m_timer.start();
}

void CImageWnd::Stop() {
  m_timer.stop();
  ShowFrame(0);
}

void CImageWnd::ShowFrame(int index) {
  if (index < 0 || index >= FrameCount()) return;
  m_frame = index;
  if (!m_regions[index].isEmpty()) setMask(m_regions[index]);
  update();
}

void CImageWnd::paintEvent(QPaintEvent*) {
  if (m_frames.empty()) return;
  QPainter painter(this);
  painter.drawImage(0, 0, m_frames[m_frame]);
}
