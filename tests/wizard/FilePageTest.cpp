// The file page over the trees the engines build from real volumes (NTFS, FAT, Ext2 with deleted
// files) and over the "Raw Files" tree of a carved disk: the folder tree, ticks and counts, the two
// views of the list with their thumbnails, the states legend, saving one file at once (and aborting
// a slow one), preview loading, export of the scan bundle, and the page's Back and Next.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QTreeView>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "controls/AttributesStates.h"
#include "controls/ButtonPlus.h"
#include "controls/FileListCtrl.h"
#include "controls/FileSelectCtrlContainer.h"
#include "controls/FileTreeCtrl.h"
#include "controls/Formatting.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileSystemEngine.h"
#include "core/IntelligentSearchController.h"
#include "core/MyFileProperties.h"
#include "dialogs/FilePreviewDlg.h"
#include "dialogs/FilePreviewViews.h"
#include "dialogs/RBClickRecoverFileDlg.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFilesFolderBuilder.h"
#include "storage/IStorageDevice.h"
#include "storage/ImageFileDevice.h"
#include "support/StandInOpener.h"
#include "ui/AppInfo.h"
#include "ui/Shell.h"
#include "wizard/FileSelectPage.h"
#include "wizard/WizardHarness.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/ScanState.h"

using corvale::test::WizardHarness;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

CFileSystemNode* MakeRoot() {
  CFileSystemNode* root = CreateFileSystemNode();
  root->SetName("Found files");
  MyFileInfo info;
  info.name = "Found files";
  info.attributes = kAttributeFolder;
  info.validMask = 0x7F;
  root->SetFileProperties(new CMyFileProperties(info));
  return root;
}

// Every partition node counts its subtree, as the steps that build trees leave them.
void Recount(CFileNode* root) {
  std::vector<CFileSystemNode*> partitions;
  WalkSubtree(root, [&](CFileNode* n) {
    if (n->IsFileSystemNode()) partitions.push_back(static_cast<CFileSystemNode*>(n));
  });
  for (auto it = partitions.rbegin(); it != partitions.rend(); ++it) (*it)->RecountSummary();
}

CFileNode* Child(CFileNode* folder, const std::string& name) {
  for (CFileNode* c = folder->GetFirstChild(); c != nullptr; c = c->GetNextSibling())
    if (c->GetFileProperties() && name == c->GetFileProperties()->GetName()) return c;
  return nullptr;
}

// Runs `step` on each turn of the event loop until it answers true: for modal dialogs.
void Whenever(std::function<bool()> step) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, step] {
    if (step()) timer->deleteLater(), timer->stop();
  });
  timer->start();
}

// A device whose reads stop, once armed, after `freeReads` more, until the gate is opened.
class GatedDevice : public IStorageDevice {
 public:
  explicit GatedDevice(IStorageDevice& inner) : m_inner(inner) {}
  bool ReadSectors(void* buffer, uint64_t first, uint64_t count) override {
    if (m_armed && m_passed++ >= 2) {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_waiting = true;
      m_cv.wait(lock, [this] { return m_open; });
    }
    return m_inner.ReadSectors(buffer, first, count);
  }
  int64_t GetSectorCount() override { return m_inner.GetSectorCount(); }
  int32_t GetSectorSize() override { return m_inner.GetSectorSize(); }
  bool Open() override { return true; }
  bool Close() override { return true; }
  void Arm() { m_armed = true; }
  bool Waiting() const { return m_waiting; }
  void OpenGate() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = true;
    m_cv.notify_all();
  }

 private:
  IStorageDevice& m_inner;
  std::atomic<bool> m_armed{false};
  std::atomic<int> m_passed{0};
  std::atomic<bool> m_waiting{false};
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_open = false;
};

class FilePage : public WizardHarness {
 protected:
  void SetUp() override {
    WizardHarness::SetUp();
    page = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
    m_asker =
        CFileSelectPage::SetSavePathAsker([this](const std::string& suggested, const std::string& filter) {
          asked.push_back(suggested + "|" + filter);
          return savePath;
        });
  }
  void TearDown() override {
    GetFileSelectController()->Cleanup();
    CFileSelectPage::SetSavePathAsker(m_asker);
    WizardHarness::TearDown();
  }

  // Builds the tree of the volume image at `path` through its engine and shows it on the page.
  CFileSystemNode* ShowVolume(const std::string& path) {
    device = std::make_unique<CImageFileDevice>(path);
    EXPECT_TRUE(device->IsOpened());
    CFileSystemNode* partition = nullptr;
    for (const FileSystemEngine& e : FileSystemEngines())
      if (partition == nullptr && e.buildTree && e.Recognises(*device, 0))
        partition = e.buildTree(*device, 0, nullptr);
    EXPECT_NE(partition, nullptr) << path;
    if (partition == nullptr) return nullptr;
    return Show(partition, device.get());
  }

