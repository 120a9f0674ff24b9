// The last step of a recovery as a user goes through it: the target-folder window over the wizard,
// the folder chosen in its tree, the recovery under its progress window and the result window, with
// the deleted files of real NTFS, FAT32 and ext2 volumes compared by path and bytes with what was
// deleted. Then what must refuse or warn: a folder on the source disk, one that cannot be written, a
// disk that fills during the recovery, a cancel; and the parts of the step on their own: the folder
// checks, the pie and the result panel.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "WizardHarness.h"
#include "controls/ButtonPlus.h"
#include "controls/EditPlus.h"
#include "controls/PieCtrl.h"
#include "controls/ShellTreeCtrl.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "core/FileSystemEngine.h"
#include "dialogs/FileSaveDlg.h"
#include "dialogs/RecoveringDlg.h"
#include "dialogs/SaveFilePathDlg.h"
#include "storage/ImageFileDevice.h"
#include "support/Fixtures.h"
#include "ui/RefusedLink.h"
#include "wizard/SaveFilePage.h"
#include "wizard/SaveResultPage.h"
#include "wizard/controller/SaveFileController.h"
#include "wizard/controller/SaveResultController.h"

namespace fs = std::filesystem;
using corvale::test::WizardHarness;

namespace {

const std::string kTitle = "Corvale Hard Drive Data Recovery";

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every file below `folder` by its path relative to it, with its bytes.
std::map<std::string, std::string> FilesBelow(const fs::path& folder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = ReadWhole(entry.path());
  return files;
}

// A volume image's tree as the file step hands it over: the volume below a root of its own, with
// the deleted files ticked and everything else not.
class DeletedFilesTree {
 public:
  explicit DeletedFilesTree(const std::string& image) : m_device(image) {
    for (const FileSystemEngine& engine : FileSystemEngines()) {
      if (!engine.buildTree || !engine.Recognises(m_device, 0)) continue;
      CFileSystemNode* volume = engine.buildTree(m_device, 0, nullptr);
      if (volume == nullptr) return;
      m_root->AddChild(volume);
      WalkSubtree(volume, [](CFileNode* node) {
        IFileProperties* p = node->GetFileProperties();
        if (p == nullptr) return;
        const bool deleted = !p->IsFolder() && (p->GetTypeWord() & 1) != 0;
        p->SetCheckState(deleted ? kChecked : kNotChecked);
      });
      UpdateFolderStates(volume);
      if (IFileProperties* p = volume->GetFileProperties()) p->SetCheckState(ComputeFolderState(volume));
      return;
    }
  }
  ~DeletedFilesTree() { FreeFileTree(m_root); }
  bool ok() const { return m_root->GetFirstChild() != nullptr; }
  CFileNode* root() const { return m_root; }
  IStorageDevice* device() { return &m_device; }

 private:
  CImageFileDevice m_device;
  CFileNode* m_root = CreateFileNode();
};

// A tmpfs of `kib` KiB mounted on a fresh folder, read-only on request; unmounted at the end.
class SmallMount {
 public:
  SmallMount(const std::string& path, int kib, bool readOnly) : m_path(path) {
    fs::create_directories(path);
    const std::string options = "size=" + std::to_string(kib) + "k";
    m_ok = ::mount("tmpfs", path.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) == 0;
  }
  ~SmallMount() {
    if (m_ok) ::umount2(m_path.c_str(), MNT_DETACH);
  }
  bool ok() const { return m_ok; }

