// Every item model of the program under Qt's model tester while it is filled, changed, sorted and
// emptied as the pages do: the found-file tree and list (a folder and a set of search results), the
// found-partition list, the device list and the target-folder tree. The tester checks after every
// change that rows, parents, indexes and data agree; what it reports fails the test.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QDir>
#include <QTest>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "controls/DeviceSelectCtrl.h"
#include "controls/FileListCtrl.h"
#include "controls/FileTreeCtrl.h"
#include "controls/MultipleChoosePartitionListCtrl.h"
#include "controls/PartitionLayoutFrame.h"
#include "controls/ShellTreeCtrl.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/MyFileProperties.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"

namespace {

// Collects what the model tester reports (it reports through Qt's warnings in category
// qt.modeltest) while a test runs.
class ModelTesterReports {
 public:
  ModelTesterReports() {
    std::lock_guard<std::mutex> lock(Mutex());
    Reports().clear();
    m_previous = qInstallMessageHandler(&ModelTesterReports::Handle);
  }
  ~ModelTesterReports() { qInstallMessageHandler(m_previous); }

  std::vector<std::string> Taken() const {
    std::lock_guard<std::mutex> lock(Mutex());
    return Reports();
  }

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::vector<std::string>& Reports() {
    static std::vector<std::string> reports;
    return reports;
  }
  static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtDebugMsg || type == QtInfoMsg) return;
    if (context.category != nullptr && std::string(context.category) == "qt.modeltest") {
      std::lock_guard<std::mutex> lock(Mutex());
      Reports().push_back(text.toStdString());
    }
  }

  QtMessageHandler m_previous = nullptr;
};

std::unique_ptr<QAbstractItemModelTester> Watch(QAbstractItemModel* model) {
  return std::make_unique<QAbstractItemModelTester>(model,
                                                    QAbstractItemModelTester::FailureReportingMode::Warning);
}

CFileNode* AddNode(CFileNode* parent, const std::string& name, bool folder, uint64_t size = 10) {
  MyFileInfo info;
  info.name = name;
  info.size = size;
  info.attributes = folder ? kAttributeFolder : 0;
  info.validMask = 0x7F;
  CFileNode* node = parent->AddChild(CreateFileNode());
  node->SetFileProperties(new CMyFileProperties(info));
  return node;
}

// A found-file tree: folders named as a person numbers them, each with files and a subfolder.
struct FoundTree {
  FoundTree() {
    root = CreateFileSystemNode();
    MyFileInfo info;
    info.name = "Found files";
    info.attributes = kAttributeFolder;
    info.validMask = 0x7F;
    root->SetFileProperties(new CMyFileProperties(info));
    for (const char* name : {"d10", "d1", "d2", "d0", "D3"}) {
      CFileNode* folder = AddNode(root, name, true);
      folders.push_back(folder);
      for (const char* file : {"f10.txt", "f9.txt", "f1.txt"}) AddNode(folder, file, false);
      AddNode(AddNode(folder, "inner", true), "deep.bin", false, 1000);
    }
    root->RecountSummary();
  }
  ~FoundTree() { FreeFileTree(root); }

  CFileSystemNode* root;
  std::vector<CFileNode*> folders;
};

std::vector<std::string> TopFolderNames(CFileTreeModel* model) {
  std::vector<std::string> names;
  for (int row = 0; row < model->rowCount(); ++row)
    names.push_back(model->NodeOf(model->index(row, 0))->GetFileProperties()->GetName());
  return names;
}

class ItemModels : public ::testing::Test {
 protected:
  void SetUp() override { corvale::test::TestApplication(); }
  void TearDown() override {
    for (const std::string& report : reports.Taken()) ADD_FAILURE() << "model tester: " << report;
  }

  ModelTesterReports reports;
};