  CFileSystemNode* Show(CFileSystemNode* partition, IStorageDevice* source) {
    CFileSystemNode* root = MakeRoot();
    root->AddChild(partition);
    Recount(root);
    GetFileSelectController()->SetPreviousController(GetPageController(DeleteRecoveryPartitionDeviceSelect));
    GetFileSelectController()->SetDirectoryTree(root, source);
    GetFileSelectController()->Activate();
    EXPECT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
    return root;
  }

  CFileTreeCtrl* Tree() { return page->Tree(); }
  CFileListCtrl* List() { return page->List(); }

  // Selects the folder row of `node` in the tree as the user would: the file list follows.
  QModelIndex SelectFolder(CFileNode* node) {
    QModelIndex item;
    EXPECT_TRUE(Tree()->FindNodeItem(node, &item));
    return item;
  }

  void ClickTreeTick(const QModelIndex& item) {
    CTreeCtrlPlus* view = Tree()->GetTreeCtrl();
    view->scrollTo(item);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->CheckRect(item).center());
  }

  int RowOf(const std::string& name) {
    for (int row = 0; row < List()->RowCount(); ++row)
      if (name == List()->GetNodeAt(row)->GetFileProperties()->GetName()) return row;
    return -1;
  }

  void SelectRow(int row) {
    QAbstractItemView* view = List()->GetActiveListCtrl();
    view->setCurrentIndex(List()->Model()->index(row, 0));
  }

  std::string Selection() const { return page->SelectionText().toStdString(); }

  // The files (not folders) below `node`, and their bytes.
  static std::pair<int, uint64_t> FilesBelow(CFileNode* node) {
    int files = 0;
    uint64_t bytes = 0;
    WalkSubtree(node, [&](CFileNode* n) {
      if (n->GetFileProperties() && !n->GetFileProperties()->IsFolder()) {
        ++files;
        bytes += n->GetFileProperties()->GetSize();
      }
    });
    return {files, bytes};
  }

  static std::string SelectedText(int files, uint64_t bytes) {
    return "Selected " + FormatByteSize(static_cast<int64_t>(bytes)) + " in " + std::to_string(files) +
           " files";
  }

  CFileSelectPage* page = nullptr;
  std::unique_ptr<CImageFileDevice> device;
  std::string savePath;
  std::vector<std::string> asked;

 private:
  CFileSelectPage::SavePathAsker m_asker;
};

struct Volume {
  const char* image;
  const char* name;
  bool deletedShown;  // whether the engine lists the deleted files
};

}  // namespace