 private:
  std::string m_path;
  bool m_ok = false;
};

class SaveStep : public WizardHarness {
 protected:
  void SetUp() override {
    WizardHarness::SetUp();
    if (HasFatalFailure()) return;
    GetRecoveryContext().RecoveryMode = 0;
    m_previousRunner = SetSaveDialogRunner([this](QDialog& dialog) {
      if (auto* frame = qobject_cast<CSaveFilePathDlg*>(&dialog)) {
        QTimer::singleShot(0, frame, [this, frame] {
          ++targetWindows;
          if (onTargetWindow) onTargetWindow(*frame);
          // A window the test left open is closed as a user would.
          if (frame->isVisible()) QTest::mouseClick(frame->CancelButton(), Qt::LeftButton, {}, QPoint(5, 5));
        });
      } else if (auto* result = qobject_cast<CSaveFileResultDlg*>(&dialog)) {
        QTimer::singleShot(0, result, [this, result] {
          auto* page = static_cast<CSaveResultPage*>(result->Page());
          outcome = page->Panel()->Text(CFileSaveDlg::kIdOutcome).toStdString();
          totals = page->Panel()->Text(CFileSaveDlg::kIdTotals).toStdString();
          link = page->Panel()->Text(CFileSaveDlg::kIdLink).toStdString();
          if (!resultShot.empty()) corvale::test::SaveScreenshot(result->grab().toImage(), resultShot);
          QTest::mouseClick(page->OkButton(), Qt::LeftButton, {}, QPoint(5, 5));
        });
      }
      return dialog.exec();
    });
    sheet->ShowPage(FileSelect);
  }

  void TearDown() override {
    SetSaveDialogRunner(m_previousRunner);
    CFileRecoverer::SetSourceDeviceQuery({});
    WizardHarness::TearDown();
  }

  CSaveFileController* Controller() { return GetSaveFileController(); }
  CSaveFilePage* Page() { return Controller()->GetPage(); }

  // The file step's hand-over, then the step shown as the file page's Next shows it.
  void EnterSaveStep(DeletedFilesTree& tree) {
    Controller()->SetFileTree(tree.root(), tree.device());
    Controller()->SetPreviousController(GetPageController(FileSelect));
    Controller()->Activate();
  }

  // Types `folder` into the window's edit box and presses OK.
  static void TypeAndOk(CSaveFilePathDlg& frame, CSaveFilePage* page, const std::string& folder) {
    QTest::keyClicks(page->Edit(), QString::fromStdString(folder));
    QTest::mouseClick(frame.OkButton(), Qt::LeftButton, {}, QPoint(5, 5));
  }

  std::function<void(CSaveFilePathDlg&)> onTargetWindow;
  int targetWindows = 0;
  std::string resultShot;
  std::string outcome, totals, link;

 private:
  SaveDialogRunner m_previousRunner;
};

std::string ThreeVolumes(std::string* why) {
  return corvale::test::FixtureImage("deleted_files_three_fs.sh", "deleted_files_three_fs", why);
}

class DeletedFileRecovery : public SaveStep, public ::testing::WithParamInterface<const char*> {};

TEST_P(DeletedFileRecovery, TheDeletedFilesComeBackIntoTheFolderChosenInTheTree) {
  std::string why;
  const std::string volumes = ThreeVolumes(&why);
  if (volumes.empty()) GTEST_SKIP() << why;
  const std::string kind = GetParam();
  DeletedFilesTree tree(volumes + "/" + kind + ".img");
  ASSERT_TRUE(tree.ok());
  const std::string target = Folder() + "recovered-" + kind;
  fs::create_directories(target);

  onTargetWindow = [&](CSaveFilePathDlg& frame) {
    CSaveFilePage* page = Page();
    ASSERT_EQ(page->parentWidget(), &frame);
    EXPECT_TRUE(page->Edit()->text().isEmpty()) << "every showing starts with an empty folder";
    ASSERT_TRUE(page->Tree()->SelectPath(QString::fromStdString(target)));
    EXPECT_EQ(page->Edit()->text().toStdString(), target);
    EXPECT_GT(page->Pie()->FreeSpace(), 0);
    EXPECT_EQ(page->Pie()->RequiredSpace(), 42 + 70000 + 12345);
    if (kind == "ntfs") corvale::test::SaveScreenshot(frame.grab().toImage(), "save-1-target-folder");
    QTest::mouseClick(frame.OkButton(), Qt::LeftButton, {}, QPoint(5, 5));
  };
  if (kind == "ntfs") resultShot = "save-2-result";
  EnterSaveStep(tree);

  EXPECT_EQ(targetWindows, 1);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), FileSelect) << "the wizard stays on the file page";
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_TRUE(questions.empty());
  ASSERT_EQ(Controller()->GetResultStringCount(), 1);
  const fs::path top = Controller()->GetResultString(0);
  EXPECT_EQ(top.parent_path(), fs::path(target));
  EXPECT_EQ(FilesBelow(top), FilesBelow(volumes + "/deleted")) << "every deleted file, at its path, whole";
  EXPECT_EQ(Controller()->GetFileCount(), 3);
  EXPECT_EQ(Controller()->GetRecoveredFileCount(), 3);
  EXPECT_EQ(outcome, "All files are recovered successfully.");
  EXPECT_EQ(totals, "total recovered files: 3.");
  EXPECT_EQ(link, CFileSaveDlg::LinkText(target));
}

