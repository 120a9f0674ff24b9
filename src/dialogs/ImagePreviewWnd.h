#pragma once
// The picture page of the preview dialog: the previewed file decoded as a picture and shown either
// shrunk to fit (never enlarged) or at actual size with scroll bars. A file that does not decode, or
// whose picture would need more memory than the reader's limit, shows a warning text instead.

#include <QAbstractScrollArea>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <string>

class CImageWindow : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // The most memory a decoded picture may take, in MiB.
  static constexpr int kAllocationLimitMiB = 512;

  explicit CImageWindow(QWidget* parent = nullptr);

  // Decodes `path`, dropping any previous picture. True when a picture was decoded.
  bool Load(const std::string& path);
  bool HasImage() const { return !m_image.isNull(); }
  const QImage& Image() const { return m_image; }
  // Why the last load failed (the reader's words), empty after a success.
  const QString& FailureReason() const { return m_failure; }
  // Best fit (true, the starting mode) or actual size.
  void SetMode(bool fit);
  bool IsFit() const { return m_fit; }

  // Where a picture of `image` is drawn in a client area of `client`: in best fit shrunk keeping
  // its proportions and centred; otherwise 1:1 from the scroll offsets, centred where it is smaller.
  static QRect DrawRect(QSize image, QSize client, bool fit, QPoint scroll);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void UpdateBars();

  QImage m_image;
  QPixmap m_scaled;  // the picture at its last best-fit size
  QString m_failure;
  bool m_fit = true;
};
