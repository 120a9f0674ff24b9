#include "wizard/TypeRecoveryTreeCtrl.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "controls/MaskedBitmap.h"
#include "platform/Log.h"
#include "ui/Pictures.h"
#include "ui/UiFont.h"

namespace {

constexpr int kCheckBoxSize = 16;
constexpr int kImageSize = 32;
constexpr int kCategoryCount = 7;
// Catalogues are two levels deep; a deeper chain of parents means broken records.
constexpr int kMaxDepth = 8;

}  // namespace

CTypeOfFileToRecoveryTreeCtrl::CTypeOfFileToRecoveryTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setSelectionMode(QAbstractItemView::NoSelection);
  setFocusPolicy(Qt::StrongFocus);
  setItemsExpandable(false);
  setExpandsOnDoubleClick(false);
  setRootIsDecorated(false);
  setIndentation(28);
  setFrameShape(QFrame::NoFrame);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
}

CTypeOfFileToRecoveryTreeCtrl::~CTypeOfFileToRecoveryTreeCtrl() = default;

bool CTypeOfFileToRecoveryTreeCtrl::CreateCategoryImageList() {
  m_categoryImages.clear();
  bool complete = true;
  for (int i = 0; i < kCategoryCount; ++i) {
    CMaskedBitmap bitmap;
    complete = bitmap.LoadBitmap(corvale::ui::bitmap::kCategoryIcons[i]) && complete;
    m_categoryImages.push_back(bitmap.Pixmap());
  }
  return complete;
}

bool CTypeOfFileToRecoveryTreeCtrl::CreateStateImageList(uint32_t id) {
  CMaskedBitmap bitmap;
  if (!bitmap.LoadBitmap(id)) return false;
  m_stateImages = bitmap.Pixmap();
  return true;
}

const QPixmap& CTypeOfFileToRecoveryTreeCtrl::CategoryImage(int index) const {
  static const QPixmap none;
  if (m_categoryImages.empty()) return none;
  // An icon index from the file can be anything; one past the pictures shows the last picture.
  const size_t at = index >= 0 && static_cast<size_t>(index) < m_categoryImages.size()
                        ? static_cast<size_t>(index)
                        : m_categoryImages.size() - 1;
  return m_categoryImages[at];
}

QPixmap CTypeOfFileToRecoveryTreeCtrl::StateImage(int checkState) const {
  const int side = m_stateImages.height();
  const int slot = checkState + 1;  // state 0 is image 1, 1 is 2, 2 is 3
  if (side <= 0 || (slot + 1) * side > m_stateImages.width()) return {};
  return m_stateImages.copy(slot * side, 0, side, side);
}

int CTypeOfFileToRecoveryTreeCtrl::LoadFileTypes(const std::string& path) {
  clear();
  m_catalogue.RemoveAll();
  int result = m_catalogue.LoadFromXml(path);
  m_loadMessage.clear();
  if (result != 0) {
    m_loadMessage = m_catalogue.GetLoadError();
    m_catalogue.RemoveAll();
    m_catalogue.LoadFromXmlText(BuiltInFileTypeCatalogue());
  }
  FillTree();
  return result;
}

void CTypeOfFileToRecoveryTreeCtrl::FillTree() {
  clear();
  const std::vector<int32_t> ids = m_catalogue.GetTypeIds();
  for (int32_t id : ids) m_catalogue.FindType(id)->treeItem = nullptr;
  for (int32_t id : ids)
    if (FILE_TYPE_RECORD* record = m_catalogue.FindType(id); record && !record->treeItem) Insert(record, 0);
  expandAll();
  for (int32_t id : ids) {
    QTreeWidgetItem* item = ItemOf(id);
    if (item && item->childCount() == 0) UpdateParents(item);
  }
  if (QTreeWidgetItem* root = ItemOf(0)) scrollToItem(root, QAbstractItemView::PositionAtTop);
  viewport()->update();
}

