#include "controls/ExtendHeaderCtrl.h"

#include <QPainter>
#include <QStandardItemModel>

#include "ui/UiFont.h"

CExtendHeaderCtrl::CExtendHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setModel(new QStandardItemModel(0, 0, this));
  setFont(corvale::ui::MakeUiFont(14, 400));
  setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setSectionsClickable(false);
  setStretchLastSection(false);
  setSectionResizeMode(QHeaderView::Interactive);
  // The part beyond the last column is the header's own grey too, whatever its parent's colours.
  QPalette colours = palette();
  colours.setColor(QPalette::Window, QColor(248, 248, 248));
  colours.setColor(QPalette::Button, QColor(248, 248, 248));
  setPalette(colours);
}

void CExtendHeaderCtrl::SetColumns(const QStringList& texts, const QList<int>& widths) {
  // A view's own model gives its columns; only the header's own model is shaped here.
  if (auto* items = qobject_cast<QStandardItemModel*>(model())) items->setColumnCount(texts.size());
  for (int i = 0; i < texts.size() && i < count(); ++i) {
    model()->setHeaderData(i, Qt::Horizontal, texts[i]);
    if (i < widths.size()) resizeSection(i, widths[i]);
  }
}

void CExtendHeaderCtrl::SetColumnText(int column, const QString& text) {
  model()->setHeaderData(column, Qt::Horizontal, text);
}

QString CExtendHeaderCtrl::ColumnText(int column) const {
  return model()->headerData(column, Qt::Horizontal).toString();
}

int CExtendHeaderCtrl::TotalWidth() const {
  int total = 0;
  for (int i = 0; i < count(); ++i) total += sectionSize(i);
  return total;
}

QSize CExtendHeaderCtrl::sizeHint() const {
  QSize size = QHeaderView::sizeHint();
  size.setHeight(size.height() + 3);
  return size;
}

void CExtendHeaderCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  painter->save();
  painter->fillRect(rect, QColor(248, 248, 248));
  painter->setPen(QColor(203, 212, 219));
  painter->drawLine(rect.topRight(), rect.bottomRight());
  painter->drawLine(rect.bottomLeft(), rect.bottomRight());
  painter->setPen(Qt::black);
  painter->setFont(font());
  // A column's text is aligned as its model says (the cells' alignment), else to the left.
  const QVariant alignment = model()->headerData(logicalIndex, Qt::Horizontal, Qt::TextAlignmentRole);
  const int horizontal =
      alignment.isValid() ? (alignment.toInt() & Qt::AlignHorizontal_Mask) : static_cast<int>(Qt::AlignLeft);
  painter->drawText(rect.adjusted(4, 0, -2, 0),
                    (horizontal ? horizontal : Qt::AlignLeft) | Qt::AlignVCenter | Qt::TextSingleLine,
                    ColumnText(logicalIndex));
  painter->restore();
}
