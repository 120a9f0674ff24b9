#include "controls/ShellTreeCtrl.h"

#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QStorageInfo>
#include <set>

#include "platform/Log.h"

bool IsWritableMountType(const std::string& type, bool readOnly) {
  static const std::set<std::string> kHidden = {
      "proc",        "devtmpfs", "sysfs",   "devpts", "cgroup",    "cgroup2",  "securityfs", "debugfs",
      "tracefs",     "pstore",   "bpf",     "mqueue", "hugetlbfs", "configfs", "fusectl",    "autofs",
      "binfmt_misc", "efivarfs", "iso9660", "udf",    "squashfs",  "nsfs",
  };
  return !readOnly && kHidden.count(type) == 0;
}

namespace {

// Leaves out the folders of the tree that lie on a mount no recovery can write to.
class WritableFolderFilter : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    auto* model = static_cast<QFileSystemModel*>(sourceModel());
    const QModelIndex index = model->index(row, 0, parent);
    const QString path = model->filePath(index);
    if (path.isEmpty() || path == QLatin1String("/")) return true;
    const QStorageInfo storage(path);
    if (!storage.isValid()) return true;
    return IsWritableMountType(storage.fileSystemType().toStdString(), storage.isReadOnly());
  }
};

}  // namespace

CShellTreeCtrl::CShellTreeCtrl(QWidget* parent) : QTreeView(parent) {
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setRootIsDecorated(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  Refill(true);
}

CShellTreeCtrl::~CShellTreeCtrl() = default;

void CShellTreeCtrl::SetSelChangedCallback(SelChanged callback, QWidget* client) {
  if (callback && client)
    LogError("------------------------ParmInfo: LPFUNTREESELCHANGED lpFunSelChanged=%x, CWnd *pWndClient=%x",
             1, 1);
  m_callback = std::move(callback);
  m_client = client;
}

void CShellTreeCtrl::Refill(bool foldersOnly) {
  auto* model = new QFileSystemModel(this);
  // Hidden folders are left out: a folder name beginning with a dot is refused as a target.
  model->setFilter(foldersOnly ? QDir::AllDirs | QDir::NoDotAndDotDot
                               : QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
  model->setReadOnly(true);
  auto* filter = new WritableFolderFilter(this);
  filter->setSourceModel(model);
  filter->setRecursiveFilteringEnabled(false);
  setModel(filter);
  for (int column = 1; column < model->columnCount(); ++column) hideColumn(column);
  // The top opens again once its folders are read: they are read in the background.
  connect(model, &QFileSystemModel::directoryLoaded, this, [this](const QString& path) {
    if (m_expandTop && path == QLatin1String("/")) ExpandMyComputer();
  });
  model->setRootPath(QStringLiteral("/"));
  delete m_filter;
  delete m_model;
  m_model = model;
  m_filter = filter;
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { OnCurrentChanged(current); });
}

void CShellTreeCtrl::ExpandMyComputer() {
  m_expandTop = true;
  const QModelIndex top = m_filter->mapFromSource(m_model->index(QStringLiteral("/")));
  if (top.isValid()) expand(top);
}

QString CShellTreeCtrl::PathOf(const QModelIndex& index) const {
  if (!index.isValid()) return {};
  return m_model->filePath(m_filter->mapToSource(index));
}

bool CShellTreeCtrl::SelectPath(const QString& path) {
  const QModelIndex source = m_model->index(path);
  if (!source.isValid()) return false;
  const QModelIndex index = m_filter->mapFromSource(source);
  if (!index.isValid()) return false;
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) expand(up);
  scrollTo(index);
  setCurrentIndex(index);
  return true;
}

void CShellTreeCtrl::OnCurrentChanged(const QModelIndex& current) {
  const QString path = PathOf(current);
  if (path.isEmpty()) return;
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  if (m_callback && m_client) m_callback(m_client, path);
  QGuiApplication::restoreOverrideCursor();
}
