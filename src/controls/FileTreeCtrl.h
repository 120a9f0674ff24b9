#pragma once
// The folder pane of the file-select view: the folders of a found-file tree, each with a
// three-state tick and labelled "name (entries)", the number of entries directly inside it.
// Selecting a folder lists its files in the linked file list (FileListCtrl.h); ticking a folder
// ticks or unticks everything below it.
//
// The view reads the found-file tree itself through an item model; a folder's subfolders become
// rows only when the folder is first expanded (or looked for), sorted by name, so a tree of
// millions of nodes opens as fast as its top level. A tick runs on a worker thread while the user
// sees a waiting notice and the main window is disabled; the rows shown are refreshed afterwards on
// the user-interface thread.

#include <QAbstractItemModel>
#include <QPixmap>
#include <QTreeView>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

class CFileNode;
class CFileListCtrl;
class QMenu;

// The folders of a found-file tree as an item model. Only nodes with the folder attribute are rows;
// the children of the root node are the top-level rows.
class CFileTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  // The node of an index, as Qt::UserRole.
  static constexpr int kNodeRole = Qt::UserRole;
  // The check state of the node (0 none, 1 partly, 2 all), as Qt::UserRole + 1.
  static constexpr int kCheckStateRole = Qt::UserRole + 1;
  // The folder image number (0 partition, 1 folder, 2 deleted, 3 flag 0x10, 4 flag 0x08).
  static constexpr int kImageRole = Qt::UserRole + 2;

  explicit CFileTreeModel(QObject* parent = nullptr);
  ~CFileTreeModel() override;

  // Shows the folders below `root` (not owned; null shows nothing).
  void SetRoot(CFileNode* root);
  CFileNode* Root() const { return m_root; }
  CFileNode* NodeOf(const QModelIndex& index) const;
  // The index of a folder node, making the rows of its ancestors on the way; invalid when the node
  // is not a folder below the root.
  QModelIndex IndexOf(CFileNode* node);
  // Tells the views that the ticks of `index`, of its loaded rows below and of its ancestors changed.
  void RefreshChecks(const QModelIndex& index);
  // The same for every loaded row.
  void RefreshAllChecks();
  // Rows made so far, for the measurements.
  size_t LoadedRowCount() const { return m_itemCount; }

  // The image number of a node (the table of the folder pane).
  static int ImageOf(const CFileNode* node);

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  struct Item {
    CFileNode* node = nullptr;
    Item* parent = nullptr;
    int row = 0;
    bool fetched = false;
    int8_t hasFolders = -1;  // -1 not looked at yet
    int64_t entries = -1;    // direct children, counted when first shown
    std::vector<std::unique_ptr<Item>> children;
  };
  Item* ItemOf(const QModelIndex& index) const;
  QModelIndex IndexOfItem(Item* item) const;
  bool HasFolders(Item* item) const;
  void Fetch(Item* item, const QModelIndex& index);
  // Above 0 while the model tells its views of a reset or of new rows: a view that asks for more
  // rows then is answered once the news is out (it asks again), so rows never change in the middle
  // of announcing a change.
  int m_announcing = 0;
  void EmitSubtree(Item* item, const QModelIndex& index);

  CFileNode* m_root = nullptr;
  std::unique_ptr<Item> m_top;
  size_t m_itemCount = 0;
};

// The tree view inside the folder pane: draws the folder images and the tick boxes and turns
// clicks and keys into requests to the pane.
class CTreeCtrlPlus : public QTreeView {
  Q_OBJECT

 public:
  explicit CTreeCtrlPlus(QWidget* parent = nullptr);

  // Tick-box pictures from `checkboxBitmap` (16 pixels each: empty, unticked, partly, ticked) and
  // folder pictures from `folderBitmap` (16 pixels each).
  void SetImages(uint32_t checkboxBitmap, uint32_t folderBitmap);
  // Folders are sorted when they are first expanded; nothing is left to do here.
  void SortAllItems() {}
  // Reveals, scrolls to and selects the row of `node`; false (selection unchanged) when the node
  // is not a folder of the tree.
  bool FindAndSelectItem(CFileNode* node, QModelIndex* item);
  // The rectangle of the tick box of a row, in viewport coordinates.
  QRect CheckRect(const QModelIndex& index) const;

  const QPixmap& CheckPicture(int state) const { return m_checks[state < 0 || state > 3 ? 1 : state]; }
  const QPixmap& FolderPicture(int image) const { return m_folders[image < 0 || image > 4 ? 1 : image]; }

 signals:
  void ToggleRequested(const QModelIndex& index);
  void SelectionChangedTo(const QModelIndex& index);
  void RightClicked();
  // A context menu is asked for (right click, the menu key) while a row is current.
  void ContextMenuAsked(const QPoint& globalPos);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

 private:
  QPixmap m_checks[4];
  QPixmap m_folders[5];
};

class CFileTreeCtrl : public QWidget {
  Q_OBJECT

 public:
  // The command of the folder menu's "Properties", for the page.
  static constexpr int kCommandProperties = 32776;

  explicit CFileTreeCtrl(QWidget* parent = nullptr);
  ~CFileTreeCtrl() override;

  void SetImages(uint32_t checkboxBitmap, uint32_t folderBitmap);
  void SetFileListCtrl(CFileListCtrl* list) { m_list = list; }
  CFileListCtrl* GetFileListCtrl() const { return m_list; }
  // Rebuilds the pane over the folders below `root` (not owned). Selects the first top-level
  // folder and expands it when it is the only one.
  void FillTree(CFileNode* root);
  CFileNode* Root() const { return m_model->Root(); }
  void RefreshAllItems();
  // Refreshes the ticks of one folder, of its rows below and of its ancestors.
  void RefreshItem(const QModelIndex& item);
  QModelIndex GetSelectedItem() const;
  CFileNode* GetItemData(const QModelIndex& item) const { return m_model->NodeOf(item); }
  bool FindNodeItem(CFileNode* node, QModelIndex* item);
  CTreeCtrlPlus* GetTreeCtrl() const { return m_tree; }
  CFileTreeModel* Model() const { return m_model; }

  // Ticks or unticks the folder of `item` with everything below it (on a worker, behind the waiting
  // notice), then refreshes the rows and, when the listed folder is the item or lies below it, the
  // list; then emits TicksChanged.
  void ToggleItem(const QModelIndex& item);

  // The main window disabled while a tick runs (the top-level window when none is set).
  void SetMainWindow(QWidget* window) { m_mainWindow = window; }

  // The menu of the current folder: "Properties".
  std::unique_ptr<QMenu> BuildContextMenu();
  // Opens that menu at `globalPos` and hands the chosen command to the page.
  void ShowContextMenu(const QPoint& globalPos);

 signals:
  // The ticks changed (message 2024 to the page).
  void TicksChanged();
  // A command of the folder menu for the page (kCommandProperties).
  void Command(int command);

 private:
  void OnSelectionChanged(const QModelIndex& item);

  CTreeCtrlPlus* m_tree;
  CFileTreeModel* m_model;
  CFileListCtrl* m_list = nullptr;
  QWidget* m_mainWindow = nullptr;
  bool m_toggling = false;
};
