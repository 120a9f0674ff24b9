#include "controls/FileTreeCtrl.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <thread>

#include "controls/FileListCtrl.h"
#include "controls/Formatting.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "platform/Log.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"

namespace {

constexpr int kIconSide = 16;
constexpr uint16_t kStateDeleted = 0x01;
constexpr uint16_t kStateTemporary = 0x08;
constexpr uint16_t kStateUnsorted = 0x10;

bool IsFolder(const CFileNode* node) {
  const IFileProperties* p = node->GetFileProperties();
  return p != nullptr && p->IsFolder();
}

const char* NameOf(const CFileNode* node) {
  if (const IFileProperties* p = node->GetFileProperties()) return p->GetName();
  if (node->IsFileSystemNode()) return static_cast<const CFileSystemNode*>(node)->GetName();
  return "";
}

uint16_t StateFlagsOf(const CFileNode* node) {
  const IFileProperties* p = node->GetFileProperties();
  return p != nullptr ? p->GetTypeWord() : 0;
}

// Cuts picture `index` (16 pixels wide) out of a strip and makes its colour key transparent.
QPixmap StripImage(uint32_t bitmap, int index, QColor key) {
  const QPixmap strip = corvale::ui::LoadBitmapResource(bitmap);
  if (strip.isNull() || (index + 1) * kIconSide > strip.width()) return {};
  QPixmap image = strip.copy(index * kIconSide, 0, kIconSide, std::min(kIconSide, strip.height()));
  image.setMask(image.createMaskFromColor(key));
  return image;
}

// Tick box, folder picture and label of a folder row.
class FolderDelegate : public QStyledItemDelegate {
 public:
  explicit FolderDelegate(CTreeCtrlPlus* tree) : QStyledItemDelegate(tree), m_tree(tree) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QRect r = option.rect;
    if (opt.state & QStyle::State_Selected) painter->fillRect(r, QColor(216, 251, 252));
    const int state = index.data(CFileTreeModel::kCheckStateRole).toInt();
    const int y = r.top() + (r.height() - kIconSide) / 2;
    painter->drawPixmap(r.left(), y, m_tree->CheckPicture(state + 1));
    painter->drawPixmap(r.left() + kIconSide + 2, y,
                        m_tree->FolderPicture(index.data(CFileTreeModel::kImageRole).toInt()));
    painter->setPen(QColor(33, 47, 61));
    painter->drawText(r.adjusted(2 * kIconSide + 6, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                      index.data(Qt::DisplayRole).toString());
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QString text = index.data(Qt::DisplayRole).toString();
    return QSize(2 * kIconSide + 10 + option.fontMetrics.horizontalAdvance(text), 18);
  }

 private:
  CTreeCtrlPlus* m_tree;
};

// The notice shown while a tick of a large folder runs.
class WaitingNotice : public QFrame {
 public:
  explicit WaitingNotice(QWidget* parent) : QFrame(parent, Qt::Tool | Qt::FramelessWindowHint) {
    setFrameStyle(QFrame::Box);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(corvale::ui::LoadStringResource(391), this);
    label->setWordWrap(true);
    layout->addWidget(label);
    resize(320, 70);
  }
};

}  // namespace

// ---- CFileTreeModel ----

CFileTreeModel::CFileTreeModel(QObject* parent) : QAbstractItemModel(parent) {}
CFileTreeModel::~CFileTreeModel() = default;

int CFileTreeModel::ImageOf(const CFileNode* node) {
  const uint16_t flags = StateFlagsOf(node);
  if (flags & kStateTemporary) return 4;
  if (flags & kStateUnsorted) return 3;
  if (flags & kStateDeleted) return 2;
  if (node->IsFileSystemNode()) return 0;
  return 1;
}

void CFileTreeModel::SetRoot(CFileNode* root) {
  beginResetModel();
  m_root = root;
  m_top.reset();
  m_itemCount = 0;
  if (root != nullptr) {
    m_top = std::make_unique<Item>();
    m_top->node = root;
  }
  ++m_announcing;
  endResetModel();
  --m_announcing;
  if (m_top) Fetch(m_top.get(), QModelIndex());
}

CFileTreeModel::Item* CFileTreeModel::ItemOf(const QModelIndex& index) const {
  if (!index.isValid()) return m_top.get();
  return static_cast<Item*>(index.internalPointer());
}