TEST_F(FilePage, TreesOfRealVolumesExpandTickAndCount) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  const Volume volumes[] = {
      {"ntfs.img", "NTFS", true}, {"fat.img", "FAT", true}, {"ext2.img", "Ext2", false}};
  for (const Volume& v : volumes) {
    SCOPED_TRACE(v.name);
    CFileSystemNode* root = ShowVolume(dir + "/" + v.image);
    ASSERT_NE(root, nullptr);
    CFileNode* partition = root->GetFirstChild();
    CFileNode* docs = Child(partition, "docs");
    ASSERT_NE(docs, nullptr);

    // One partition at the top: it is selected and expanded; files are never rows of the tree.
    CFileTreeModel* model = Tree()->Model();
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(Tree()->GetItemData(Tree()->GetSelectedItem()), partition);
    EXPECT_TRUE(Tree()->GetTreeCtrl()->isExpanded(model->index(0, 0)));
    const QModelIndex docsItem = SelectFolder(docs);
    int entries = 0;
    for (CFileNode* c = docs->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) ++entries;
    EXPECT_EQ(docsItem.data().toString().toStdString(), "docs (" + std::to_string(entries) + ")");
    EXPECT_EQ(model->IndexOf(Child(docs, "empty")).data().toString().toStdString(), "empty (0)");
    EXPECT_EQ(model->IndexOf(Child(docs, "sub")).data().toString().toStdString(), "sub (1)");
    EXPECT_FALSE(model->IndexOf(Child(docs, "note1.txt")).isValid()) << "a file is no row of the tree";
    for (int row = 0; row < model->rowCount(docsItem); ++row)
      EXPECT_TRUE(model->NodeOf(model->index(row, 0, docsItem))->GetFileProperties()->IsFolder());

    // The list shows the folder's files, the deleted ones marked D (FAT keeps all but the first
    // letter of a deleted name).
    std::set<std::string> names;
    std::set<std::string> deleted;
    for (int row = 0; row < List()->RowCount(); ++row) {
      CFileNode* n = List()->GetNodeAt(row);
      const std::string name = n->GetFileProperties()->GetName();
      names.insert(name);
      if (CFileListModel::CellText(n, 7).contains('D'))
        deleted.insert(name.size() > 1 ? name.substr(1) : name);
    }
    for (const char* name :
         {"note1.txt", "note2.txt", "note3.txt", "photo.jpg", "wide.png", "small.png", "big.bin"})
      EXPECT_EQ(names.count(name), 1u) << name;
    if (v.deletedShown) {
      EXPECT_EQ(deleted, (std::set<std::string>{"one.txt", "one.jpg"}));
    }
    EXPECT_EQ(names.count("sub"), 0u) << "folders are not listed";

    // Ticking the folder ticks everything below it; the partition and the root are then partly
    // ticked (top.txt is not), and the counts are those of the folder's files.
    const auto [files, bytes] = FilesBelow(docs);
    ClickTreeTick(docsItem);
    EXPECT_EQ(docs->GetFileProperties()->GetCheckState(), kChecked);
    EXPECT_EQ(Child(Child(docs, "sub"), "deep.txt")->GetFileProperties()->GetCheckState(), kChecked);
    EXPECT_EQ(partition->GetFileProperties()->GetCheckState(), kPartlyChecked);
    EXPECT_EQ(Selection(), SelectedText(files, bytes));
    const int photo = RowOf("photo.jpg");
    ASSERT_GE(photo, 0);
    EXPECT_EQ(List()->Model()->index(photo, 0).data(CFileListModel::kCheckStateRole).toInt(), kChecked)
        << "the list shows the tick of its folder";

    // Ticking the whole partition, then unticking it.
    const auto [allFiles, allBytes] = FilesBelow(partition);
    ClickTreeTick(model->index(0, 0));
    EXPECT_EQ(partition->GetFileProperties()->GetCheckState(), kChecked);
    EXPECT_EQ(Selection(), SelectedText(allFiles, allBytes));
    EXPECT_EQ(page->TotalsText().toStdString(), "Total " + FormatByteSize(static_cast<int64_t>(allBytes)) +
                                                    " in " + std::to_string(allFiles) + " files");
    ClickTreeTick(model->index(0, 0));
    EXPECT_EQ(docs->GetFileProperties()->GetCheckState(), kNotChecked);
    EXPECT_EQ(Selection(), SelectedText(0, 0));

    // One file ticked in the list: its folder and the partition are partly ticked.
    SelectFolder(docs);
    CListCtrlPlus* report = List()->ReportView();
    const int row = RowOf("photo.jpg");
    QTest::mouseClick(report->viewport(), Qt::LeftButton, {}, report->CheckRect(row).center());
    const uint64_t photoSize = List()->GetNodeAt(row)->GetFileProperties()->GetSize();
    EXPECT_EQ(photoSize, std::filesystem::file_size(dir + "/content/docs/photo.jpg"));
    EXPECT_EQ(docs->GetFileProperties()->GetCheckState(), kPartlyChecked);
    EXPECT_EQ(partition->GetFileProperties()->GetCheckState(), kPartlyChecked);
    EXPECT_EQ(Selection(), SelectedText(1, photoSize));

    // Select ticks every listed file, Deselect unticks them; the subfolders keep the folder partly
    // ticked.
    List()->OnCommand(CFileListCtrl::kCommandSelect);
    const int listed = List()->RowCount();
    uint64_t listedBytes = 0;
    for (int r = 0; r < listed; ++r) listedBytes += List()->GetNodeAt(r)->GetFileProperties()->GetSize();
    EXPECT_EQ(Selection(), SelectedText(listed, listedBytes));
    EXPECT_EQ(docs->GetFileProperties()->GetCheckState(), kPartlyChecked);
    List()->OnCommand(CFileListCtrl::kCommandDeselect);
    EXPECT_EQ(Selection(), SelectedText(0, 0));
    EXPECT_EQ(docs->GetFileProperties()->GetCheckState(), kNotChecked);
    GetFileSelectController()->Cleanup();
  }
}

