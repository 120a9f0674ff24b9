#pragma once
// The folder tree of the target-folder page: the file system from "/" down, folders only, each
// level read when it is first opened. Places where recovered files cannot go are left out: the
// kernel's own file systems (/proc, /sys, ...), optical media and read-only mounts. Choosing a
// folder tells the registered callback its absolute path.

#include <QSortFilterProxyModel>
#include <QString>
#include <QTreeView>
#include <functional>
#include <string>

class QFileSystemModel;

// The folders of mounts a recovery can write to: not a kernel or optical file system, not
// mounted read-only.
bool IsWritableMountType(const std::string& fileSystemType, bool readOnly);

class CShellTreeCtrl : public QTreeView {
  Q_OBJECT

 public:
  using SelChanged = std::function<void(QWidget* client, const QString& path)>;

  explicit CShellTreeCtrl(QWidget* parent = nullptr);
  ~CShellTreeCtrl() override;

  // The callback told the path of each folder chosen, and the window given back to it.
  void SetSelChangedCallback(SelChanged callback, QWidget* client);
  // Empties the tree and fills it again from "/", folders only (or with files).
  void Refill(bool foldersOnly = true);
  // Opens the top of the tree ("/"), as a user first sees it.
  void ExpandMyComputer();
  // Selects the folder `path` (opening the folders above it), as a click on it would.
  bool SelectPath(const QString& path);
  // The absolute path of an item of the tree.
  QString PathOf(const QModelIndex& index) const;

 private:
  void OnCurrentChanged(const QModelIndex& current);

  QFileSystemModel* m_model = nullptr;
  QSortFilterProxyModel* m_filter = nullptr;
  SelChanged m_callback;
  QWidget* m_client = nullptr;
  bool m_expandTop = false;
};