QModelIndex CFileTreeModel::IndexOfItem(Item* item) const {
  if (item == nullptr || item == m_top.get()) return {};
  return createIndex(item->row, 0, item);
}

CFileNode* CFileTreeModel::NodeOf(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return nullptr;
  return static_cast<Item*>(index.internalPointer())->node;
}

bool CFileTreeModel::HasFolders(Item* item) const {
  if (item->hasFolders < 0) {
    item->hasFolders = 0;
    for (CFileNode* c = item->node->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
      if (IsFolder(c)) {
        item->hasFolders = 1;
        break;
      }
    }
  }
  return item->hasFolders > 0;
}

void CFileTreeModel::Fetch(Item* item, const QModelIndex& index) {
  if (item->fetched) return;
  item->fetched = true;
  std::vector<std::unique_ptr<Item>> children;
  for (CFileNode* c = item->node->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    if (!IsFolder(c)) continue;
    auto child = std::make_unique<Item>();
    child->node = c;
    child->parent = item;
    children.push_back(std::move(child));
  }
  // Folders are sorted by name as a person reads them (d2 before d10), except below a node whose
  // state flags keep the found order.
  if (!(StateFlagsOf(item->node) & kStateUnsorted)) {
    std::stable_sort(children.begin(), children.end(), [](const auto& a, const auto& b) {
      return CompareNamesNaturally(NameOf(a->node), NameOf(b->node)) < 0;
    });
  }
  item->hasFolders = children.empty() ? 0 : 1;
  if (children.empty()) return;
  beginInsertRows(index, 0, static_cast<int>(children.size()) - 1);
  for (size_t i = 0; i < children.size(); ++i) children[i]->row = static_cast<int>(i);
  m_itemCount += children.size();
  item->children = std::move(children);
  ++m_announcing;
  endInsertRows();
  --m_announcing;
}

QModelIndex CFileTreeModel::index(int row, int column, const QModelIndex& parent) const {
  Item* item = ItemOf(parent);
  if (item == nullptr || column != 0 || row < 0 || row >= static_cast<int>(item->children.size())) return {};
  return createIndex(row, 0, item->children[row].get());
}

QModelIndex CFileTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  return IndexOfItem(static_cast<Item*>(child.internalPointer())->parent);
}

int CFileTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  Item* item = ItemOf(parent);
  return item == nullptr ? 0 : static_cast<int>(item->children.size());
}

int CFileTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool CFileTreeModel::hasChildren(const QModelIndex& parent) const {
  Item* item = ItemOf(parent);
  if (item == nullptr) return false;
  return item->fetched ? !item->children.empty() : HasFolders(item);
}

bool CFileTreeModel::canFetchMore(const QModelIndex& parent) const {
  Item* item = ItemOf(parent);
  return item != nullptr && !item->fetched && HasFolders(item);
}

void CFileTreeModel::fetchMore(const QModelIndex& parent) {
  if (m_announcing > 0) return;
  if (Item* item = ItemOf(parent)) Fetch(item, parent);
}

QVariant CFileTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  Item* item = static_cast<Item*>(index.internalPointer());
  const CFileNode* node = item->node;
  switch (role) {
    case Qt::DisplayRole: {
      if (item->entries < 0) {
        int64_t count = 0;
        for (const CFileNode* c = node->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) ++count;
        item->entries = count;
      }
      return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(NameOf(node))).arg(item->entries);
    }
    case kNodeRole:
      return QVariant::fromValue(static_cast<void*>(item->node));
    case kCheckStateRole: {
      const IFileProperties* p = node->GetFileProperties();
      const int state = p != nullptr ? p->GetCheckState() : 0;
      return state >= 0 && state <= 2 ? state : 0;
    }
    case kImageRole:
      return ImageOf(node);
    default:
      return {};
  }
}

Qt::ItemFlags CFileTreeModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

QModelIndex CFileTreeModel::IndexOf(CFileNode* node) {
  if (node == nullptr || m_top == nullptr || node == m_root || !IsFolder(node)) return {};
  std::vector<CFileNode*> chain;
  for (CFileNode* n = node; n != m_root; n = n->GetParent()) {
    if (n == nullptr) return {};
    chain.push_back(n);
  }
  Item* item = m_top.get();
  QModelIndex index;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    Fetch(item, index);
    Item* next = nullptr;
    for (const auto& c : item->children) {
      if (c->node == *it) {
        next = c.get();
        break;
      }
    }
    if (next == nullptr) return {};
    item = next;
    index = IndexOfItem(item);
  }
  return index;
}