TEST_F(FilePage, ReportAndThumbnailViewsOfAVolume) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  CFileSystemNode* root = ShowVolume(dir + "/ntfs.img");
  ASSERT_NE(root, nullptr);
  CFileNode* docs = Child(root->GetFirstChild(), "docs");
  SelectFolder(docs);
  const int photo = RowOf("photo.jpg");
  ASSERT_GE(photo, 0);
  CFileNode* node = List()->GetNodeAt(photo);
  EXPECT_EQ(CFileListModel::CellText(node, 0).toStdString(), "photo.jpg");
  EXPECT_EQ(node->GetFileProperties()->GetSize(),
            std::filesystem::file_size(dir + "/content/docs/photo.jpg"));
  EXPECT_EQ(CFileListModel::CellText(node, 1).toStdString(),
            FormatByteSize(static_cast<int64_t>(node->GetFileProperties()->GetSize())));
  EXPECT_EQ(CFileListModel::CellText(node, 2).toStdString(), "jpg");
  EXPECT_FALSE(CFileListModel::CellText(node, 3).isEmpty());
  EXPECT_EQ(CFileListModel::CellText(Child(docs, "big.bin"), 2).toStdString(), "bin");

  // Sorting by size twice: ascending, then descending.
  CListCtrlPlus* report = List()->ReportView();
  auto sizes = [this] {
    std::vector<uint64_t> out;
    for (int r = 0; r < List()->RowCount(); ++r)
      out.push_back(List()->GetNodeAt(r)->GetFileProperties()->GetSize());
    return out;
  };
  QTest::mouseClick(report->horizontalHeader()->viewport(), Qt::LeftButton, {},
                    QPoint(report->horizontalHeader()->sectionViewportPosition(1) + 10, 5));
  std::vector<uint64_t> ascending = sizes();
  EXPECT_TRUE(std::is_sorted(ascending.begin(), ascending.end()));
  QTest::mouseClick(report->horizontalHeader()->viewport(), Qt::LeftButton, {},
                    QPoint(report->horizontalHeader()->sectionViewportPosition(1) + 10, 5));
  std::vector<uint64_t> descending = sizes();
  EXPECT_TRUE(std::is_sorted(descending.rbegin(), descending.rend()));
  corvale::test::SaveScreenshot(sheet->grab().toImage(), "file-page-report-view");

  // The thumbnail view: pictures are decoded at the size shown, other files keep their icon.
  SelectRow(RowOf("photo.jpg"));
  List()->OnCommand(CFileListCtrl::kCommandThumbnail);
  EXPECT_EQ(List()->Mode(), CFileListCtrl::kThumbnails);
  EXPECT_EQ(List()->GetFirstSelectedItem(), RowOf("photo.jpg")) << "the selection goes along";
  struct Expect {
    const char* name;
    QSize size;  // empty: no picture
  } expects[] = {{"photo.jpg", {80, 60}},
                 {"wide.png", {80, 1}},
                 {"small.png", {50, 40}},
                 {"big.bin", {}},
                 {"note1.txt", {}}};
  for (const Expect& e : expects) {
    SCOPED_TRACE(e.name);
    const int row = RowOf(e.name);
    QImage image;
    QTRY_VERIFY_WITH_TIMEOUT(List()->CachedThumbnail(row, &image), 20000);
    if (e.size.isEmpty()) {
      EXPECT_TRUE(image.isNull());
    } else {
      EXPECT_EQ(image.size(), e.size);
    }
  }
  List()->ThumbnailView()->viewport()->repaint();
  corvale::test::SaveScreenshot(sheet->grab().toImage(), "file-page-thumbnail-view");

  // Another folder drops what was cached and pending for the old rows.
  SelectFolder(Child(docs, "sub"));
  EXPECT_FALSE(List()->CachedThumbnail(RowOf("photo.jpg") < 0 ? 0 : 99, nullptr));
  List()->OnCommand(CFileListCtrl::kCommandList);
  EXPECT_EQ(List()->Mode(), CFileListCtrl::kReport);
}

TEST_F(FilePage, TheRawFilesTreeOfACarvedDiskShowsItsPictures) {
  CORVALE_FIXTURE(dir, "raw_pictures.sh", "raw_pictures");
  CImageFileDevice disk(dir + "/fat_wiped.img");
  ASSERT_TRUE(disk.IsOpened());
  CRawFileInfoList found;
  CRAWSearchController controller;
  controller.SetResultSink(&found);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&disk);
  driver.AddFileSystemSearchController(&controller);
  ASSERT_EQ(driver.Search(nullptr), 1);
  CRawFilesFolderBuilder builder;
  CFileSystemNode* raw = builder.BuildRawFilesFolder(&disk, found.GetIterator(), nullptr, nullptr, 0);
  ASSERT_NE(raw, nullptr);
  CFileSystemNode* root = Show(raw, &disk);
  EXPECT_TRUE(Tree()->Model()->index(0, 0).data().toString().startsWith("Raw Files ("));

  // Each type folder lists its files; the pictures of the JPEG files' folder get thumbnails.
  CFileNode* jpegs = nullptr;
  WalkSubtree(raw, [&](CFileNode* n) {
    if (jpegs == nullptr && n->GetFileProperties() && !n->GetFileProperties()->IsFolder() &&
        QString::fromUtf8(n->GetFileProperties()->GetName()).endsWith(".jpg", Qt::CaseInsensitive))
      jpegs = n->GetParent();
  });
  ASSERT_NE(jpegs, nullptr);
  SelectFolder(jpegs);
  ASSERT_GT(List()->RowCount(), 0);
  List()->OnCommand(CFileListCtrl::kCommandThumbnail);
  const int shown = std::min(List()->RowCount(), 4);
  QTRY_VERIFY_WITH_TIMEOUT(
      [&] {
        for (int row = 0; row < shown; ++row)
          if (!List()->CachedThumbnail(row, nullptr)) return false;
        return true;
      }(),
      20000);
  int pictures = 0;
  for (int row = 0; row < shown; ++row) {
    QImage image;
    List()->CachedThumbnail(row, &image);
    if (image.isNull()) continue;
    ++pictures;
    EXPECT_EQ(std::max(image.width(), image.height()), 80);
  }
  EXPECT_GT(pictures, 0);
  List()->ThumbnailView()->viewport()->repaint();
  corvale::test::SaveScreenshot(sheet->grab().toImage(), "file-page-raw-files-thumbnails");

  // Ticking the whole "Raw Files" folder counts every carved file.
  const auto [files, bytes] = FilesBelow(raw);
  ClickTreeTick(Tree()->Model()->index(0, 0));
  EXPECT_EQ(Selection(), SelectedText(files, bytes));
  EXPECT_EQ(root->GetFileProperties()->GetCheckState(), kChecked);
  // The thumbnail worker reads the disk: the tree goes before the disk does.
  GetFileSelectController()->Cleanup();
}

