#pragma once
// A small looping animation shown over a window while the program is busy: the frames of one
// picture strip, drawn one after the other, with the window cut to each frame's shape (the pixels
// that are not of the transparent colour, each channel taken as transparent from the colour's value
// up to 0x10 above it).

#include <QColor>
#include <QImage>
#include <QRegion>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <vector>

class CImageWnd : public QWidget {
  Q_OBJECT

 public:
  explicit CImageWnd(QWidget* parent = nullptr);

  // Cuts bitmap `bitmapId` into `frameCount` frames side by side, shown `msPerFrame` apart, with
  // `transparent` (0xRRGGBB) left out; `loop` starts again after the last frame. False when the
  // bitmap is missing or too narrow for the frames.
  bool SetAnimation(uint32_t bitmapId, int frameCount, int msPerFrame, uint32_t transparent, bool loop);
  // Centres the window on (x, y) of its parent, or on the parent's centre when x or y is -1. Does
  // nothing before the animation is set.
  void SetPosition(int x, int y);
  // Starts and stops the frames; Start without frames does nothing. Stop goes back to the first
  // frame.
  void Start();
  void Stop();
  bool IsRunning() const { return m_timer.isActive(); }
  int CurrentFrame() const { return m_frame; }
  int FrameCount() const { return static_cast<int>(m_frames.size()); }

  // The shape of a frame: every pixel with a channel below `transparent`'s or more than 0x10 above
  // it.
  static QRegion FrameRegion(const QImage& frame, QColor transparent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void ShowFrame(int index);

  std::vector<QImage> m_frames;
  std::vector<QRegion> m_regions;
  QTimer m_timer;
  int m_frame = 0;
  bool m_loop = true;
};