void CFileTreeModel::EmitSubtree(Item* item, const QModelIndex& index) {
  if (item->children.empty()) return;
  emit dataChanged(this->index(0, 0, index),
                   this->index(static_cast<int>(item->children.size()) - 1, 0, index));
  for (const auto& c : item->children) {
    if (!c->children.empty()) EmitSubtree(c.get(), IndexOfItem(c.get()));
  }
}

void CFileTreeModel::RefreshChecks(const QModelIndex& index) {
  Item* item = ItemOf(index);
  if (item == nullptr) return;
  EmitSubtree(item, index);
  for (QModelIndex i = index; i.isValid(); i = i.parent()) emit dataChanged(i, i);
}

void CFileTreeModel::RefreshAllChecks() {
  if (m_top) EmitSubtree(m_top.get(), QModelIndex());
}

// ---- CTreeCtrlPlus ----

CTreeCtrlPlus::CTreeCtrlPlus(QWidget* parent) : QTreeView(parent) {
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setItemDelegate(new FolderDelegate(this));
  setRootIsDecorated(true);
  SetImages(corvale::ui::bitmap::kCheckBoxStrip, corvale::ui::bitmap::kFolderStrip);
}

void CTreeCtrlPlus::SetImages(uint32_t checkboxBitmap, uint32_t folderBitmap) {
  LogError("------------------------ParmInfo:UINT uCheckboxImageID=%x, UINT uFloderImageID=%x",
           checkboxBitmap, folderBitmap);
  for (int i = 0; i < 4; ++i) m_checks[i] = StripImage(checkboxBitmap, i, QColor(255, 0, 0));
  for (int i = 0; i < 5; ++i) m_folders[i] = StripImage(folderBitmap, i, QColor(255, 0, 255));
}

QRect CTreeCtrlPlus::CheckRect(const QModelIndex& index) const {
  const QRect r = visualRect(index);
  if (!r.isValid()) return {};
  return QRect(r.left(), r.top() + (r.height() - kIconSide) / 2, kIconSide, kIconSide);
}

void CTreeCtrlPlus::mousePressEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && index.isValid() &&
      CheckRect(index).contains(event->position().toPoint())) {
    emit ToggleRequested(index);
    return;
  }
  QTreeView::mousePressEvent(event);
  if (event->button() == Qt::RightButton && currentIndex().isValid()) emit RightClicked();
}

void CTreeCtrlPlus::contextMenuEvent(QContextMenuEvent* event) {
  // A right click selects the row under it first (mousePressEvent); the menu key acts on the
  // current row.
  if (currentIndex().isValid()) emit ContextMenuAsked(event->globalPos());
}

void CTreeCtrlPlus::mouseDoubleClickEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && index.isValid() &&
      CheckRect(index).contains(event->position().toPoint())) {
    emit ToggleRequested(index);
    return;
  }
  QTreeView::mouseDoubleClickEvent(event);
}

void CTreeCtrlPlus::keyPressEvent(QKeyEvent* event) {
  // Space ticks on its release; its press does nothing at all.
  if (event->key() == Qt::Key_Space) return;
  QTreeView::keyPressEvent(event);
}

void CTreeCtrlPlus::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space) {
    if (!event->isAutoRepeat() && currentIndex().isValid()) emit ToggleRequested(currentIndex());
    return;
  }
  QTreeView::keyReleaseEvent(event);
}

void CTreeCtrlPlus::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTreeView::currentChanged(current, previous);
  if (current.isValid()) emit SelectionChangedTo(current);
}

bool CTreeCtrlPlus::FindAndSelectItem(CFileNode* node, QModelIndex* item) {
  auto* model = qobject_cast<CFileTreeModel*>(this->model());
  if (model == nullptr) return false;
  const QModelIndex index = model->IndexOf(node);
  if (!index.isValid()) return false;
  for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) expand(p);
  if (!index.parent().isValid() && index.row() == 0) expand(index);
  scrollTo(index, QAbstractItemView::PositionAtTop);
  setCurrentIndex(index);
  if (item != nullptr) *item = index;
  return true;
}

