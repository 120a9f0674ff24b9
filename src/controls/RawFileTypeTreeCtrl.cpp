#include "controls/RawFileTypeTreeCtrl.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>

namespace {
constexpr int kDataRole = Qt::UserRole;
}  // namespace

CRawFileTypeTreeCtrl::CRawFileTypeTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
}

QTreeWidgetItem* CRawFileTypeTreeCtrl::InsertCategory(const QString& text, const QIcon& icon) {
  auto* item = new QTreeWidgetItem(this, QStringList{text});
  item->setIcon(0, icon);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  item->setData(0, kDataRole, 0u);
  SetState(item, kUnchecked);
  return item;
}

QTreeWidgetItem* CRawFileTypeTreeCtrl::InsertType(QTreeWidgetItem* category, const QString& text,
                                                  const QIcon& icon, int32_t typeId) {
  auto* item = new QTreeWidgetItem(category, QStringList{text});
  item->setIcon(0, icon);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  item->setData(0, kDataRole, static_cast<uint32_t>(typeId) << 16);
  SetState(item, kUnchecked);
  return item;
}

uint32_t CRawFileTypeTreeCtrl::ItemData(const QTreeWidgetItem* item) {
  return item ? item->data(0, kDataRole).toUInt() : 0;
}

void CRawFileTypeTreeCtrl::SetState(QTreeWidgetItem* item, uint32_t state) {
  const uint32_t data = (ItemData(item) & 0xFFFF0000u) | (state & 0xFFFFu);
  item->setData(0, kDataRole, data);
  const Qt::CheckState mark = state == kChecked         ? Qt::Checked
                              : state == kPartlyChecked ? Qt::PartiallyChecked
                                                        : Qt::Unchecked;
  item->setData(0, Qt::CheckStateRole, mark);
}

void CRawFileTypeTreeCtrl::UpdateCategory(QTreeWidgetItem* category) {
  if (category == nullptr) return;
  const int count = category->childCount();
  int ticked = 0;
  for (int i = 0; i < count; ++i)
    if (StateOf(category->child(i)) == kChecked) ++ticked;
  SetState(category, ticked == 0 ? kUnchecked : ticked == count ? kChecked : kPartlyChecked);
}

void CRawFileTypeTreeCtrl::CheckFileType(int32_t typeId) {
  for (int c = 0; c < topLevelItemCount(); ++c) {
    QTreeWidgetItem* category = topLevelItem(c);
    for (int i = 0; i < category->childCount(); ++i)
      if (TypeIdOf(category->child(i)) == typeId) SetState(category->child(i), kChecked);
    UpdateCategory(category);
  }
}

void CRawFileTypeTreeCtrl::Toggle(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  const uint32_t state = StateOf(item);
  const uint32_t next = (state == kUnchecked || state == kPartlyChecked) ? kChecked : kUnchecked;
  if (item->childCount() > 0) {
    for (int i = 0; i < item->childCount(); ++i) SetState(item->child(i), next);
    SetState(item, next);
  } else {
    SetState(item, next);
    UpdateCategory(item->parent());
  }
}

QTreeWidgetItem* CRawFileTypeTreeCtrl::CheckBoxAt(const QPoint& pos) const {
  QTreeWidgetItem* item = itemAt(pos);
  if (item == nullptr) return nullptr;
  QStyleOptionViewItem option;
  option.initFrom(this);
  option.rect = visualItemRect(item);
  option.features |= QStyleOptionViewItem::HasCheckIndicator;
  const QRect box = style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
  return box.adjusted(-2, -2, 2, 2).contains(pos) ? item : nullptr;
}

void CRawFileTypeTreeCtrl::mousePressEvent(QMouseEvent* event) {
  if (QTreeWidgetItem* item = CheckBoxAt(event->position().toPoint()); item && isEnabled()) {
    Toggle(item);
    return;
  }
  QTreeWidget::mousePressEvent(event);
}

void CRawFileTypeTreeCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  if (QTreeWidgetItem* item = CheckBoxAt(event->position().toPoint()); item && isEnabled()) {
    Toggle(item);
    return;
  }
  QTreeWidget::mouseDoubleClickEvent(event);
}
