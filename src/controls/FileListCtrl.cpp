#include "controls/FileListCtrl.h"

#include <strings.h>

#include <QActionGroup>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImageReader>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "controls/AttributesStates.h"
#include "controls/BreviaryImageLoadCallback.h"
#include "controls/ButtonPlus.h"
#include "controls/FileTreeCtrl.h"
#include "controls/Formatting.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "platform/Log.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"

namespace {

constexpr int kIconSide = 16;
constexpr uint16_t kAttributeReadOnly = 0x0001;
constexpr uint16_t kStateDeleted = 0x0001;
// Bits of the valid-properties mask.
constexpr uint32_t kValidName = 0x01;
constexpr uint32_t kValidSize = 0x02;
constexpr uint32_t kValidAttributes = 0x04;
constexpr uint32_t kValidCreated = 0x08;
constexpr uint32_t kValidModified = 0x10;
constexpr uint32_t kValidAccessed = 0x20;
constexpr uint32_t kValidState = 0x40;

const QColor kCompressedColor(0, 0, 255);
const QColor kEncryptedReportColor(0, 160, 0);
const QColor kEncryptedThumbnailColor(0, 200, 0);
// Files of which nothing is left to recover are greyed; their tool tip says why.
const QColor kUnrecoverableColor(150, 150, 150);

// The mask bit that a column's text needs.
uint32_t MaskOfColumn(int column) {
  static constexpr uint32_t masks[] = {kValidName,    kValidSize,     kValidName,       kValidModified,
                                       kValidCreated, kValidAccessed, kValidAttributes, kValidState};
  return column >= 0 && column < 8 ? masks[column] : 0;
}

// The name's extension without its dot; empty when there is none.
std::string ExtensionOf(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr || std::strchr(dot, '/') != nullptr) return {};
  return dot + 1;
}

QPixmap Keyed(uint32_t bitmap, QColor key, int x = 0, int width = -1) {
  const QPixmap all = corvale::ui::LoadBitmapResource(bitmap);
  if (all.isNull()) return {};
  QPixmap image = width < 0 ? all : all.copy(x, 0, width, all.height());
  image.setMask(image.createMaskFromColor(key));
  return image;
}

const QPixmap& CheckPicture(int image) {
  static QPixmap pictures[4];
  if (pictures[image].isNull())
    pictures[image] =
        Keyed(corvale::ui::bitmap::kCheckBoxStrip, QColor(255, 0, 0), image * kIconSide, kIconSide);
  return pictures[image];
}

const QPixmap& FileIcon() {
  static QPixmap icon = corvale::ui::LoadBitmapResource(corvale::ui::bitmap::kGenericFileIcon);
  return icon;
}

const QPixmap& FolderIcon() {
  static QPixmap icon = Keyed(corvale::ui::bitmap::kFolderStrip, QColor(255, 0, 255), kIconSide, kIconSide);
  return icon;
}

const QPixmap& DeletedMark() {
  static QPixmap mark = Keyed(corvale::ui::bitmap::kDeletedMark, QColor(255, 0, 255));
  return mark;
}

bool IsFolderNode(const CFileNode* node) {
  const IFileProperties* p = node->GetFileProperties();
  return p != nullptr && p->IsFolder();
}

// Tick box, icon (with the deleted mark) and text of the name column of the report view.
class ReportDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (index.column() != 0) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QRect r = option.rect;
    if (opt.state & QStyle::State_Selected) painter->fillRect(r, opt.palette.highlight());
    const int y = r.top() + (r.height() - kIconSide) / 2;
    // The report view shows a partly ticked folder as ticked.
    const bool ticked = index.data(CFileListModel::kCheckStateRole).toInt() != 0;
    painter->drawPixmap(r.left() + 2, y, CheckPicture(ticked ? 3 : 1));
    const auto* node = static_cast<const CFileNode*>(index.data(CFileListModel::kNodeRole).value<void*>());
    const QRect icon(r.left() + kIconSide + 4, y, kIconSide, kIconSide);
    painter->drawPixmap(icon, node != nullptr && IsFolderNode(node) ? FolderIcon() : FileIcon());
    const IFileProperties* p = node != nullptr ? node->GetFileProperties() : nullptr;
    if (p != nullptr && (p->GetTypeWord() & kStateDeleted))
      painter->drawPixmap(icon.left(), icon.top() + 5, DeletedMark());
    const QVariant color = index.data(Qt::ForegroundRole);
    painter->setPen(opt.state & QStyle::State_Selected ? opt.palette.highlightedText().color()
                    : color.isValid()                  ? color.value<QColor>()
                                                       : opt.palette.text().color());
    painter->drawText(r.adjusted(2 * kIconSide + 8, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft,
                      opt.fontMetrics.elidedText(opt.text, Qt::ElideRight, r.width() - 2 * kIconSide - 10));
  }
};