// ---- CFileTreeCtrl ----

CFileTreeCtrl::CFileTreeCtrl(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  m_tree = new CTreeCtrlPlus(this);
  m_tree->setObjectName(QStringLiteral("1314"));
  m_model = new CFileTreeModel(this);
  m_tree->setModel(m_model);
  layout->addWidget(m_tree);
  connect(m_tree, &CTreeCtrlPlus::ToggleRequested, this, &CFileTreeCtrl::ToggleItem);
  connect(m_tree, &CTreeCtrlPlus::SelectionChangedTo, this, &CFileTreeCtrl::OnSelectionChanged);
  connect(m_tree, &CTreeCtrlPlus::ContextMenuAsked, this, &CFileTreeCtrl::ShowContextMenu);
}

std::unique_ptr<QMenu> CFileTreeCtrl::BuildContextMenu() {
  auto menu = std::make_unique<QMenu>();
  QAction* properties = menu->addAction(QStringLiteral("Properties"));
  properties->setData(kCommandProperties);
  properties->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Return));
  return menu;
}

void CFileTreeCtrl::ShowContextMenu(const QPoint& globalPos) {
  if (m_model->NodeOf(m_tree->currentIndex()) == nullptr) return;
  std::unique_ptr<QMenu> menu = BuildContextMenu();
  if (QAction* chosen = menu->exec(globalPos)) emit Command(chosen->data().toInt());
}

CFileTreeCtrl::~CFileTreeCtrl() = default;

void CFileTreeCtrl::SetImages(uint32_t checkboxBitmap, uint32_t folderBitmap) {
  LogError("------------------------ParmInfo:UINT uCheckboxImageID=%x, UINT uFloderImageI=%x", checkboxBitmap,
           folderBitmap);
  m_tree->SetImages(checkboxBitmap, folderBitmap);
}

void CFileTreeCtrl::FillTree(CFileNode* root) {
  m_model->SetRoot(root);
  if (m_model->rowCount() == 0) return;
  const QModelIndex first = m_model->index(0, 0);
  m_tree->setCurrentIndex(first);
  m_tree->setFocus();
  if (m_model->rowCount() == 1) m_tree->expand(first);
}

void CFileTreeCtrl::RefreshAllItems() { m_model->RefreshAllChecks(); }

void CFileTreeCtrl::RefreshItem(const QModelIndex& item) {
  if (item.isValid()) m_model->RefreshChecks(item);
}

QModelIndex CFileTreeCtrl::GetSelectedItem() const { return m_tree->currentIndex(); }

bool CFileTreeCtrl::FindNodeItem(CFileNode* node, QModelIndex* item) {
  return m_tree->FindAndSelectItem(node, item);
}

void CFileTreeCtrl::OnSelectionChanged(const QModelIndex& item) {
  CFileNode* node = m_model->NodeOf(item);
  if (m_list != nullptr && Root() != nullptr && node != nullptr) m_list->ShowFolder(Root(), node, item);
}

void CFileTreeCtrl::ToggleItem(const QModelIndex& index) {
  // Only one tick runs at a time; the disabled main window keeps the user from starting another,
  // and this guard keeps a key or a test from doing so.
  if (m_toggling) return;
  CFileNode* node = m_model->NodeOf(index);
  auto* root = dynamic_cast<CFileSystemNode*>(Root());
  if (node == nullptr || root == nullptr) return;
  m_toggling = true;
  const QPersistentModelIndex item(index);
  QWidget* main = m_mainWindow != nullptr ? m_mainWindow : window();
  main->setEnabled(false);
  WaitingNotice notice(main);
  notice.move(main->mapToGlobal(main->rect().center()) - QPoint(notice.width() / 2, notice.height() / 2));
  notice.show();

  QEventLoop loop;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    root->ToggleCheck(node, false);
    done = true;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  if (!done) loop.exec();
  worker.join();

  RefreshItem(item);
  emit TicksChanged();
  main->setEnabled(true);
  notice.hide();
  // The list shows the ticks of its rows: repaint it when the listed folder lies in what changed.
  if (m_list != nullptr) {
    for (QModelIndex up = m_list->GetCurrentTreeItem(); up.isValid(); up = up.parent()) {
      if (up == QModelIndex(item)) {
        m_list->Model()->AllRowsChanged();
        break;
      }
    }
  }
  m_toggling = false;
}