INSTANTIATE_TEST_SUITE_P(Volumes, DeletedFileRecovery, ::testing::Values("ntfs", "fat32", "ext2"));

TEST_F(SaveStep, RefusalsAndWarningsKeepTheWindowOpenAndWriteNothing) {
  std::string why;
  const std::string volumes = ThreeVolumes(&why);
  if (volumes.empty()) GTEST_SKIP() << why;
  CORVALE_REQUIRE_ROOT();
  DeletedFilesTree tree(volumes + "/ntfs.img");
  ASSERT_TRUE(tree.ok());
  const std::string onSource = Folder() + "on-source";
  fs::create_directories(onSource);
  SmallMount readOnly(Folder() + "read-only", 256, true);
  ASSERT_TRUE(readOnly.ok());
  SmallMount tiny(Folder() + "tiny", 64, false);
  ASSERT_TRUE(tiny.ok());
  // The source disk is the one the scratch folder lies on.
  struct stat st {};
  ASSERT_EQ(::stat(onSource.c_str(), &st), 0);
  CFileRecoverer::SetSourceDeviceQuery([dev = uint64_t(st.st_dev)] { return std::vector<uint64_t>{dev}; });
  // User nobody owns a folder with a link into a folder of root's (think /etc/cron.d).
  corvale::test::PublicScratchDir home;
  const std::string attacker = home.path() + "/H";
  const std::string rootsOwn = home.path() + "/V";
  ASSERT_EQ(::mkdir(attacker.c_str(), 0755), 0);
  ASSERT_EQ(::chown(attacker.c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser), 0);
  ASSERT_EQ(::mkdir(rootsOwn.c_str(), 0755), 0);
  ASSERT_TRUE(corvale::test::RunAsOtherUser(
      [&] { return ::symlink(rootsOwn.c_str(), (attacker + "/out").c_str()) == 0; }));
  const std::string refusedLink = corvale::ui::RefusedLinkText(attacker + "/out");

  const struct {
    const char* what;
    std::string folder;
    const char* question;
    const char* box;
  } cases[] = {
      {"a folder reached through another user's link", attacker + "/out/cron.d", nullptr,
       refusedLink.c_str()},
      {"a folder on the source disk, answered No", onSource,
       "CAUTION! We do NOT recommend you to save the recovered files to the same drive because this can "
       "reduce "
       "the chance of successful recovery. \n\nAre you sure to recover files to the same drive?",
       nullptr},
      {"a read-only disk", Folder() + "read-only/sub", nullptr, "The drive is not writable!"},
      {"too little room for the selection", Folder() + "tiny", nullptr,
       "The free space is not enough, please select other drive."},
      {"no folder", "", nullptr, "Please select a folder to save the recovered files!"},
      {"a relative path", "recovered/here", nullptr, "Invalid path name!"},
      {"a wildcard", Folder() + "what?", nullptr, "Invalid symbol!"},
  };
  confirm = false;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    questions.clear();
    boxes.clear();
    bool stayedOpen = false;
    onTargetWindow = [&](CSaveFilePathDlg& frame) {
      TypeAndOk(frame, Page(), c.folder);
      stayedOpen = frame.isVisible();
    };
    EnterSaveStep(tree);
    EXPECT_TRUE(stayedOpen);
    if (c.question) {
      EXPECT_EQ(questions, std::vector<std::string>{kTitle + "|" + c.question});
    } else {
      EXPECT_TRUE(questions.empty());
    }
    if (c.box) {
      EXPECT_EQ(boxes, std::vector<std::string>{kTitle + "|" + c.box});
    } else {
      EXPECT_TRUE(boxes.empty());
    }
  }
  EXPECT_TRUE(FilesBelow(onSource).empty());
  EXPECT_TRUE(FilesBelow(Folder() + "tiny").empty());
  EXPECT_TRUE(fs::is_empty(rootsOwn)) << "nothing made through the link";

  // Yes on the source disk goes on with the recovery.
  confirm = true;
  questions.clear();
  onTargetWindow = [&](CSaveFilePathDlg& frame) { TypeAndOk(frame, Page(), onSource); };
  EnterSaveStep(tree);
  EXPECT_EQ(questions.size(), 1u);
  EXPECT_EQ(Controller()->GetRecoveredFileCount(), 3);
  EXPECT_EQ(FilesBelow(Controller()->GetResultString(0)), FilesBelow(volumes + "/deleted"));
}