QTreeWidgetItem* CTypeOfFileToRecoveryTreeCtrl::Insert(FILE_TYPE_RECORD* record, int depth) {
  if (record->treeItem) return static_cast<QTreeWidgetItem*>(record->treeItem);
  QTreeWidgetItem* parent = nullptr;
  if (record->parentId != -1) {
    FILE_TYPE_RECORD* parentRecord = m_catalogue.FindType(record->parentId);
    // A record whose parent is missing, or a chain of parents that never ends, goes under the root.
    if (parentRecord && parentRecord != record && depth < kMaxDepth)
      parent = Insert(parentRecord, depth + 1);
    else
      parent = topLevelItem(0);
  } else if (topLevelItemCount() > 0) {
    parent = topLevelItem(0);
  }
  auto* item = new QTreeWidgetItem;
  item->setText(0, QString::fromStdString(record->description));
  item->setData(0, Qt::UserRole, record->id);
  item->setSizeHint(0, QSize(1, m_itemHeight));
  if (parent)
    parent->addChild(item);
  else
    addTopLevelItem(item);
  record->treeItem = item;
  return item;
}

QTreeWidgetItem* CTypeOfFileToRecoveryTreeCtrl::ItemOf(int32_t id) const {
  const FILE_TYPE_RECORD* record = m_catalogue.FindType(id);
  return record ? static_cast<QTreeWidgetItem*>(record->treeItem) : nullptr;
}

FILE_TYPE_RECORD* CTypeOfFileToRecoveryTreeCtrl::RecordOf(const QTreeWidgetItem* item) {
  return item ? m_catalogue.FindType(item->data(0, Qt::UserRole).toInt()) : nullptr;
}

const FILE_TYPE_RECORD* CTypeOfFileToRecoveryTreeCtrl::RecordOf(const QTreeWidgetItem* item) const {
  return item ? m_catalogue.FindType(item->data(0, Qt::UserRole).toInt()) : nullptr;
}

bool CTypeOfFileToRecoveryTreeCtrl::HasCheckedType() const {
  for (int32_t id : m_catalogue.GetTypeIds()) {
    const int16_t state = m_catalogue.FindType(id)->checkState;
    if (state == 1 || state == 2) return true;
  }
  return false;
}

void CTypeOfFileToRecoveryTreeCtrl::SetChildrenState(QTreeWidgetItem* item, int16_t state) {
  for (int i = 0; i < item->childCount(); ++i) {
    QTreeWidgetItem* child = item->child(i);
    if (FILE_TYPE_RECORD* record = RecordOf(child)) record->checkState = state;
    SetChildrenState(child, state);
  }
}

void CTypeOfFileToRecoveryTreeCtrl::UpdateParents(QTreeWidgetItem* item) {
  for (QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent()) {
    int ticked = 0;
    for (int i = 0; i < parent->childCount(); ++i) {
      const FILE_TYPE_RECORD* child = RecordOf(parent->child(i));
      if (child && child->checkState == 2) ++ticked;
    }
    FILE_TYPE_RECORD* record = RecordOf(parent);
    if (!record) continue;
    record->checkState = ticked == parent->childCount() ? 2 : ticked > 0 ? 1 : 0;
  }
}

void CTypeOfFileToRecoveryTreeCtrl::ToggleCheck(QTreeWidgetItem* item) {
  FILE_TYPE_RECORD* record = RecordOf(item);
  if (!record) return;
  record->checkState = record->checkState == 2 ? 0 : 2;
  SetChildrenState(item, record->checkState);
  UpdateParents(item);
  viewport()->update();
  if (m_next) m_next(HasCheckedType());
}

CTypeOfFileToRecoveryTreeCtrl::RowParts CTypeOfFileToRecoveryTreeCtrl::PartsOf(
    const QRect& row, const FILE_TYPE_RECORD* record) const {
  RowParts parts;
  // The check box sits in the margin left of the row's text, centred on the row.
  const int margin = std::max(m_leftMargin, kCheckBoxSize + 6);
  const int middle = row.top() + row.height() / 2;
  parts.checkBox = QRect(row.left() + (margin - kCheckBoxSize) / 2, middle - kCheckBoxSize / 2, kCheckBoxSize,
                         kCheckBoxSize);
  int textLeft = row.left() + margin;
  if (record && record->level == 1) {
    parts.image = QRect(textLeft, middle - kImageSize / 2, kImageSize, kImageSize);
    textLeft += kImageSize + 10;
  }
  // The text may use the whole width of the tree, whatever the column's own width.
  parts.text = QRect(textLeft, row.top(), std::max(0, viewport()->width() - textLeft - 8), row.height());
  return parts;
}