TEST_F(ItemModels, TheFileTreeAndTheFileListHoldTogetherAndSortNamesAsTheyAreRead) {
  FoundTree tree;
  CFileTreeCtrl treePane;
  CFileListCtrl listPane;
  treePane.SetFileListCtrl(&listPane);
  listPane.SetFileTreeCtrl(&treePane);
  auto treeTester = Watch(treePane.Model());
  auto listTester = Watch(listPane.Model());
  treePane.resize(300, 400);
  listPane.resize(600, 400);
  treePane.show();
  listPane.show();

  treePane.FillTree(tree.root);
  EXPECT_EQ(TopFolderNames(treePane.Model()), (std::vector<std::string>{"d0", "d1", "d2", "D3", "d10"}));
  // Every folder opened (its rows fetched), each shown in the list, then one ticked with everything
  // below it.
  treePane.GetTreeCtrl()->expandAll();
  for (int row = 0; row < treePane.Model()->rowCount(); ++row) {
    const QModelIndex item = treePane.Model()->index(row, 0);
    listPane.ShowFolder(tree.root, treePane.Model()->NodeOf(item), item);
    ASSERT_EQ(listPane.RowCount(), 3);
    EXPECT_EQ(listPane.GetNodeAt(0)->GetFileProperties()->GetName(), std::string("f1.txt"));
    EXPECT_EQ(listPane.GetNodeAt(2)->GetFileProperties()->GetName(), std::string("f10.txt"));
  }
  // Sorting keeps the selection on the file that was selected.
  CFileNode* selected = listPane.GetNodeAt(2);
  ASSERT_TRUE(listPane.ReportView()->SelectNode(selected));
  for (int column = 0; column < CFileListModel::kColumnCount; ++column) {
    listPane.SortNodes(column, true);
    listPane.SortNodes(column, false);
    ASSERT_GE(listPane.GetFirstSelectedItem(), 0);
    EXPECT_EQ(listPane.GetNodeAt(listPane.GetFirstSelectedItem()), selected) << column;
  }
  listPane.SortNodes(0, true);
  EXPECT_EQ(listPane.GetNodeAt(1)->GetFileProperties()->GetName(), std::string("f9.txt"));
  EXPECT_EQ(listPane.GetNodeAt(listPane.GetFirstSelectedItem()), selected);
  treePane.ToggleItem(treePane.Model()->index(0, 0));
  ASSERT_TRUE(QTest::qWaitFor([&] { return tree.folders[3]->GetFileProperties()->GetCheckState() == 2; }));

  // Search results: a set of files from several folders, then the list emptied.
  std::vector<CFileNode*> found;
  for (CFileNode* folder : tree.folders) found.push_back(folder->GetFirstChild());
  listPane.ShowFiles(tree.root, found);
  EXPECT_EQ(listPane.RowCount(), static_cast<int>(found.size()));
  listPane.ClearList();
  EXPECT_EQ(listPane.RowCount(), 0);

  // A tree filled again from the start, then with nothing.
  treePane.FillTree(tree.root);
  treePane.FillTree(nullptr);
  EXPECT_EQ(treePane.Model()->rowCount(), 0);
}

TEST_F(ItemModels, TheFoundPartitionListKeepsItsTicksInItsModel) {
  CMultipleChoosePartitionListCtrl list;
  auto tester = Watch(list.Model());
  list.resize(700, 200);
  list.show();
  list.SetAutoCheckLimit(2);
  for (int i = 0; i < 4; ++i) {
    FoundPartitionRow row;
    row.Name = QStringLiteral("Partition %1 NTFS").arg(i + 1);
    row.FirstSector = static_cast<uint64_t>(i) * 1000;
    row.LastSector = row.FirstSector + 999;
    row.Recommendation = 1;
    row.OptionCount = i % 3;
    for (int o = 0; o < row.OptionCount; ++o) row.Options[o].Text = QStringLiteral("FAT%1").arg(o + 1);
    list.AddPartition(row);
  }
  EXPECT_EQ(list.GetCheckedCount(), 2);
  list.SetCheck(3, true);
  list.SetCheck(0, false);
  list.SetOptionCheck(1, 0, true);
  list.SetOptionCheck(2, 1, true);
  EXPECT_EQ(list.GetCheckedCount(), 2);
  EXPECT_TRUE(list.GetOptionCheck(2, 1));
  list.DeleteAllPartitions();
  EXPECT_EQ(list.GetPartitionCount(), 0);
  EXPECT_EQ(list.GetCheckedCount(), 0);
}

TEST_F(ItemModels, TheDeviceListAddsRemovesAndRenamesItsColumns) {
  CDeviceSelectCtrl devices;
  auto tester = Watch(devices.Model());
  devices.resize(900, 300);
  devices.show();
  int data[3] = {};
  for (int i = 0; i < 3; ++i) {
    DEVICE_ITEM_INFO item;
    item.kind = static_cast<uint32_t>(i * 3);
    const std::string name = "Disk " + std::to_string(i) + (i == 1 ? "\nsecond line" : "");
    item.name = name.c_str();
    item.sectorCount = 2048u * (i + 1);
    item.information = "information";
    item.itemData = &data[i];
    devices.AddItem(&item);
  }
  devices.SetCtrlStyle(CtrlStyleDisk);
  devices.View()->Select(2);
  devices.DeleteItem(1);
  EXPECT_EQ(devices.GetItemData(1), &data[2]);
  devices.DeleteAllItems();
  EXPECT_EQ(devices.GetCount(), 0);
}

TEST_F(ItemModels, TheTargetFolderTreeFiltersTheFileSystemModel) {
  const QString folder = QString::fromStdString(corvale::test::ScratchDir());
  for (const char* name : {"a1", "a10", "a2"}) QDir(folder).mkpath(QString::fromUtf8(name) + "/inner");
  CShellTreeCtrl shell;
  auto tester = Watch(shell.model());
  shell.resize(400, 400);
  shell.show();
  shell.Refill();
  ASSERT_TRUE(shell.SelectPath(folder + "/a10/inner"));
  QTest::qWait(200);
  shell.Refill(false);
  QTest::qWait(100);
}

}  // namespace
