#pragma once
// The file pane of the file-select view: the files of the folder chosen in the folder pane
// (FileTreeCtrl.h), or a set of found files handed to it, in a report view (one row per file:
// name, size, type, three times) or a thumbnail view (pictures shown small, other files by icon).
//
// Both views are views over one vector of nodes through one item model; rows are drawn from the
// nodes' properties when they are painted, nothing is copied per file. Thumbnails are made on a
// worker thread: the file is restored from the source device into a private temporary folder and
// decoded at the size it is shown (QImageReader::setScaledSize); the rows on screen ask for theirs
// (at most 40 pending, newest first), and showing another folder drops what is still pending.

#include <QAbstractTableModel>
#include <QImage>
#include <QListView>
#include <QPersistentModelIndex>
#include <QTableView>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CFileNode;
class CFileTreeCtrl;
class CButtonPlus;
class CFileListCtrl;
class IStorageDevice;
class QMenu;
class QTemporaryDir;

// One thumbnail of the current rows: the node it was made for and the picture, null when the file
// could not be made into one (it is not asked for again).
struct ThumbnailEntry {
  CFileNode* node = nullptr;
  QImage image;
};

// The rows of the file pane. Columns: 0 name, 1 size, 2 type, 3 modified, 4 created, 5 last
// access, 6 attribute letters, 7 state letters; a cell is empty when the node's valid-properties
// mask lacks its bit.
class CFileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumnCount = 8;
  static constexpr int kNodeRole = Qt::UserRole;
  static constexpr int kCheckStateRole = Qt::UserRole + 1;
  static constexpr int kThumbnailRole = Qt::UserRole + 2;  // QImage; invalid QVariant when none cached

  CFileListModel(CFileListCtrl* pane, QObject* parent = nullptr);

  // Starts over with the pane's node vector as it is now.
  void Reload();
  // Puts the pane's nodes in a new order by `reorder`, telling the views so that what they hold on
  // to (the selected row, the current row) stays on the same node.
  void Reorder(const std::function<void()>& reorder);
  // Tells the views that rows changed (ticks, thumbnails).
  void RowsChanged(int first, int last);
  void AllRowsChanged();

  // The text of one cell of a node.
  static QString CellText(const CFileNode* node, int column);
  // Whether `a` goes before `b` when sorted by `column`, ascending or not (a strict order).
  static bool Before(const CFileNode* a, const CFileNode* b, int column, bool ascending);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  CFileListCtrl* m_pane;
  int m_rows = 0;
};

// The report view.
class CListCtrlPlus : public QTableView {
  Q_OBJECT

 public:
  explicit CListCtrlPlus(CFileListCtrl* pane);
  // Selects, focuses and scrolls to the row of `node`; false when it is not listed.
  bool SelectNode(CFileNode* node);
  int GetFirstSelectedItem() const;
  // The tick box of row `row`, in viewport coordinates.
  QRect CheckRect(int row) const;
  // The direction the next sort of `column` takes (true ascending).
  bool NextSortAscending(int column) const { return m_sortDirections[column] == 0; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void SortByColumn(int column);

  CFileListCtrl* m_pane;
  int m_sortDirections[10] = {};
};

// The thumbnail view: cells of 80 x 80 pictures with the name below and the tick box in the
// picture's lower left corner. While it is shown it asks the pane for the thumbnails of the rows on
// screen (the cache hint).
class CBreviaryImageListCtrl : public QListView {
  Q_OBJECT

 public:
  explicit CBreviaryImageListCtrl(CFileListCtrl* pane);
  bool SelectNode(CFileNode* node);
  int GetFirstSelectedItem() const;
  // The picture area of a row and its tick box, in viewport coordinates.
  QRect IconRect(int row) const;
  QRect CheckRect(int row) const;
  // Asks the pane for the rows now on screen.
  void SendCacheHint();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  CFileListCtrl* m_pane;
};

class CFileListCtrl : public QWidget {
  Q_OBJECT

 public:
  // Commands of the pane's buttons and menus.
  static constexpr int kCommandView = 1000;
  static constexpr int kCommandSelect = 1001;
  static constexpr int kCommandDeselect = 1002;
  static constexpr int kCommandState = 1003;
  static constexpr int kCommandList = 1010;
  static constexpr int kCommandThumbnail = 1011;
  static constexpr int kCommandOpen = 1173;
  static constexpr int kCommandProperties = 5001;
  static constexpr int kCommandPreview = 5002;
  static constexpr int kCommandRecover = 5003;
  static constexpr int kCommandLocate = 5004;
  // Most rows waiting for a thumbnail, and the largest file restored for one.
  static constexpr size_t kMaxPendingThumbnails = 40;
  static constexpr uint64_t kMaxThumbnailFileSize = 15728640;
  static constexpr int kThumbnailSide = 80;

  enum ViewMode { kReport = 1, kThumbnails = 2 };