// A cell of the thumbnail view: picture or icon, deleted mark, focus frame, tick box, name.
class ThumbnailDelegate : public QStyledItemDelegate {
 public:
  explicit ThumbnailDelegate(CBreviaryImageListCtrl* view) : QStyledItemDelegate(view), m_view(view) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QRect cell = option.rect;
    const QRect icon(cell.left() + (cell.width() - 80) / 2, cell.top() + 2, 80, 80);
    if (option.state & QStyle::State_Selected) painter->fillRect(cell, QColor(216, 251, 252));
    painter->setPen(QColor(203, 212, 219));
    painter->drawRect(icon.adjusted(0, 0, -1, -1));
    const QVariant thumbnail = index.data(CFileListModel::kThumbnailRole);
    const auto* node = static_cast<const CFileNode*>(index.data(CFileListModel::kNodeRole).value<void*>());
    if (thumbnail.isValid() && !thumbnail.value<QImage>().isNull()) {
      const QImage image = thumbnail.value<QImage>();
      painter->drawImage(icon.left() + (80 - image.width()) / 2, icon.top() + (80 - image.height()) / 2,
                         image);
    } else {
      const QRect small(icon.left() + 19, icon.top() + 19, 42, 42);
      painter->drawPixmap(small, node != nullptr && IsFolderNode(node) ? FolderIcon() : FileIcon());
    }
    const IFileProperties* p = node != nullptr ? node->GetFileProperties() : nullptr;
    QColor text = Qt::black;
    if (p != nullptr && p->GetUnrecoverableReason() != 0) {
      text = kUnrecoverableColor;
    } else if (p != nullptr && (p->GetValidMask() & kValidAttributes)) {
      if (p->GetAttributes() & kAttributeCompressed)
        text = kCompressedColor;
      else if (p->GetAttributes() & kAttributeEncrypted)
        text = kEncryptedThumbnailColor;
    }
    if (p != nullptr && (p->GetValidMask() & kValidState) && (p->GetTypeWord() & kStateDeleted))
      painter->drawPixmap(icon.right() - 15, icon.top() + 5, DeletedMark());
    if (option.state & QStyle::State_HasFocus) {
      painter->setPen(QPen(QColor(51, 94, 168, 200), 2));
      painter->drawRect(icon.adjusted(1, 1, -1, -1));
    }
    // The thumbnail view ticks only what is ticked whole.
    const bool ticked = index.data(CFileListModel::kCheckStateRole).toInt() == 2;
    painter->drawPixmap(QRect(icon.left() + 5, icon.bottom() - 16, 13, 13), CheckPicture(ticked ? 3 : 1));
    painter->setPen(text);
    const QRect label(cell.left() + 2, icon.bottom() + 2, cell.width() - 4,
                      cell.bottom() - icon.bottom() - 2);
    painter->drawText(
        label, Qt::AlignHCenter | Qt::AlignTop,
        option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, label.width()));
  }

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return QSize(100, 104); }

 private:
  CBreviaryImageListCtrl* m_view;
};

// A left click on a row's tick box flips the tick of that row's file; true when it did.
bool ToggleOnCheckBox(CFileListCtrl* pane, QMouseEvent* event, const QModelIndex& index, const QRect& check) {
  if (event->button() != Qt::LeftButton || !index.isValid() || !check.contains(event->position().toPoint()))
    return false;
  pane->ToggleNode(pane->GetNodeAt(index.row()));
  pane->Model()->RowsChanged(index.row(), index.row());
  return true;
}

}  // namespace

// ---- CFileListModel ----

CFileListModel::CFileListModel(CFileListCtrl* pane, QObject* parent)
    : QAbstractTableModel(parent), m_pane(pane) {}

void CFileListModel::Reload() {
  beginResetModel();
  m_rows = static_cast<int>(m_pane->m_nodes.size());
  endResetModel();
}