TEST_F(SaveStep, ADiskThatFillsDuringTheRecoveryKeepsOnlyWholeFilesAndTheResultSaysSo) {
  std::string why;
  const std::string volumes = ThreeVolumes(&why);
  if (volumes.empty()) GTEST_SKIP() << why;
  CORVALE_REQUIRE_ROOT();
  DeletedFilesTree tree(volumes + "/fat32.img");
  ASSERT_TRUE(tree.ok());
  // Room for the two small files, not for the 70,000-byte one: the disk filled after the check.
  SmallMount tiny(Folder() + "filling", 64, false);
  ASSERT_TRUE(tiny.ok());
  Controller()->SetFileTree(tree.root(), tree.device());
  Controller()->SetPreviousController(GetPageController(FileSelect));
  Page()->Edit()->setText(QString::fromStdString(Folder() + "filling"));
  ASSERT_TRUE(Controller()->Next());

  EXPECT_EQ(Controller()->GetFileCount(), 3);
  EXPECT_EQ(Controller()->GetRecoveredFileCount(), 2);
  EXPECT_EQ(Controller()->GetFailedFileCount(), 1);
  EXPECT_EQ(outcome, "Some files are recovered successfully.");
  EXPECT_EQ(totals, "total recovered files: 2.");
  const std::map<std::string, std::string> written = FilesBelow(Controller()->GetResultString(0));
  const std::map<std::string, std::string> deleted = FilesBelow(volumes + "/deleted");
  EXPECT_EQ(written.size(), 2u);
  for (const auto& [path, content] : written) {
    ASSERT_TRUE(deleted.count(path)) << path;
    EXPECT_EQ(content, deleted.at(path)) << path << " is whole";
  }
}

TEST_F(SaveStep, AVanishedFolderIsMadeAgainAndACancelBeforeTheFirstFileWritesNothing) {
  std::string why;
  const std::string volumes = ThreeVolumes(&why);
  if (volumes.empty()) GTEST_SKIP() << why;
  DeletedFilesTree tree(volumes + "/ext2.img");
  ASSERT_TRUE(tree.ok());

  // Chosen, then gone before OK: the recovery makes it again.
  const std::string vanishing = Folder() + "vanishing";
  fs::create_directories(vanishing);
  onTargetWindow = [&](CSaveFilePathDlg& frame) {
    ASSERT_TRUE(Page()->Tree()->SelectPath(QString::fromStdString(vanishing)));
    fs::remove(vanishing);
    QTest::mouseClick(frame.OkButton(), Qt::LeftButton, {}, QPoint(5, 5));
  };
  EnterSaveStep(tree);
  EXPECT_TRUE(boxes.empty());
  ASSERT_EQ(Controller()->GetResultStringCount(), 1);
  EXPECT_EQ(FilesBelow(Controller()->GetResultString(0)), FilesBelow(volumes + "/deleted"));

  // Cancel, confirmed, as the recovering window opens.
  const std::string cancelled = Folder() + "cancelled";
  fs::create_directories(cancelled);
  Page()->Edit()->setText(QString::fromStdString(cancelled));
  confirm = true;
  questions.clear();
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* recovering = qobject_cast<CRecoveringDlg*>(w); recovering && recovering->isVisible())
        recovering->reject();
  });
  ASSERT_TRUE(Controller()->Next());
  EXPECT_EQ(questions, std::vector<std::string>{kTitle + "|Quit recovering?"});
  EXPECT_EQ(Controller()->GetRecoveredFileCount(), 0);
  EXPECT_EQ(Controller()->GetResultStringCount(), 0) << "no folder is made once cancelled";
  EXPECT_TRUE(fs::is_empty(cancelled));
  EXPECT_EQ(outcome, "The recovery was cancelled.") << "a cancel is not reported as a failure";
  EXPECT_EQ(totals, "total recovered files: 0.");
}

