#include "controls/ImageWnd.h"

#include <QPainter>
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
  auto near = [&](QRgb pixel) {
    return std::abs(qRed(pixel) - transparent.red()) <= 0x10 &&
           std::abs(qGreen(pixel) - transparent.green()) <= 0x10 &&
           std::abs(qBlue(pixel) - transparent.blue()) <= 0x10;
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
  QWidget* owner = parentWidget();
  const int left = x == -1 && owner ? (owner->width() - width()) / 2 : x;
  const int top = y == -1 && owner ? (owner->height() - height()) / 2 : y;
  move(left, top);
}

void CImageWnd::Start() {
  if (m_frames.empty()) return;
  ShowFrame(0);
  raise();
  m_timer.start();
}

void CImageWnd::Stop() { m_timer.stop(); }

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