void CFileListModel::Reorder(const std::function<void()>& reorder) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<const CFileNode*> held;
  held.reserve(static_cast<size_t>(before.size()));
  for (const QModelIndex& index : before)
    held.push_back(index.row() < static_cast<int>(m_pane->m_nodes.size())
                       ? m_pane->m_nodes[static_cast<size_t>(index.row())]
                       : nullptr);
  reorder();
  std::unordered_map<const CFileNode*, int> rows;
  rows.reserve(m_pane->m_nodes.size());
  for (size_t i = 0; i < m_pane->m_nodes.size(); ++i) rows.emplace(m_pane->m_nodes[i], static_cast<int>(i));
  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype i = 0; i < before.size(); ++i) {
    const auto found = rows.find(held[static_cast<size_t>(i)]);
    after.push_back(found == rows.end() ? QModelIndex() : index(found->second, before[i].column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CFileListModel::RowsChanged(int first, int last) {
  if (m_rows == 0) return;
  first = std::max(first, 0);
  last = std::min(last, m_rows - 1);
  if (first <= last) emit dataChanged(index(first, 0), index(last, kColumnCount - 1));
}

void CFileListModel::AllRowsChanged() { RowsChanged(0, m_rows - 1); }

QString CFileListModel::CellText(const CFileNode* node, int column) {
  const IFileProperties* p = node != nullptr ? node->GetFileProperties() : nullptr;
  if (p == nullptr || !(p->GetValidMask() & MaskOfColumn(column))) return {};
  switch (column) {
    case 0:
      return QString::fromUtf8(p->GetName());
    case 1:
      return QString::fromStdString(FormatByteSize(static_cast<int64_t>(p->GetSize())));
    case 2:
      return QString::fromStdString(ExtensionOf(p->GetName()));
    case 3:
      return QString::fromStdString(FileTimeToText(p->GetTime2()));
    case 4: {
      std::string text = FileTimeToText(p->GetCreationTime());
      // A zero time stamp: the file's own text stands in (a carved file's description).
      if (text == "1601-1-1 0:0:0") text = p->GetExtraText();
      return QString::fromStdString(text);
    }
    case 5:
      return QString::fromStdString(FileTimeToText(p->GetTime3()));
    case 6: {
      static constexpr std::pair<uint16_t, const char*> letters[] = {{kAttributeReadOnly, "R "},
                                                                     {0x0002, "H "},
                                                                     {0x0004, "S "},
                                                                     {0x0020, "A "},
                                                                     {0x0040, "E "},
                                                                     {0x0800, "C "}};
      QString text;
      for (const auto& [bit, letter] : letters)
        if (p->GetAttributes() & bit) text += QLatin1String(letter);
      return text;
    }
    case 7: {
      static constexpr std::pair<uint16_t, const char*> letters[] = {
          {0x0001, "D "}, {0x0002, "L "}, {0x0004, "C "}};
      QString text;
      for (const auto& [bit, letter] : letters)
        if (p->GetTypeWord() & bit) text += QLatin1String(letter);
      return text;
    }
    default:
      return {};
  }
}

bool CFileListModel::Before(const CFileNode* a, const CFileNode* b, int column, bool ascending) {
  const IFileProperties* pa = a->GetFileProperties();
  const IFileProperties* pb = b->GetFileProperties();
  const uint32_t mask = MaskOfColumn(column);
  if (pa == nullptr || pb == nullptr || mask == 0 || !(pa->GetValidMask() & mask) ||
      !(pb->GetValidMask() & mask))
    return false;
  int order = 0;
  auto compare = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
  switch (column) {
    case 0:
      order = CompareNamesNaturally(pa->GetName(), pb->GetName());
      break;
    case 1:
      order = compare(pa->GetSize(), pb->GetSize());
      break;
    case 2:
      order = strcasecmp(ExtensionOf(pa->GetName()).c_str(), ExtensionOf(pb->GetName()).c_str());
      break;
    case 3:
      order = compare(pa->GetTime2(), pb->GetTime2());
      break;
    case 4:
      order = compare(pa->GetCreationTime(), pb->GetCreationTime());
      break;
    case 5:
      order = compare(pa->GetTime3(), pb->GetTime3());
      break;
    case 6:
      order = compare(pa->GetAttributes(), pb->GetAttributes());
      break;
    case 7:
      order = compare(pa->GetTypeWord(), pb->GetTypeWord());
      break;
    default:
      return false;
  }
  return ascending ? order < 0 : order > 0;
}

int CFileListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_rows; }
int CFileListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant CFileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= m_rows || index.row() >= static_cast<int>(m_pane->m_nodes.size()))
    return {};
  const CFileNode* node = m_pane->m_nodes[static_cast<size_t>(index.row())];
  const IFileProperties* p = node->GetFileProperties();
  switch (role) {
    case Qt::DisplayRole:
      return CellText(node, index.column());
    case Qt::ForegroundRole:
      if (p == nullptr) return {};
      if (p->GetUnrecoverableReason() != 0) return kUnrecoverableColor;
      if (p->GetAttributes() & kAttributeCompressed) return kCompressedColor;
      if (p->GetAttributes() & kAttributeEncrypted) return kEncryptedReportColor;
      return {};
    case Qt::ToolTipRole:
      if (p != nullptr && p->GetUnrecoverableReason() != 0)
        return corvale::ui::LoadStringResource(p->GetUnrecoverableReason());
      return {};
    case kNodeRole:
      return QVariant::fromValue(static_cast<void*>(const_cast<CFileNode*>(node)));
    case kCheckStateRole:
      return p != nullptr ? p->GetCheckState() : 0;
    case kThumbnailRole: {
      QImage image;
      if (m_pane->CachedThumbnail(index.row(), &image)) return image;
      return {};
    }
    default:
      return {};
  }
}