TEST(TargetFolderChecks, CodesOfFolderPaths) {
  const std::string scratch = corvale::test::ScratchDir();
  fs::create_directories(scratch + "/exists");
  std::ofstream(scratch + "/a-file") << "x";
  const struct {
    std::string path;
    int code;
  } cases[] = {
      {"", CSaveFileController::kNoFolder},
      {std::string(246, 'a'), CSaveFileController::kPathTooLong},
      {"/" + std::string(245, 'a'), CSaveFileController::kPathTooLong},
      {"/", CSaveFileController::kInvalidPath},
      {"x", CSaveFileController::kInvalidPath},
      {"relative/path", CSaveFileController::kNotAbsolute},
      {scratch + "/exists/./x", CSaveFileController::kInvalidPath},
      {scratch + "/.hidden", CSaveFileController::kInvalidPath},
      {scratch + "/why?", CSaveFileController::kInvalidSymbol},
      {scratch + "/a:b", CSaveFileController::kInvalidSymbol},
      {scratch + "/a-file", CSaveFileController::kInvalidPath},
      {scratch + "/a-file/below", CSaveFileController::kInvalidPath},
      {scratch + "/exists", CSaveFileController::kFolderOk},
      {scratch + "/exists/", CSaveFileController::kFolderOk},
      {scratch + "/not/yet/made", CSaveFileController::kFolderOk},
      {"/proc/self", CSaveFileController::kNotWritable},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CSaveFileController::ValidateTargetFolder(c.path), c.code) << c.path.substr(0, 80);
  EXPECT_FALSE(fs::exists(scratch + "/exists/" + CSaveFileController::kWriteTestName));
  // A file of the user's by the write test's name is left as it is.
  std::ofstream(scratch + "/exists/" + CSaveFileController::kWriteTestName) << "mine";
  EXPECT_EQ(CSaveFileController::ValidateTargetFolder(scratch + "/exists"), CSaveFileController::kFolderOk);
  EXPECT_EQ(ReadWhole(scratch + "/exists/" + CSaveFileController::kWriteTestName), "mine");
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch + "/exists"), fs::directory_iterator()), 1);
}