TEST_F(FilePage, SavingOneFileWritesItByteForByteAndAnAbortLeavesNothing) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  for (const char* image : {"ntfs.img", "fat.img", "ext2.img"}) {
    SCOPED_TRACE(image);
    CFileSystemNode* root = ShowVolume(dir + "/" + image);
    ASSERT_NE(root, nullptr);
    SelectFolder(Child(root->GetFirstChild(), "docs"));
    for (const char* name : {"photo.jpg", "big.bin"}) {
      // The user ticks the file, then saves it from its context menu.
      CListCtrlPlus* report = List()->ReportView();
      QTest::mouseClick(report->viewport(), Qt::LeftButton, {}, report->CheckRect(RowOf(name)).center());
      EXPECT_EQ(List()->GetNodeAt(RowOf(name))->GetFileProperties()->GetCheckState(), kChecked);
      SelectRow(RowOf(name));
      savePath = corvale::test::ScratchDir() + "/" + name;
      page->OnCommand(CFileSelectPage::kCommandRecoverFile);
      EXPECT_EQ(ReadAll(savePath), ReadAll(dir + "/content/docs/" + name)) << name;
    }
    GetFileSelectController()->Cleanup();
  }

  // A slow source: the user aborts while the file is half written.
  CImageFileDevice fat(dir + "/fat.img");
  GatedDevice gated(fat);
  CFileSystemNode* partition = nullptr;
  for (const FileSystemEngine& e : FileSystemEngines())
    if (partition == nullptr && e.buildTree && e.Recognises(fat, 0)) partition = e.buildTree(fat, 0, nullptr);
  ASSERT_NE(partition, nullptr);
  Show(partition, &gated);
  SelectFolder(Child(partition, "docs"));
  SelectRow(RowOf("big.bin"));
  savePath = corvale::test::ScratchDir() + "/big.bin";
  gated.Arm();
  bool aborted = false;
  Whenever([&] {
    auto* dialog = qobject_cast<CRBClickRecoverFileDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !gated.Waiting()) return false;
    corvale::test::SaveScreenshot(dialog->grab().toImage(), "dialog-single-file-recovery");
    QTest::mouseClick(dialog->AbortButton(), Qt::LeftButton, {}, QPoint(5, 5));
    aborted = dialog->IsCancelled();
    EXPECT_EQ(dialog->windowTitle().toStdString(), "Cancelling...");
    gated.OpenGate();
    return true;
  });
  page->OnCommand(CFileSelectPage::kCommandRecoverFile);
  EXPECT_TRUE(aborted);
  EXPECT_FALSE(std::filesystem::exists(savePath)) << "no partial file";
  EXPECT_TRUE(boxes.empty()) << "an abort shows no message";
  GetFileSelectController()->Cleanup();
}

TEST_F(FilePage, PreviewLoadsACopyAndRefusesWhatCannotBeShown) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  CFileSystemNode* root = ShowVolume(dir + "/fat.img");
  ASSERT_NE(root, nullptr);
  SelectFolder(Child(root->GetFirstChild(), "docs"));
  std::string shown;
  auto previous = CFileSelectPage::SetPreviewShower(
      [&](const std::string& path, const std::string& name) { shown = name + "|" + ReadAll(path); });
  SelectRow(RowOf("photo.jpg"));
  Whenever([&] {
    auto* dialog = qobject_cast<CPreviewLoadingDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return false;
    corvale::test::SaveScreenshot(dialog->grab().toImage(), "dialog-preview-loading");
    return true;
  });
  page->OnCommand(CFileSelectPage::kCommandPreview);
  EXPECT_EQ(shown, "photo.jpg|" + ReadAll(dir + "/content/docs/photo.jpg"));
  CFileSelectPage::SetPreviewShower(previous);

  // Refusals by the file's properties.
  struct Case {
    uint64_t size;
    uint16_t attributes;
    uint32_t refusal;
  } cases[] = {{0, 0x20, 268},
               {10, kAttributeFolder, 269},
               {10, kAttributeEncrypted, 270},
               {104857600, 0x20, 0},
               {104857601, 0x20, 271}};
  for (const Case& c : cases) {
    MyFileInfo info;
    info.name = "x";
    info.size = c.size;
    info.attributes = c.attributes;
    info.validMask = 0x7F;
    CMyFileProperties properties(info);
    CFileNode node;
    node.SetFileProperties(&properties);
    EXPECT_EQ(CFileSelectPage::PreviewRefusal(&node), c.refusal) << c.size;
    node.SetFileProperties(nullptr);
  }
}