QVariant CFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static constexpr uint32_t ids[] = {323, 324, 325, 326, 327, 328};
  if (section >= 0 && section < 6) return corvale::ui::LoadStringResource(ids[section]);
  return section == 6 ? QStringLiteral("Attributes") : QStringLiteral("State");
}

// ---- CListCtrlPlus ----

CListCtrlPlus::CListCtrlPlus(CFileListCtrl* pane) : QTableView(pane), m_pane(pane) {
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setShowGrid(false);
  setWordWrap(false);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(20);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setStretchLastSection(false);
  setItemDelegate(new ReportDelegate(this));
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CListCtrlPlus::SortByColumn);
}

void CListCtrlPlus::SortByColumn(int column) {
  if (column < 0 || column >= 10) return;
  const bool ascending = m_sortDirections[column] == 0;
  m_pane->SortNodes(column, ascending);
  m_sortDirections[column] = ascending ? 1 : 0;
  horizontalHeader()->setSortIndicatorShown(true);
  horizontalHeader()->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

bool CListCtrlPlus::SelectNode(CFileNode* node) {
  const auto& nodes = m_pane->Nodes();
  auto it = std::find(nodes.begin(), nodes.end(), node);
  if (it == nodes.end()) return false;
  const QModelIndex index = model()->index(static_cast<int>(it - nodes.begin()), 0);
  setCurrentIndex(index);
  selectRow(index.row());
  scrollTo(index);
  return true;
}

int CListCtrlPlus::GetFirstSelectedItem() const {
  const QModelIndexList rows = selectionModel() ? selectionModel()->selectedRows() : QModelIndexList{};
  int first = -1;
  for (const QModelIndex& i : rows) first = first < 0 ? i.row() : std::min(first, i.row());
  return first;
}

QRect CListCtrlPlus::CheckRect(int row) const {
  const QRect r = visualRect(model()->index(row, 0));
  if (!r.isValid()) return {};
  return QRect(r.left() + 2, r.top() + (r.height() - kIconSide) / 2, kIconSide, kIconSide);
}

void CListCtrlPlus::mousePressEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  ToggleOnCheckBox(m_pane, event, index, index.isValid() ? CheckRect(index.row()) : QRect());
  QTableView::mousePressEvent(event);
}

void CListCtrlPlus::mouseDoubleClickEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  if (ToggleOnCheckBox(m_pane, event, index, index.isValid() ? CheckRect(index.row()) : QRect())) return;
  QTableView::mouseDoubleClickEvent(event);
  if (index.isValid() && GetFirstSelectedItem() >= 0) m_pane->OnCommand(CFileListCtrl::kCommandOpen);
}

void CListCtrlPlus::contextMenuEvent(QContextMenuEvent* event) {
  if (GetFirstSelectedItem() >= 0) m_pane->ShowContextMenu(event->globalPos());
}

// ---- CBreviaryImageListCtrl ----

CBreviaryImageListCtrl::CBreviaryImageListCtrl(CFileListCtrl* pane) : QListView(pane), m_pane(pane) {
  setViewMode(QListView::IconMode);
  setResizeMode(QListView::Adjust);
  setMovement(QListView::Static);
  setUniformItemSizes(true);
  setGridSize(QSize(104, 110));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setItemDelegate(new ThumbnailDelegate(this));
}

bool CBreviaryImageListCtrl::SelectNode(CFileNode* node) {
  const auto& nodes = m_pane->Nodes();
  auto it = std::find(nodes.begin(), nodes.end(), node);
  if (it == nodes.end()) return false;
  const QModelIndex index = model()->index(static_cast<int>(it - nodes.begin()), 0);
  setCurrentIndex(index);
  scrollTo(index);
  return true;
}

int CBreviaryImageListCtrl::GetFirstSelectedItem() const {
  const QModelIndexList rows = selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList{};
  int first = -1;
  for (const QModelIndex& i : rows) first = first < 0 ? i.row() : std::min(first, i.row());
  return first;
}

QRect CBreviaryImageListCtrl::IconRect(int row) const {
  const QRect cell = visualRect(model()->index(row, 0));
  if (!cell.isValid()) return {};
  return QRect(cell.left() + (cell.width() - 80) / 2, cell.top() + 2, 80, 80);
}