  explicit CFileListCtrl(QWidget* parent = nullptr);
  ~CFileListCtrl() override;

  void SetFileTreeCtrl(CFileTreeCtrl* tree) { m_tree = tree; }
  CFileTreeCtrl* GetFileTreeCtrl() const { return m_tree; }
  void SetSourceDevice(IStorageDevice* device);
  // The four picture buttons (View, Select, Deselect, State) of a list that stands alone.
  void CreateButtons();
  CButtonPlus* Button(int command) const;

  // Lists the files (not the folders) directly inside `folder`; `item` is its row in the tree.
  void ShowFolder(CFileNode* root, CFileNode* folder, const QModelIndex& item);
  // Lists exactly `nodes`.
  void ShowFiles(CFileNode* root, const std::vector<CFileNode*>& nodes);
  // Empties the list and goes back to the report view. Waits for a thumbnail being made, so the
  // tree may be freed afterwards.
  void ClearList();
  // Selects the row of `node` in the active view, showing its folder first when needed; false when
  // it cannot be found.
  bool LocateNode(CFileNode* node);
  QAbstractItemView* GetActiveListCtrl() const;
  int GetFirstSelectedItem() const;
  CFileNode* GetNodeAt(int row) const;
  QModelIndex GetCurrentTreeItem() const { return m_treeItem; }
  CFileNode* Root() const { return m_root; }
  ViewMode Mode() const { return m_mode; }
  int RowCount() const;

  // Handles a command of the buttons and menus; false for one that is not the pane's.
  bool OnCommand(int command);
  // Ticks or unticks one listed node (a click on its tick box).
  void ToggleNode(CFileNode* node);

  // Commands of the page the context menu offers below the row's own, with their texts: they go to
  // the page as they are.
  using PageCommands = std::vector<std::pair<QString, int>>;
  void SetPageCommands(PageCommands commands) { m_pageCommands = std::move(commands); }

  // The menus: the view menu (List, Thumbnail), and the context menu of a row.
  std::unique_ptr<QMenu> BuildViewMenu();
  std::unique_ptr<QMenu> BuildContextMenu();
  // Opens the context menu at the cursor when a row is selected.
  void ShowContextMenu(const QPoint& globalPos);

  // The thumbnail cache hint of the view: rows `first` to `last` are on screen.
  void CacheHint(int first, int last);
  // What waits for a thumbnail, first taken first.
  std::vector<int> PendingThumbnails() const;
  // The cached thumbnail of a row: absent, null (tried and failed) or a picture.
  bool CachedThumbnail(int row, QImage* image) const;
  // The size a picture of `size` is shown at: the larger side made 80 when either side reaches 80
  // (each side at least 1), else as it is.
  static QSize ThumbnailSize(const QSize& size);

  CListCtrlPlus* ReportView() const { return m_report; }
  CBreviaryImageListCtrl* ThumbnailView() const { return m_thumbnails; }
  CFileListModel* Model() const { return m_model; }

  // The nodes listed, row by row (user-interface thread only).
  const std::vector<CFileNode*>& Nodes() const { return m_nodes; }
  void SortNodes(int column, bool ascending);

 signals:
  // The ticks changed (message 2024).
  void TicksChanged();
  // A command for the page: open (1173), properties (5001), preview (5002), recover (5003), locate
  // (5004), or one of the page's own commands.
  void Command(int command);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  friend class CFileListModel;
  void ShowNodes(CFileNode* root, std::vector<CFileNode*> nodes, const QModelIndex& item);
  void SetMode(ViewMode mode);
  void SelectRowIn(QAbstractItemView* view, int row);
  void StartWorker();
  void StopWorker();
  void WorkerLoop();
  ThumbnailEntry MakeThumbnail(CFileNode* node, IStorageDevice* device);
  void RepaintRows();

  CFileTreeCtrl* m_tree = nullptr;
  CFileNode* m_root = nullptr;
  QPersistentModelIndex m_treeItem;
  std::vector<CFileNode*> m_nodes;
  ViewMode m_mode = kReport;
  CFileListModel* m_model;
  CListCtrlPlus* m_report;
  CBreviaryImageListCtrl* m_thumbnails;
  CButtonPlus* m_buttons[4] = {};
  PageCommands m_pageCommands;

  // Shared with the thumbnail worker under m_mutex: the cache and the queue of the current rows
  // (m_generation counts the row sets, so a thumbnail made for an older set is thrown away), the
  // source device and the node of each row.
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::map<int, ThumbnailEntry> m_cache;
  std::deque<int> m_queue;
  std::vector<CFileNode*> m_workerNodes;
  uint64_t m_generation = 0;
  IStorageDevice* m_device = nullptr;
  bool m_stop = false;
  // Held by the worker while it restores and decodes one file.
  std::mutex m_workMutex;
  std::thread m_worker;
  std::unique_ptr<QTemporaryDir> m_tempDir;
  uint64_t m_tempCounter = 0;
};