TEST_F(FilePage, PreviewShowsTheRecoveredCopyAndItsRecoverButtonRecoversTheFile) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  CFileSystemNode* root = ShowVolume(dir + "/fat.img");
  ASSERT_NE(root, nullptr);
  SelectFolder(Child(root->GetFirstChild(), "docs"));
  struct Case {
    const char* name;
    int tab;
    bool recover;
  } cases[] = {{"photo.jpg", CFilePreViewDlg::kTabImage, true},
               {"note1.txt", CFilePreViewDlg::kTabText, false}};
  for (const Case& c : cases) {
    SelectRow(RowOf(c.name));
    int tab = -1;
    std::string shown;
    Whenever([&] {
      auto* dialog = qobject_cast<CFilePreViewDlg*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return false;
      tab = dialog->CurrentTab();
      dialog->SelectTab(CFilePreViewDlg::kTabHex);
      shown = dialog->HexView()->toPlainText().toStdString();
      if (c.recover)
        dialog->RecoverButton()->click();
      else
        dialog->reject();
      return true;
    });
    asked.clear();
    savePath = corvale::test::ScratchDir() + "/" + c.name;
    page->OnCommand(CFileSelectPage::kCommandPreview);
    EXPECT_EQ(tab, c.tab) << c.name;
    const std::string bytes = ReadAll(dir + "/content/docs/" + c.name);
    char first[16];
    std::snprintf(first, sizeof first, "%02X\t%02X", static_cast<uint8_t>(bytes[0]),
                  static_cast<uint8_t>(bytes[1]));
    EXPECT_NE(shown.find(std::string("00000000\t\t") + first), std::string::npos) << shown;
    // Recover asks for a place and writes the file; Close does neither.
    EXPECT_EQ(asked.size(), c.recover ? 1u : 0u) << c.name;
    EXPECT_EQ(std::filesystem::exists(savePath), c.recover) << c.name;
    if (c.recover) {
      EXPECT_EQ(ReadAll(savePath), bytes);
    }
  }
}

// A recovered document goes to the viewer as the person who asked (user nobody, through sudo), as a
// copy only they can read, named by what the file holds: the disk's author chose the names, and a
// Word document called "invoice.jar" or "page.html" must not pick the program that opens it.
// Driven with the page's Preview button.
TEST_F(FilePage, PreviewHandsDocumentsToTheViewerAsThePersonWhoAskedUnderTheKindTheyHold) {
  CORVALE_REQUIRE_ROOT();
  for (const char* tool : {"mkfs.fat", "mcopy"})
    if (!corvale::test::HaveTool(tool)) GTEST_SKIP() << tool << " missing (see scripts/install-deps)";
  CORVALE_FIXTURE(docs, "raw_documents.sh", "raw_documents");
  const std::string d = docs + "/documents/";
  struct Case {
    const char* name;    // on the volume
    const char* source;  // the document it holds
    const char* handed;  // the name the viewer gets
  } cases[] = {{"Letter.docx", "report.docx", "document.docx"},
               {"invoice.jar", "report.doc", "document.doc"},
               {"page.html", "report.doc", "document.doc"},
               {"Budget.xlsx", "table.xlsx", "document.xlsx"},
               {"Budget-old.xls", "table.xls", "document.xls"}};
  const std::string image = corvale::test::ScratchDir() + "/documents.img";
  ASSERT_EQ(corvale::test::RunCommand("mkfs.fat -C -F 16 '" + image + "' 16384 >/dev/null"), 0);
  for (const Case& c : cases)
    ASSERT_EQ(corvale::test::RunCommand("mcopy -i '" + image + "' '" + d + c.source + "' '::" + c.name + "'"),
              0);

  corvale::test::StandInOpener opener;
  ASSERT_TRUE(opener.ok());
  corvale::test::ScopedVariables asked(
      {{"PKEXEC_UID", nullptr}, {"SUDO_UID", "65534"}, {"SUDO_GID", nullptr}});
  // The harness records addresses in the opener's place; here the real opener starts the stand-in.
  struct RealOpener {
    corvale::ui::UrlHandler kept = corvale::ui::SetUrlHandler(nullptr);
    ~RealOpener() { corvale::ui::SetUrlHandler(kept); }
  } real;
  CFileSystemNode* root = ShowVolume(image);
  ASSERT_NE(root, nullptr);
  SelectFolder(root->GetFirstChild());
  size_t started = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_GE(RowOf(c.name), 0);
    SelectRow(RowOf(c.name));
    QTest::mouseClick(page->PreviewButton(), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(opener.WaitFor(++started));
    const corvale::test::StandInOpener::Record r = opener.Records().back();
    EXPECT_EQ(r.uid, corvale::test::kOtherUser);
    ASSERT_EQ(r.args.size(), 1u);
    const std::filesystem::path copy(r.args[0]);
    EXPECT_EQ(copy.filename(), c.handed);
    struct stat file {
    }, folder{};
    ASSERT_EQ(::lstat(copy.c_str(), &file), 0);
    ASSERT_EQ(::lstat(copy.parent_path().c_str(), &folder), 0);
    EXPECT_EQ(file.st_uid, corvale::test::kOtherUser);
    EXPECT_EQ(file.st_mode & 07777, 0600u);
    EXPECT_EQ(folder.st_uid, corvale::test::kOtherUser);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    EXPECT_EQ(ReadAll(copy), ReadAll(d + c.source));
  }
}