QRect CBreviaryImageListCtrl::CheckRect(int row) const {
  const QRect icon = IconRect(row);
  if (!icon.isValid()) return {};
  return QRect(icon.left() + 5, icon.bottom() - 16, 10, 10);
}

void CBreviaryImageListCtrl::SendCacheHint() {
  if (!isVisible() || model() == nullptr || model()->rowCount() == 0) return;
  // The rows whose cells meet the viewport, from the first to the last: the walk starts a line of
  // cells above the row at the top left corner.
  const QRect area = viewport()->rect();
  const int rows = model()->rowCount();
  const int columns = std::max(1, area.width() / std::max(1, gridSize().width()));
  const QModelIndex top = indexAt(QPoint(gridSize().width() / 2, 2));
  int start = top.isValid() ? top.row() : 0;
  start = std::max(0, start - start % columns - columns);
  int first = -1, last = -1;
  for (int row = start; row < rows; ++row) {
    const QRect r = visualRect(model()->index(row, 0));
    if (r.top() > area.bottom()) break;
    if (r.intersects(area)) {
      if (first < 0) first = row;
      last = row;
    }
  }
  if (last >= 0) m_pane->CacheHint(first, last);
}

void CBreviaryImageListCtrl::mousePressEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  ToggleOnCheckBox(m_pane, event, index, index.isValid() ? CheckRect(index.row()) : QRect());
  QListView::mousePressEvent(event);
}

void CBreviaryImageListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  if (ToggleOnCheckBox(m_pane, event, index, index.isValid() ? CheckRect(index.row()) : QRect())) return;
  QListView::mouseDoubleClickEvent(event);
  if (index.isValid() && GetFirstSelectedItem() >= 0) m_pane->OnCommand(CFileListCtrl::kCommandOpen);
}

void CBreviaryImageListCtrl::contextMenuEvent(QContextMenuEvent* event) {
  if (GetFirstSelectedItem() >= 0) m_pane->ShowContextMenu(event->globalPos());
}

void CBreviaryImageListCtrl::scrollContentsBy(int dx, int dy) {
  QListView::scrollContentsBy(dx, dy);
  SendCacheHint();
}

void CBreviaryImageListCtrl::resizeEvent(QResizeEvent* event) {
  QListView::resizeEvent(event);
  SendCacheHint();
}

void CBreviaryImageListCtrl::showEvent(QShowEvent* event) {
  QListView::showEvent(event);
  SendCacheHint();
}

// ---- CFileListCtrl ----

CFileListCtrl::CFileListCtrl(QWidget* parent) : QWidget(parent) {
  m_model = new CFileListModel(this, this);
  m_report = new CListCtrlPlus(this);
  m_report->setObjectName(QStringLiteral("1314"));
  m_report->setModel(m_model);
  static constexpr int widths[] = {180, 100, 90, 140, 140, 140};
  for (int i = 0; i < 6; ++i) m_report->setColumnWidth(i, widths[i]);
  m_report->setColumnHidden(6, true);
  m_report->setColumnHidden(7, true);
  m_thumbnails = new CBreviaryImageListCtrl(this);
  m_thumbnails->setModel(m_model);
  m_thumbnails->setModelColumn(0);
  m_thumbnails->hide();
  auto refreshHint = [this] {
    if (m_mode == kThumbnails)
      QMetaObject::invokeMethod(
          m_thumbnails, [v = m_thumbnails] { v->SendCacheHint(); }, Qt::QueuedConnection);
  };
  connect(m_model, &QAbstractItemModel::modelReset, this, refreshHint);
  connect(m_model, &QAbstractItemModel::layoutChanged, this, refreshHint);
}

CFileListCtrl::~CFileListCtrl() { StopWorker(); }

void CFileListCtrl::CreateButtons() {
  using namespace corvale::ui::buttons;
  const corvale::ui::ButtonBitmaps sets[] = {kFileListView, kFileListSelect, kFileListDeselect,
                                             kFileListState};
  static constexpr uint32_t tips[] = {293, 294, 295, 296};
  for (int i = 0; i < 4; ++i) {
    if (m_buttons[i] != nullptr) continue;
    auto* button = new CButtonPlus(sets[i].normal, sets[i].hover, sets[i].push, sets[i].disable, this);
    button->SetControlId(kCommandView + i);
    button->setToolTip(corvale::ui::LoadStringResource(tips[i]));
    const int command = kCommandView + i;
    connect(button, &QAbstractButton::clicked, this, [this, command] { OnCommand(command); });
    button->show();
    m_buttons[i] = button;
  }
  resizeEvent(nullptr);
}