QRect CTypeOfFileToRecoveryTreeCtrl::CheckBoxRect(const QTreeWidgetItem* item) const {
  if (!item) return {};
  const QRect row = visualItemRect(item);
  return PartsOf(row, RecordOf(item)).checkBox;
}

bool CTypeOfFileToRecoveryTreeCtrl::HitCheckBox(const QPoint& pos) {
  QTreeWidgetItem* item = itemAt(pos);
  if (!item) return false;
  // A few pixels round the box count as the box: it is small for a finger or a shaky hand.
  if (!CheckBoxRect(item).adjusted(-3, -3, 3, 3).contains(pos)) return false;
  ToggleCheck(item);
  return true;
}

void CTypeOfFileToRecoveryTreeCtrl::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && HitCheckBox(event->position().toPoint())) {
    event->accept();
    return;
  }
  if (m_defaultMouse) {
    QTreeWidget::mousePressEvent(event);
    return;
  }
  event->accept();
}

void CTypeOfFileToRecoveryTreeCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click is two clicks on the box: each toggles.
  if (event->button() == Qt::LeftButton && HitCheckBox(event->position().toPoint())) {
    event->accept();
    return;
  }
  if (m_defaultMouse) {
    QTreeWidget::mouseDoubleClickEvent(event);
    return;
  }
  event->accept();
}

void CTypeOfFileToRecoveryTreeCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (m_defaultMouse) {
    QTreeWidget::mouseReleaseEvent(event);
    return;
  }
  event->accept();
}

void CTypeOfFileToRecoveryTreeCtrl::keyPressEvent(QKeyEvent* event) {
  // The space bar ticks the row under the keyboard focus, as a click on its box does.
  if (event->key() == Qt::Key_Space && currentItem()) {
    ToggleCheck(currentItem());
    event->accept();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

CTypeRecoveryDrawTreeCtrl::CTypeRecoveryDrawTreeCtrl(QWidget* parent)
    : CTypeOfFileToRecoveryTreeCtrl(parent),
      m_plainFont(corvale::ui::MakeUiPointFont(100, 400)),
      m_nameFont(corvale::ui::MakeUiPointFont(100, 700)),
      m_descriptionFont(corvale::ui::MakeUiPointFont(95, 400)) {}

QString CTypeRecoveryDrawTreeCtrl::SecondLine(const FILE_TYPE_RECORD& record) {
  if (record.level != 2) return QString::fromStdString(record.label);
  QStringList extensions;
  for (const std::string& extension : record.extensions) extensions << QString::fromStdString(extension);
  return extensions.join(QStringLiteral("  "));
}

void CTypeRecoveryDrawTreeCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const {
  const QRect full(0, option.rect.top(), viewport()->width(), option.rect.height());
  painter->fillRect(full, Qt::white);
  const QTreeWidgetItem* item = itemFromIndex(index);
  const FILE_TYPE_RECORD* record = RecordOf(item);
  if (!record) return;
  const RowParts parts = PartsOf(visualRect(index), record);
  // A thin line between rows of files keeps the tall rows apart.
  painter->fillRect(QRect(parts.checkBox.left(), full.bottom(), full.width(), 1), QColor(236, 240, 243));

  const QPixmap box = StateImage(record->checkState);
  if (!box.isNull()) painter->drawPixmap(parts.checkBox.topLeft(), box);
  if (!parts.image.isNull()) {
    const QPixmap& image = CategoryImage(record->iconIndex);
    if (!image.isNull()) painter->drawPixmap(parts.image.topLeft(), image);
  }

  painter->setPen(QColor(33, 47, 61));
  const QString name = QString::fromStdString(record->description);
  if (record->id == 0) {
    painter->setFont(m_plainFont);
    painter->drawText(parts.text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, name);
    return;
  }
  painter->setFont(m_nameFont);
  painter->drawText(parts.text.adjusted(0, -20, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    name);
  painter->setFont(m_descriptionFont);
  painter->setPen(QColor(93, 109, 126));
  const QRect second = parts.text.adjusted(0, 20, 0, 0);
  const QString text = painter->fontMetrics().elidedText(SecondLine(*record), Qt::ElideRight, second.width());
  painter->drawText(second, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}