TEST_F(FilePage, TheStatesLegendOpensFromTheListAndChangesNothing) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  ShowVolume(dir + "/fat.img");
  const int rows = List()->RowCount();
  for (int i = 0; i < 2; ++i) {
    bool seen = false;
    Whenever([&] {
      auto* dialog = qobject_cast<CAttributesStates*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return false;
      seen = dialog->windowTitle() == "About States";
      if (i == 0) corvale::test::SaveScreenshot(dialog->grab().toImage(), "dialog-about-states");
      dialog->reject();
      return true;
    });
    List()->OnCommand(CFileListCtrl::kCommandState);
    EXPECT_TRUE(seen);
  }
  EXPECT_EQ(List()->RowCount(), rows);
  // The context menu of a row in the pane beside the tree: Preview, Recovery and Properties, no
  // Locate, then the page's own commands.
  std::unique_ptr<QMenu> menu = List()->BuildContextMenu();
  std::vector<std::string> items;
  for (QAction* action : menu->actions())
    items.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  EXPECT_EQ(items, (std::vector<std::string>{"Preview", "Recovery", "Properties", "-", "Find file by name...",
                                             "Search files...", "Export Result..."}));
}

TEST_F(FilePage, NextNeedsATickAndBackAsksBeforeFreeingTheTree) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  CFileSystemNode* root = ShowVolume(dir + "/ext2.img");
  ASSERT_NE(root, nullptr);
  Click(CWizardSheet::kCommandNext);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], GetProductTitle() + "|Select files to save, please.");

  ClickTreeTick(Tree()->Model()->index(0, 0));
  Click(CWizardSheet::kCommandNext);
  EXPECT_EQ(GetPageController(SaveFile)->GetPreviousController(), GetFileSelectController());
  EXPECT_EQ(GetFileSelectController()->GetFileTree(), root) << "the save step reads the tree on show";

  sheet->ShowPage(FileSelect);
  confirm = false;
  Click(CWizardSheet::kCommandBack);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  EXPECT_EQ(page->GetFileTree(), root);
  ASSERT_FALSE(questions.empty());
  EXPECT_EQ(questions.back(), GetProductTitle() + "|Are you sure to quit searching?");
  confirm = true;
  Click(CWizardSheet::kCommandBack);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), DeleteRecoveryPartitionDeviceSelect);
  EXPECT_EQ(page->GetFileTree(), nullptr) << "going back frees the tree";
  EXPECT_EQ(List()->RowCount(), 0);
}

TEST_F(FilePage, ExportWritesTheBundleOfTheStateFiles) {
  const std::string states = corvale::test::ScratchDir();
  std::ofstream(states + "/cslast.rdf") << "saved scan state";
  SetScanStateFolder(states);
  GetFileSelectController()->SetPreviousController(GetPageController(CompleteRecoveryPartitionDeviceSelect));
  savePath = corvale::test::ScratchDir() + "/result";
  QTest::mouseClick(page->ExportButton(), Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_NE(asked[0].find("_QBX_CR.rsf|Recovery State File(*.rsf)"), std::string::npos) << asked[0];
  EXPECT_TRUE(std::filesystem::exists(savePath + ".rsf"));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], GetProductTitle() + "|The search results (.rsf) was exported successfully.");

  // Deleted-file recovery keeps no scan state: the state files of the folder are another run's.
  boxes.clear();
  asked.clear();
  std::filesystem::remove(savePath + ".rsf");
  GetFileSelectController()->SetPreviousController(GetPageController(DeleteRecoveryPartitionDeviceSelect));
  QTest::mouseClick(page->ExportButton(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(asked.empty());
  EXPECT_FALSE(std::filesystem::exists(savePath + ".rsf"));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], GetProductTitle() + "|Failed to export the search results (.rsf).");

  const std::pair<std::string, std::string> names[] = {
      {"a", "a.rsf"}, {"a.rsf", "a.rsf"}, {"a.RSF", "a.RSF.rsf"}, {".rsf", ".rsf.rsf"}};
  for (const auto& [in, out] : names) EXPECT_EQ(CFileSelectPage::WithBundleExtension(in), out);
  EXPECT_NE(CFileSelectPage::ExportFileName(0, 2).find("_QBX_Lum.rsf"), std::string::npos);
}

TEST(FileListThumbnails, SizesAndTheQueueOfRowsOnScreen) {
  const std::pair<QSize, QSize> sizes[] = {{{4000, 3000}, {80, 60}},
                                           {{1000, 10}, {80, 1}},
                                           {{50, 40}, {50, 40}},
                                           {{80, 20}, {80, 20}},
                                           {{10, 5000}, {1, 80}}};
  for (const auto& [in, out] : sizes) EXPECT_EQ(CFileListCtrl::ThumbnailSize(in), out) << in.width();
}