CButtonPlus* CFileListCtrl::Button(int command) const {
  return command >= kCommandView && command <= kCommandState ? m_buttons[command - kCommandView] : nullptr;
}

void CFileListCtrl::resizeEvent(QResizeEvent*) {
  int x = 3;
  int h = 0;
  for (CButtonPlus* b : m_buttons) {
    if (b == nullptr) continue;
    b->MoveTo(x, 0);
    x += b->GetBitmapSize().width();
    h = std::max(h, b->GetBitmapSize().height());
  }
  if (m_buttons[0] != nullptr) h = m_buttons[0]->GetBitmapSize().height();
  m_report->setGeometry(0, h, width(), std::max(0, height() - h));
  m_thumbnails->setGeometry(0, h, width(), std::max(0, height() - h));
}

void CFileListCtrl::paintEvent(QPaintEvent*) {
  if (m_buttons[0] == nullptr) return;
  QPainter painter(this);
  const QPixmap row = corvale::ui::LoadBitmapResource(corvale::ui::bitmap::kFileListButtonRow);
  painter.drawPixmap(QRect(0, 0, width(), row.height()), row);
}

void CFileListCtrl::SetSourceDevice(IStorageDevice* device) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_device = device;
}

int CFileListCtrl::RowCount() const { return m_model->rowCount(); }

CFileNode* CFileListCtrl::GetNodeAt(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= m_nodes.size()) return nullptr;
  return m_nodes[static_cast<size_t>(row)];
}

void CFileListCtrl::ShowFolder(CFileNode* root, CFileNode* folder, const QModelIndex& item) {
  if (folder == nullptr || !IsFolderNode(folder)) return;
  std::vector<CFileNode*> files;
  for (CFileNode* c = folder->GetFirstChild(); c != nullptr; c = c->GetNextSibling())
    if (!IsFolderNode(c)) files.push_back(c);
  ShowNodes(root, std::move(files), item);
}

void CFileListCtrl::ShowFiles(CFileNode* root, const std::vector<CFileNode*>& nodes) {
  ShowNodes(root, nodes, QModelIndex());
}

void CFileListCtrl::ShowNodes(CFileNode* root, std::vector<CFileNode*> nodes, const QModelIndex& item) {
  StartWorker();
  m_root = root;
  m_treeItem = item;
  {
    // A new set of rows: what is pending or cached belongs to the old one.
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_generation;
    m_queue.clear();
    m_cache.clear();
    m_workerNodes = nodes;
  }
  m_nodes = std::move(nodes);
  m_model->Reload();
  if (!m_nodes.empty()) {
    SelectRowIn(m_report, 0);
    SelectRowIn(m_thumbnails, 0);
  }
}

void CFileListCtrl::SelectRowIn(QAbstractItemView* view, int row) {
  const QModelIndex index = m_model->index(row, 0);
  view->setCurrentIndex(index);
  view->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  view->scrollTo(index);
}

void CFileListCtrl::ClearList() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_generation;
    m_queue.clear();
    m_cache.clear();
    m_workerNodes.clear();
  }
  // A thumbnail being made reads its node: wait until it is done, so the caller may free the tree.
  { std::lock_guard<std::mutex> work(m_workMutex); }
  m_nodes.clear();
  m_nodes.reserve(3000);
  m_root = nullptr;
  m_treeItem = QPersistentModelIndex();
  m_model->Reload();
  OnCommand(kCommandList);
}

void CFileListCtrl::SortNodes(int column, bool ascending) {
  m_model->Reorder([&] {
    std::stable_sort(m_nodes.begin(), m_nodes.end(),
                     [column, ascending](const CFileNode* a, const CFileNode* b) {
                       return CFileListModel::Before(a, b, column, ascending);
                     });
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_generation;
    m_queue.clear();
    m_cache.clear();
    m_workerNodes = m_nodes;
  });
  m_model->AllRowsChanged();
}

QAbstractItemView* CFileListCtrl::GetActiveListCtrl() const {
  return m_mode == kThumbnails ? static_cast<QAbstractItemView*>(m_thumbnails) : m_report;
}

int CFileListCtrl::GetFirstSelectedItem() const {
  return m_mode == kThumbnails ? m_thumbnails->GetFirstSelectedItem() : m_report->GetFirstSelectedItem();
}

bool CFileListCtrl::LocateNode(CFileNode* node) {
  if (node == nullptr) return false;
  auto select = [this](CFileNode* n) {
    return m_mode == kThumbnails ? m_thumbnails->SelectNode(n) : m_report->SelectNode(n);
  };
  if (m_tree == nullptr) return select(node);
  if (select(node)) {
    m_tree->FindNodeItem(node->GetParent(), nullptr);
    return true;
  }
  QModelIndex item;
  if (!m_tree->FindNodeItem(node->GetParent(), &item)) return false;
  // Selecting the folder in the tree lists it; list it here too in case it was already selected.
  ShowFolder(m_tree->Root(), node->GetParent(), item);
  return select(node);
}

