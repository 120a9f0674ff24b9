#pragma once
// The header of every custom list: the user-interface font at height 14, a light grey background,
// three pixels taller than a plain header, left-aligned column texts.

#include <QHeaderView>

class CExtendHeaderCtrl : public QHeaderView {
  Q_OBJECT

 public:
  explicit CExtendHeaderCtrl(QWidget* parent = nullptr);

  // Sets the columns' texts and widths (replacing any earlier columns).
  void SetColumns(const QStringList& texts, const QList<int>& widths);
  void SetColumnText(int column, const QString& text);
  QString ColumnText(int column) const;
  // The sum of the columns' widths.
  int TotalWidth() const;

  QSize sizeHint() const override;

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
};