TEST(DiskSpacePie, AnglesSizeAndColours) {
  corvale::test::TestApplication();
  const struct {
    int64_t free, required, used;
    std::array<int, 3> angles;
  } cases[] = {
      {0, 0, 0, {0, 0, 0}},      {1, 1, 1, {120, 120, 120}}, {1, 0, 2, {120, 0, 240}},
      {2, 1, 0, {240, 120, 0}},  {1000, 1, 0, {360, 0, 0}},  {INT64_MAX, INT64_MAX, 0, {180, 180, 0}},
      {-5, 1, 1, {0, 180, 180}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CPieCtrl::ComputeAngles(c.free, c.required, c.used), c.angles) << c.free << " " << c.required;

  CPieCtrl pie;
  pie.resize(100, 50);
  EXPECT_EQ(pie.size(), QSize(180, 130)) << "never smaller than 180 x 130";
  pie.SetBackColor(QColor(240, 240, 240));
  EXPECT_EQ(pie.Render(QSize(300, 200)), [] {
    QImage plain(300, 200, QImage::Format_RGB32);
    plain.fill(QColor(240, 240, 240));
    return plain;
  }()) << "nothing but the background when all is 0";

  pie.SetSpaceInfo(1, 1, 1);
  const QImage image = pie.Render(QSize(300, 200));
  // Centre (150, 134), radii 105 x 34: free from 3 o'clock down to 7, required up to 11, used back.
  EXPECT_EQ(image.pixelColor(150 + 60, 134 + 10), CPieCtrl::Colors()[0].face);
  EXPECT_EQ(image.pixelColor(150 - 60, 134), CPieCtrl::Colors()[1].face);
  EXPECT_EQ(image.pixelColor(150 + 30, 134 - 20), CPieCtrl::Colors()[2].face);
  EXPECT_EQ(image.pixelColor(150 + 50, 134 + 36), CPieCtrl::Colors()[0].rim);
  EXPECT_EQ(image.pixelColor(150 - 90, 134 + 23), CPieCtrl::Colors()[1].rim);
  EXPECT_EQ(image.pixelColor(5, 5), QColor(240, 240, 240));
}

// The pie follows the folder as it is typed, before OK: empty while no folder is given (the target
// disk is not known), then the free space of the file system the typed folder would be made on
// (a 4 MiB tmpfs made here, the folder not there yet) against what the recovery needs; its legend
// gives the three sizes, and another folder on another file system changes them.
TEST_F(SaveStep, ThePieAndItsLegendFollowTheTypedFolderBeforeOk) {
  SmallMount small(Folder() + "small", 4096, false);
  if (!small.ok()) GTEST_SKIP() << "cannot mount a tmpfs here";
  Controller()->SetFileTree(nullptr, nullptr);
  onTargetWindow = [&](CSaveFilePathDlg& frame) {
    CSaveFilePage* page = Page();
    CPieCtrl* pie = page->Pie();
    page->SetRecoveryTotals(1024 * 1024, 7);
    EXPECT_EQ(pie->FreeSpace() + pie->RequiredSpace() + pie->UsedSpace(), 0) << "no folder, an empty pie";
    EXPECT_EQ(page->LegendText(CSaveFilePage::kLegendFree).toStdString(), "Free: -");
    EXPECT_EQ(page->LegendText(CSaveFilePage::kLegendNeeded).toStdString(), "Needed: 1.00 MB");
    EXPECT_EQ(page->LegendText(CSaveFilePage::kLegendUsed).toStdString(), "Used: -");

    QTest::keyClicks(page->Edit(), QString::fromStdString(Folder() + "small/new/folder"));
    for (int i = 0; i < 300 && pie->FreeSpace() == 0; ++i) QTest::qWait(10);
    EXPECT_EQ(pie->FreeSpace(), 4 * 1024 * 1024);
    EXPECT_EQ(pie->RequiredSpace(), 1024 * 1024);
    EXPECT_EQ(pie->UsedSpace(), 0);
    EXPECT_EQ(page->LegendText(CSaveFilePage::kLegendFree).toStdString(), "Free: 4.00 MB");
    EXPECT_EQ(page->LegendText(CSaveFilePage::kLegendNeeded).toStdString(), "Needed: 1.00 MB");
    EXPECT_EQ(page->LegendText(CSaveFilePage::kLegendUsed).toStdString(), "Used: 0.00 KB");
    // The legend shown beside the pie says the same.
    QStringList shown;
    for (QLabel* label : frame.findChildren<QLabel*>())
      if (label->isVisible()) shown << label->text();
    EXPECT_TRUE(shown.contains("Free: 4.00 MB")) << shown.join("|").toStdString();
    EXPECT_TRUE(shown.contains("Needed: 1.00 MB")) << shown.join("|").toStdString();
    // Free and needed get their slices: 288 and 72 degrees.
    EXPECT_EQ(CPieCtrl::ComputeAngles(pie->FreeSpace(), pie->RequiredSpace(), pie->UsedSpace()),
              (std::array<int, 3>{288, 72, 0}));
    corvale::test::SaveScreenshot(frame.grab().toImage(), "save-5-target-folder-typed");

    // Another folder, on the scratch folder's own file system.
    page->Edit()->selectAll();
    QTest::keyClicks(page->Edit(), QString::fromStdString(Folder() + "elsewhere"));
    const TargetDiskSpace elsewhere = QueryTargetDiskSpace(Folder());
    for (int i = 0; i < 300 && pie->UsedSpace() == 0; ++i) QTest::qWait(10);
    EXPECT_NE(pie->UsedSpace(), 0);
    EXPECT_NE(pie->FreeSpace(), 4 * 1024 * 1024);
    EXPECT_EQ(pie->RequiredSpace(), 1024 * 1024);
    EXPECT_GT(elsewhere.total, 0u);
    EXPECT_NE(page->LegendText(CSaveFilePage::kLegendUsed).toStdString(), "Used: -");
    EXPECT_EQ(targetWindows, 1) << "all of it before OK";
  };
  Controller()->SetPreviousController(GetPageController(FileSelect));
  Controller()->Activate();
  EXPECT_EQ(targetWindows, 1);
}

TEST(ResultPanel, OutcomeTotalsAndTheFolderLink) {
  corvale::test::TestApplication();
  CFileSaveDlg panel;
  const struct {
    int selected, written;
    const char* outcome;
    const char* totals;
  } cases[] = {
      {0, 0, "Files are recovered unsuccessfully.", "total recovered files: 0."},
      {5, 0, "Files are recovered unsuccessfully.", "total recovered files: 0."},
      {5, 5, "All files are recovered successfully.", "total recovered files: 5."},
      {5, 3, "Some files are recovered successfully.", "total recovered files: 3."},
  };
  for (const auto& c : cases) {
    panel.ShowRecoveryResult(c.selected, c.written);
    EXPECT_EQ(panel.Text(CFileSaveDlg::kIdOutcome).toStdString(), c.outcome);
    EXPECT_EQ(panel.Text(CFileSaveDlg::kIdTotals).toStdString(), c.totals);
  }
  const struct {
    std::string folder, text;
  } links[] = {
      {"/home/user/recovered", "/home/user/recovered"},
      {std::string(25, 'a'), std::string(25, 'a')},
      {std::string(26, 'a'), std::string(25, 'a') + "..."},
      {std::string(24, 'a') + "\xC3\xA9" + "z", std::string(24, 'a') + "..."},
  };
  for (const auto& l : links) EXPECT_EQ(CFileSaveDlg::LinkText(l.folder), l.text) << l.folder;
}

TEST_F(SaveStep, ScreenshotsOfTheEmptyTargetWindowAndTheRecoveringWindow) {
  Controller()->SetFileTree(nullptr, nullptr);
  onTargetWindow = [&](CSaveFilePathDlg& frame) {
    EXPECT_EQ(Page()->Pie()->FreeSpace(), 0) << "no folder, no free space";
    EXPECT_EQ(Page()->SelectionLine().toStdString(), "You select 0.00 KB in 0 file(s).");
    CShellTreeCtrl* tree = Page()->Tree();
    QTRY_VERIFY(tree->model()->rowCount(tree->model()->index(0, 0)) > 0);
    QTRY_VERIFY(tree->isExpanded(tree->model()->index(0, 0)));
    corvale::test::SaveScreenshot(frame.grab().toImage(), "save-0-target-folder-empty");
    QTest::keyClick(&frame, Qt::Key_Escape);
    EXPECT_TRUE(frame.isVisible()) << "Escape does not close the window";
  };
  Controller()->SetPreviousController(GetPageController(FileSelect));
  Controller()->Activate();
  EXPECT_EQ(targetWindows, 1);
  EXPECT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  EXPECT_TRUE(Page()->isHidden()) << "the page went back to the sheet, hidden";

  // The result window as a user's run leaves it, all files and some of them recovered.
  CSaveResultPage* result = GetSaveResultController()->GetPage();
  ASSERT_NE(result, nullptr);
  for (const auto& [recovered, name] : {std::pair<int, const char*>{3, "save-3-result-all"},
                                        std::pair<int, const char*>{2, "save-4-result-some"}}) {
    result->SetResult("/media/usb/Recovered", 3, recovered, {"/media/usb/Recovered/NTFS 1"});
    result->ShowResult();
    CSaveFileResultDlg frame(sheet);
    frame.AttachPage(result);
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    EXPECT_EQ(result->parentWidget(), &frame);
    corvale::test::SaveScreenshot(frame.grab().toImage(), name);
    QTest::mouseClick(result->OkButton(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(frame.isVisible()) << "OK closes the window";
    EXPECT_EQ(result->parentWidget(), sheet) << "and the page goes back to the sheet";
  }
}

}  // namespace