void CFileListCtrl::ToggleNode(CFileNode* node) {
  auto* root = dynamic_cast<CFileSystemNode*>(m_root);
  if (node == nullptr || root == nullptr) return;
  root->ToggleCheck(node, false);
  if (m_tree != nullptr && m_treeItem.isValid()) m_tree->RefreshItem(m_treeItem);
  emit TicksChanged();
}

void CFileListCtrl::SetMode(ViewMode mode) {
  QAbstractItemView* from = GetActiveListCtrl();
  QAbstractItemView* to = mode == kThumbnails ? static_cast<QAbstractItemView*>(m_thumbnails) : m_report;
  if (from != to) {
    const int row =
        m_mode == kThumbnails ? m_thumbnails->GetFirstSelectedItem() : m_report->GetFirstSelectedItem();
    if (row >= 0) {
      SelectRowIn(to, row);
      to->setFocus();
    }
  }
  m_mode = mode;
  if (mode == kThumbnails) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_cache.clear();
      m_queue.clear();
    }
    m_report->hide();
    m_thumbnails->show();
    m_thumbnails->SendCacheHint();
  } else {
    m_thumbnails->hide();
    m_report->show();
  }
}

bool CFileListCtrl::OnCommand(int command) {
  switch (command) {
    case kCommandView: {
      std::unique_ptr<QMenu> menu = BuildViewMenu();
      CButtonPlus* view = m_buttons[0];
      const QPoint at = view != nullptr ? view->mapToGlobal(QPoint(0, view->height() + 1)) : QCursor::pos();
      if (QAction* chosen = menu->exec(at)) OnCommand(chosen->data().toInt());
      return true;
    }
    case kCommandSelect:
    case kCommandDeselect: {
      auto* root = dynamic_cast<CFileSystemNode*>(m_root);
      if (root == nullptr) return true;
      QApplication::setOverrideCursor(Qt::WaitCursor);
      root->SetCheckOfNodes(m_nodes, command == kCommandSelect);
      m_model->AllRowsChanged();
      if (m_tree != nullptr && m_treeItem.isValid()) m_tree->RefreshItem(m_treeItem);
      emit TicksChanged();
      QApplication::restoreOverrideCursor();
      return true;
    }
    case kCommandState: {
      CAttributesStates dialog(nullptr);
      dialog.DoModal();
      return true;
    }
    case kCommandList:
      SetMode(kReport);
      return true;
    case kCommandThumbnail:
      SetMode(kThumbnails);
      return true;
    case kCommandOpen:
    case kCommandProperties:
    case kCommandPreview:
    case kCommandRecover:
    case kCommandLocate:
      emit Command(command);
      return true;
    default:
      for (const auto& [text, pageCommand] : m_pageCommands)
        if (pageCommand == command) {
          emit Command(command);
          return true;
        }
      return false;
  }
}

std::unique_ptr<QMenu> CFileListCtrl::BuildViewMenu() {
  auto menu = std::make_unique<QMenu>();
  auto* group = new QActionGroup(menu.get());
  for (int command : {kCommandList, kCommandThumbnail}) {
    QAction* action = menu->addAction(corvale::ui::LoadStringResource(command == kCommandList ? 392 : 393));
    action->setData(command);
    action->setCheckable(true);
    action->setChecked((command == kCommandList) == (m_mode == kReport));
    group->addAction(action);
  }
  return menu;
}

std::unique_ptr<QMenu> CFileListCtrl::BuildContextMenu() {
  auto menu = std::make_unique<QMenu>();
  menu->addAction(corvale::ui::LoadStringResource(330))->setData(kCommandPreview);
  menu->addAction(corvale::ui::LoadStringResource(329))->setData(kCommandRecover);
  if (m_tree == nullptr) menu->addAction(corvale::ui::LoadStringResource(291))->setData(kCommandLocate);
  QAction* properties = menu->addAction(QStringLiteral("Properties"));
  properties->setData(kCommandProperties);
  properties->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Return));
  if (!m_pageCommands.empty()) menu->addSeparator();
  for (const auto& [text, command] : m_pageCommands) menu->addAction(text)->setData(command);
  return menu;
}

void CFileListCtrl::ShowContextMenu(const QPoint& globalPos) {
  std::unique_ptr<QMenu> menu = BuildContextMenu();
  if (QAction* chosen = menu->exec(globalPos)) OnCommand(chosen->data().toInt());
}