namespace {

CFileNode* AddNode(CFileNode* parent, const char* name, uint64_t size, uint16_t attributes,
                   uint16_t state = 0, uint64_t created = 130000000000000000ull, const char* text = "") {
  MyFileInfo info;
  info.name = name;
  info.size = size;
  info.attributes = attributes;
  info.typeWord = state;
  info.creationTime = created;
  info.time2 = info.time3 = 130000000000000000ull;
  info.text = text;
  info.validMask = 0x7F;
  CFileNode* node = parent->AddChild(CreateFileNode());
  node->SetFileProperties(new CMyFileProperties(info));
  return node;
}

}  // namespace

TEST(FileViews, CellTextsLettersAndSortOrder) {
  CFileSystemNode* root = MakeRoot();
  struct Guard {
    CFileNode* root;
    ~Guard() { FreeFileTree(root); }
  } guard{root};
  CFileNode* compressed = AddNode(root, "b.TXT", 300, 0x0821, 0x0003);
  CFileNode* carved = AddNode(root, "noext", 100, 0x20, 0, 0, "Canon EOS 5D");
  CFileNode* picture = AddNode(root, "a.jpg", 200, 0x40);
  EXPECT_EQ(CFileListModel::CellText(compressed, 6).toStdString(), "R A C ");
  EXPECT_EQ(CFileListModel::CellText(compressed, 7).toStdString(), "D L ");
  EXPECT_EQ(CFileListModel::CellText(compressed, 2).toStdString(), "TXT");
  EXPECT_EQ(CFileListModel::CellText(carved, 2).toStdString(), "");
  EXPECT_EQ(CFileListModel::CellText(carved, 4).toStdString(), "Canon EOS 5D") << "a zero created time";
  EXPECT_EQ(CFileListModel::CellText(picture, 4).toStdString(), FileTimeToText(130000000000000000ull));

  // Ascending by type: no extension first; by size both ways; equal keys never before each other.
  EXPECT_TRUE(CFileListModel::Before(carved, picture, 2, true));
  EXPECT_TRUE(CFileListModel::Before(picture, compressed, 2, true)) << "compared without case";
  EXPECT_TRUE(CFileListModel::Before(carved, picture, 1, true));
  EXPECT_TRUE(CFileListModel::Before(compressed, picture, 1, false));
  EXPECT_FALSE(CFileListModel::Before(picture, picture, 1, true));
  EXPECT_FALSE(CFileListModel::Before(picture, picture, 1, false));
}

TEST(FileViews, TheTreeColumnKeepsItsWidthWithinItsLimits) {
  corvale::test::TestApplication();
  CFileSelectCtrlContainer container;
  container.resize(800, 400);
  container.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&container));
  CExSplitterWnd* splitter = container.Splitter();
  const int tree = splitter->sizes()[0];
  EXPECT_EQ(tree, 200);
  container.resize(1100, 400);
  QApplication::processEvents();
  EXPECT_EQ(splitter->sizes()[0], tree) << "the list takes the extra width";
  EXPECT_GT(splitter->sizes()[1], 800);
  // A drag of the bar to 50, 500 and 250 pixels: the column springs back into 100 to 400.
  for (const auto& [asked, got] : {std::pair{50, 100}, std::pair{500, 400}, std::pair{250, 250}}) {
    QWidget* handle = splitter->handle(1);
    const QPoint grip(handle->width() / 2, handle->height() / 2);
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip + QPoint(asked - splitter->sizes()[0], 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(asked - splitter->sizes()[0], 0));
    EXPECT_EQ(splitter->sizes()[0], got) << asked;
  }
  container.resize(150, 400);
  QApplication::processEvents();
  EXPECT_GE(splitter->sizes()[1], 0);
}

TEST(FileViews, SpaceWithoutASelectionAndAClickOnALabelTickNothing) {
  corvale::test::TestApplication();
  CFileSystemNode* root = MakeRoot();
  CFileNode* folder = AddNode(root, "folder", 0, kAttributeFolder);
  AddNode(folder, "file.txt", 10, 0x20);
  root->RecountSummary();
  CFileTreeCtrl tree;
  tree.resize(300, 300);
  tree.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree));
  int ticks = 0;
  QObject::connect(&tree, &CFileTreeCtrl::TicksChanged, [&] { ++ticks; });
  tree.FillTree(root);
  CTreeCtrlPlus* view = tree.GetTreeCtrl();
  view->setCurrentIndex(QModelIndex());
  QTest::keyClick(view, Qt::Key_Space);
  EXPECT_EQ(ticks, 0);
  const QModelIndex item = tree.Model()->index(0, 0);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center() + QPoint(20, 0));
  EXPECT_EQ(ticks, 0);
  EXPECT_EQ(view->currentIndex(), item) << "the click selects";
  QTest::keyClick(view, Qt::Key_Space);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(folder->GetFileProperties()->GetCheckState(), kChecked);
  QModelIndex found;
  CFileNode stranger;
  EXPECT_FALSE(tree.FindNodeItem(&stranger, &found));
  EXPECT_EQ(view->currentIndex(), item) << "a node not in the tree leaves the selection";
  tree.FillTree(nullptr);
  FreeFileTree(root);
}