// ---- thumbnails ----

QSize CFileListCtrl::ThumbnailSize(const QSize& size) {
  const int w = size.width(), h = size.height();
  if (w <= 0 || h <= 0) return {};
  if (w < kThumbnailSide && h < kThumbnailSide) return size;
  const int64_t larger = std::max(w, h);
  return QSize(std::max<int>(1, static_cast<int>(int64_t{w} * kThumbnailSide / larger)),
               std::max<int>(1, static_cast<int>(int64_t{h} * kThumbnailSide / larger)));
}

void CFileListCtrl::CacheHint(int first, int last) {
  if (!m_thumbnails->isVisible() && m_mode != kThumbnails) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = std::max(first, 0); i <= last && i < static_cast<int>(m_workerNodes.size()); ++i) {
      if (m_cache.count(i) != 0 || std::find(m_queue.begin(), m_queue.end(), i) != m_queue.end()) continue;
      m_queue.push_front(i);
      if (m_queue.size() > kMaxPendingThumbnails) m_queue.pop_back();
    }
  }
  m_wake.notify_one();
}

std::vector<int> CFileListCtrl::PendingThumbnails() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return {m_queue.begin(), m_queue.end()};
}

bool CFileListCtrl::CachedThumbnail(int row, QImage* image) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_cache.find(row);
  if (it == m_cache.end()) return false;
  if (image != nullptr) *image = it->second.image;
  return true;
}

void CFileListCtrl::StartWorker() {
  if (m_worker.joinable()) return;
  m_tempDir =
      std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/corvale-thumbnails-XXXXXX"));
  m_worker = std::thread([this] { WorkerLoop(); });
}

void CFileListCtrl::StopWorker() {
  if (!m_worker.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
    m_queue.clear();
  }
  m_wake.notify_all();
  m_worker.join();
  m_tempDir.reset();
}

void CFileListCtrl::WorkerLoop() {
  for (;;) {
    int row = -1;
    uint64_t generation = 0;
    CFileNode* node = nullptr;
    IStorageDevice* device = nullptr;
    std::unique_lock<std::mutex> work(m_workMutex, std::defer_lock);
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
      if (m_stop) break;
      row = m_queue.front();
      m_queue.pop_front();
      if (row < 0 || static_cast<size_t>(row) >= m_workerNodes.size()) continue;
      node = m_workerNodes[static_cast<size_t>(row)];
      generation = m_generation;
      device = m_device;
      // Taken before the row lock is let go, so ClearList cannot return while this node is read.
      work.lock();
    }
    ThumbnailEntry entry = MakeThumbnail(node, device);
    work.unlock();
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (generation != m_generation) continue;
      m_cache[row] = std::move(entry);
    }
    QMetaObject::invokeMethod(
        this,
        [this, row, generation] {
          std::unique_lock<std::mutex> lock(m_mutex);
          if (generation != m_generation) return;
          lock.unlock();
          m_model->RowsChanged(row, row);
        },
        Qt::QueuedConnection);
  }
}

ThumbnailEntry CFileListCtrl::MakeThumbnail(CFileNode* node, IStorageDevice* device) {
  ThumbnailEntry entry;
  entry.node = node;
  const IFileProperties* p = node->GetFileProperties();
  if (p == nullptr || device == nullptr || m_tempDir == nullptr || !m_tempDir->isValid()) return entry;
  if (p->IsFolder() || p->GetSize() > kMaxThumbnailFileSize || (p->GetAttributes() & kAttributeEncrypted))
    return entry;
  const std::string path =
      m_tempDir->filePath(QStringLiteral("thumb-%1.tmp").arg(++m_tempCounter)).toStdString();
  CBreviaryImageLoadCallback callback;
  CFileRecoverer recoverer;
  if (recoverer.RecoverFileInThread(device, &callback, node, path.c_str(), false) != 1) {
    DebugTrace("Recover file failed\n");
    QFile::remove(QString::fromStdString(path));
    return entry;
  }
  {
    // Decoded at the size it is shown; pictures whose declared size would need more memory than
    // this are refused by the reader, whatever the file claims.
    QImageReader reader(QString::fromStdString(path));
    reader.setAllocationLimit(256);
    const QSize shown = ThumbnailSize(reader.size());
    if (shown.isValid()) reader.setScaledSize(shown);
    // A format that cannot tell its size before decoding is decoded whole and then scaled.
    QImage image = reader.read();
    const QSize wanted = ThumbnailSize(image.size());
    if (!image.isNull() && wanted.isValid())
      entry.image = image.size() == wanted
                        ? image
                        : image.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  QFile::remove(QString::fromStdString(path));
  return entry;
}
