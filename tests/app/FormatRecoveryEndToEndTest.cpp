// Format Recovery in the real main window over volumes whose old files only a whole-volume search
// finds (format_recovery_volumes.sh): an NTFS volume quick-formatted again, a FAT32 volume formatted
// again, an ext2 volume without its superblock, and a wiped volume of pictures. The command, the
// file types, the volume; the search under its window; the old volume offered and chosen; its old
// files recovered and compared by path and bytes. With only the picture types ticked the carved
// pictures come back under "Raw Files". Cancel in the search or in the build leaves the wizard on
// the page it was on, with nothing built.
#include <gtest/gtest.h>

#if __has_include("wizard/controller/CompleteRecoveryPartitionDeviceSelectController.h")

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "EndToEndSteps.h"
#include "app/MainFrame.h"
#include "app/SourceDriveQuery.h"
#include "controls/ButtonPlus.h"
#include "controls/DeviceSelectCtrl.h"
#include "controls/DialogTemplate.h"
#include "controls/TransButton.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "dialogs/BuildDirectoryDlg.h"
#include "dialogs/IntelligentSearchingDlg.h"
#include "platform/RecoveryContext.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "ui/Pictures.h"
#include "wizard/CompleteRecoveryPartitionDeviceSelectPage.h"
#include "wizard/CompleteRecoveryScanPartitionDeviceSelectPage.h"
#include "wizard/FileSelectPage.h"
#include "wizard/RecoveryModeSelectPage.h"
#include "wizard/TypeOfFileToRecoveryPage.h"
#include "wizard/TypeRecoveryTreeCtrl.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/CompleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/CompleteRecoveryScanPartitionDeviceSelectController.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/MapFileTypeInfo.h"
#include "wizard/controller/ScanState.h"
#include "wizard/controller/WholeDeviceSearch.h"

namespace fs = std::filesystem;
using corvale::test::FilesBelow;
using corvale::test::SaveScreenshot;

namespace {

// Runs `act` on every `Dialog` shown while it lives, from the event loop just after the dialog has
// become visible: the search's window turns the loop while the search runs.
template <typename Dialog>
class WhenShown : public QObject {
 public:
  explicit WhenShown(std::function<void(Dialog&)> act) : m_act(std::move(act)) {
    QApplication::instance()->installEventFilter(this);
  }
  ~WhenShown() override { QApplication::instance()->removeEventFilter(this); }

  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Show)
      if (auto* dialog = qobject_cast<Dialog*>(object)) {
        QPointer<Dialog> shown(dialog);
        QTimer::singleShot(0, dialog, [this, shown] {
          if (shown) m_act(*shown);
        });
      }
    return false;
  }

 private:
  std::function<void(Dialog&)> m_act;
};

// The name of a node of the file page's tree.
std::string NameOf(const CFileNode* node) {
  return node->GetFileProperties() ? node->GetFileProperties()->GetName() : std::string();
}

// The folder of the tree below `node` (or `node` itself) that holds an entry named `name`, or null.
const CFileNode* FolderHolding(const CFileNode* node, const std::string& name) {
  for (const CFileNode* child = node->GetFirstChild(); child; child = child->GetNextSibling())
    if (NameOf(child) == name) return node;
  for (const CFileNode* child = node->GetFirstChild(); child; child = child->GetNextSibling())
    if (const CFileNode* found = FolderHolding(child, name)) return found;
  return nullptr;
}

// The folder below `folder` on disk that holds a file named `name`, or empty.
fs::path DiskFolderHolding(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
    if (entry.is_regular_file() && entry.path().filename() == name) return entry.path().parent_path();
  return {};
}

// The bytes of every file below `folder`, sorted: carved files have names of their own.
std::vector<std::string> ContentsBelow(const fs::path& folder) {
  std::vector<std::string> contents;
  for (const auto& [path, bytes] : FilesBelow(folder)) contents.push_back(bytes);
  std::sort(contents.begin(), contents.end());
  return contents;
}

// A volume of the fixture, and whether the device page lists it (else it is opened as a raw image
// file with Ctrl+O).
struct Volume {
  const char* name;
  bool listed;
};

class FormatRecoveryEndToEnd : public ::testing::TestWithParam<Volume> {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    std::string why;
    m_fixture = corvale::test::FixtureImage("format_recovery_volumes.sh", "format_recovery_volumes", &why);
    if (m_fixture.empty()) GTEST_SKIP() << "fixture unavailable: " << why;
    m_folder = corvale::test::ScratchDir();

    m_previousBox =
        corvale::ui::SetMessageBoxHandler([this](const std::string& text, const std::string&,
                                                 corvale::ui::MessageIcon) { boxes.push_back(text); });
    m_previousQuestion =
        corvale::ui::SetQuestionHandler([this](const std::string& text, const std::string&,
                                               corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          questions.push_back(text);
          return corvale::ui::MessageAnswer::Yes;
        });
    InstallSourceDriveQuery();
    SetScanStateFolder(m_folder + "/state/");
    fs::create_directories(m_folder + "/state");
    m_savedContext = GetRecoveryContext().PageFlowSwitch;
  }

  // The main window over the volume image `volume` (a copy), as the only disk the program sees.
  void StartProgram(const std::string& volume) {
    fs::copy_file(m_fixture + "/" + volume + ".img", m_folder + "/" + volume + ".img");
    setenv("CORVALE_DISKS", (m_folder + "/" + volume + ".img").c_str(), 1);
    for (int i = 0; i < kWizardPageCount; ++i)
      GetPageController(static_cast<WIZARD_PAGE>(i))->SetPreviousController(nullptr);
    CCompleteRecoveryPartitionDeviceSelectController::CommitPending() = true;
    frame = std::make_unique<CMainFrame>();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    sheet = frame->ChildView()->GetWizardSheet();
  }

  void TearDown() override {
    if (m_fixture.empty()) return;
    GetFileSelectController()->Cleanup();
    GetCompleteRecoveryScanPartitionDeviceSelectController()->Cleanup();
    GetCompleteRecoveryPartitionDeviceSelectController()->Cleanup();
    // The image files opened stay listed for the run; the next test is another run.
    GetCompleteRecoveryPartitionDeviceSelectController()->CloseAllImages();
    frame.reset();
    CFileRecoverer::SetSourceDeviceQuery({});
    CFileRecoverer::SetDeviceNumbersQuery({});
    SetScanStateFolder("");
    GetRecoveryContext().PageFlowSwitch = m_savedContext;
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::ui::SetQuestionHandler(m_previousQuestion);
    unsetenv("CORVALE_DISKS");
  }

  void ClickNext() {
    QTest::mouseClick(sheet->Button(CWizardSheet::kCommandNext), Qt::LeftButton, {}, QPoint(5, 5));
  }

  CTypeOfFileToRecoveryPage* TypesPage() const {
    return static_cast<CTypeOfFileToRecoveryPage*>(sheet->GetPage(TypeOfFileToRecovery));
  }
  CCompleteRecoveryPartitionDeviceSelectPage* DevicePage() const {
    return static_cast<CCompleteRecoveryPartitionDeviceSelectPage*>(
        sheet->GetPage(CompleteRecoveryPartitionDeviceSelect));
  }
  CCompleteRecoveryScanPartitionDeviceSelectPage* PartitionsPage() const {
    return static_cast<CCompleteRecoveryScanPartitionDeviceSelectPage*>(
        sheet->GetPage(CompleteRecoveryScanPartitionDeviceSelect));
  }

  // A click on the tick box of the file-type row described as `description`.
  void ClickType(const std::string& description) {
    CMapFileTypeInfo& catalogue = *TypesPage()->GetFileTypeCatalogue();
    for (int32_t id : catalogue.GetTypeIds()) {
      FILE_TYPE_RECORD* record = catalogue.FindType(id);
      if (record->description != description) continue;
      auto* item = static_cast<QTreeWidgetItem*>(record->treeItem);
      ASSERT_NE(item, nullptr);
      TypesPage()->Tree()->scrollToItem(item);
      QTest::mouseClick(TypesPage()->Tree()->viewport(), Qt::LeftButton, {},
                        TypesPage()->Tree()->CheckBoxRect(item).center());
      return;
    }
    FAIL() << "no file type " << description;
  }
  int16_t TypeState(const std::string& description) {
    CMapFileTypeInfo& catalogue = *TypesPage()->GetFileTypeCatalogue();
    for (int32_t id : catalogue.GetTypeIds())
      if (catalogue.FindType(id)->description == description) return catalogue.FindType(id)->checkState;
    return -1;
  }

  // From the welcome page to the device page with the mouse: the Format Recovery command, the file
  // types (only the pictures when `picturesOnly`), and the volume selected once listed; the manual
  // partition choice ticked or not. A volume image whose file system is gone is not listed (it holds
  // no volume the program can tell): it is opened later as a raw image file.
  void OpenDevicePage(bool picturesOnly, bool manual, bool listed, const std::string& shots) {
    auto* welcome = static_cast<CRecoveryModeSelectPage*>(sheet->GetPage(RecoveryModeSelect));
    QTest::mouseClick(welcome->ModeButton(CRecoveryModeSelectPage::kCommandFormat), Qt::LeftButton, {},
                      QPoint(10, 10));
    ASSERT_EQ(sheet->GetCurrentPageIndex(), TypeOfFileToRecovery);
    if (picturesOnly) {
      for (int i = 0; i < 2 && TypeState("All types") != 0; ++i) ClickType("All types");
      ASSERT_EQ(TypeState("All types"), 0);
      ClickType("Graphics");
    }
    if (!shots.empty()) SaveScreenshot(frame->grab().toImage(), shots + "-file-types");
    ClickNext();
    ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryPartitionDeviceSelect);
    for (int i = 0; i < 6000 && GetCompleteRecoveryPartitionDeviceSelectController()->IsCollecting(); ++i)
      QTest::qWait(10);
    ASSERT_TRUE(frame->isEnabled());
    CDeviceSelectCtrl* list = DevicePage()->GetDeviceSelectCtrl();
    std::string rows;
    for (int i = 0; i < list->GetCount(); ++i)
      rows += list->CellText(i, 0).toStdString() + " | " + list->CellText(i, 2).toStdString() + "\n";
    ASSERT_EQ(list->GetCount(), listed ? 1 : 0) << rows;
    if (listed) {
      QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, list->View()->RowRect(0).center());
      ASSERT_EQ(list->GetCurSel(), 0);
    }
    CTransButton* box = DevicePage()->ManualSelectionBox();
    ASSERT_NE(box, nullptr);
    if (box->isChecked() != manual) QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    // The box tells the page after the click has been handled.
    for (int i = 0; i < 200 && (GetRecoveryContext().PageFlowSwitch != 0) != manual; ++i) QTest::qWait(5);
    ASSERT_EQ(GetRecoveryContext().PageFlowSwitch != 0, manual);
    if (!shots.empty()) SaveScreenshot(frame->grab().toImage(), shots + "-device-page");
  }

  // Starts the search of the device page's volume: Next on its row, or, for a volume not listed,
  // Ctrl+O and its image file chosen.
  void StartSearch(const std::string& volume, bool listed) {
    if (listed) {
      ClickNext();
      return;
    }
    const std::string path = m_folder + "/" + volume + ".img";
    GetCompleteRecoveryPartitionDeviceSelectController()->SetRawImagePathAsker([path] { return path; });
    QTest::keyClick(frame.get(), Qt::Key_O, Qt::ControlModifier);
    GetCompleteRecoveryPartitionDeviceSelectController()->SetRawImagePathAsker({});
  }

  // The search of `volume` under its window, pictured as `shot` while it runs.
  void Search(const std::string& volume, bool listed, const std::string& shot) {
    int windows = 0;
    bool modal = false;
    const WholeDeviceSearchHook previous = SetWholeDeviceSearchHook([&](CIntelligentSearchingDlg& dialog) {
      ++windows;
      modal = dialog.windowModality() == Qt::ApplicationModal;
    });
    // The picture is taken once the window is up, while the search runs.
    WhenShown<CIntelligentSearchingDlg> picture([&](CIntelligentSearchingDlg& dialog) {
      if (!shot.empty()) SaveScreenshot(dialog.grab().toImage(), shot);
    });
    StartSearch(volume, listed);
    SetWholeDeviceSearchHook(previous);
    EXPECT_EQ(windows, 1) << "the search runs under its window";
    EXPECT_TRUE(modal) << "the main window takes no input while the search runs";
    EXPECT_TRUE(frame->isEnabled());
  }

  // Ticks the file page's node `node`, recovers the ticked files into a new folder and returns the
  // folder the recovery made.
  fs::path RecoverTicked(CFileNode* node, const std::string& shot) {
    auto* files = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
    corvale::test::TickInTree(files, node, frame.get());
    const std::string target = m_folder + "/recovered";
    fs::create_directories(target);
    const auto saved = corvale::test::SaveTickedFiles(sheet, target, shot);
    EXPECT_EQ(saved.targetWindows, 1);
    EXPECT_EQ(saved.outcome, "All files are recovered successfully.");
    if (GetSaveFileController()->GetResultStringCount() != 1) return {};
    return GetSaveFileController()->GetResultString(0);
  }

  CFileNode* FileTree() const {
    return static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect))->GetFileTree();
  }

  std::unique_ptr<CMainFrame> frame;
  CWizardSheet* sheet = nullptr;
  std::vector<std::string> boxes;
  std::vector<std::string> questions;
  std::string m_fixture;
  std::string m_folder;

 private:
  corvale::ui::MessageBoxHandler m_previousBox;
  corvale::ui::QuestionHandler m_previousQuestion;
  int32_t m_savedContext = 0;
};

// The old volume of each reformatted image is found, offered on the partition page and chosen; its
// old files come back at their paths below the old folder, whole.
TEST_P(FormatRecoveryEndToEnd, TheOldVolumesFilesComeBackWhole) {
  const std::string volume = GetParam().name;
  const bool listed = GetParam().listed;
  StartProgram(volume);
  const bool first = volume == "ntfs";
  ASSERT_NO_FATAL_FAILURE(OpenDevicePage(false, true, listed, first ? "format-recovery" : ""));
  ASSERT_NO_FATAL_FAILURE(Search(volume, listed, first ? "dialog-intelligent-searching" : ""));
  ASSERT_TRUE(boxes.empty()) << boxes.front();

  // The old volume is offered, recommended and ticked; the step bar names the step it is in.
  ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  const corvale::ui::StepBannerSteps* steps = corvale::ui::FindStepBanner(sheet->BannerBitmapId());
  ASSERT_NE(steps, nullptr);
  EXPECT_NE(steps->steps.value(steps->current).indexOf(QStringLiteral("partition")), -1)
      << steps->steps.value(steps->current).toStdString();
  CCompleteRecoveryScanPartitionDeviceSelectPage* partitions = PartitionsPage();
  ASSERT_GE(partitions->GetPartitionCount(), 1);
  EXPECT_GE(partitions->GetCheckedCount(), 1);
  SaveScreenshot(frame->grab().toImage(), "format-recovery-partition-page-" + volume);

  // Built and shown on the file page; every file ticked and recovered.
  ClickNext();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  CFileNode* root = FileTree();
  ASSERT_NE(root, nullptr);
  ASSERT_NE(FolderHolding(root, "note1.txt"), nullptr) << "the old folder is in the tree";
  if (first) SaveScreenshot(frame->grab().toImage(), "format-recovery-file-page");
  CFileNode* partition = root->GetFirstChild();
  ASSERT_NE(partition, nullptr);
  const fs::path top = RecoverTicked(partition, "format-recovery-result-" + volume);
  ASSERT_FALSE(top.empty());

  // The old folder's name goes with the root folder on FAT: what lies below it is compared.
  const fs::path old = DiskFolderHolding(top, "note1.txt");
  ASSERT_FALSE(old.empty()) << "no old file recovered";
  const auto expected = FilesBelow(m_fixture + "/content/" + volume + "/old");
  ASSERT_EQ(expected.size(), 9u);
  EXPECT_EQ(FilesBelow(old), expected) << "every old file, at its path below the old folder, whole";
}

INSTANTIATE_TEST_SUITE_P(Volumes, FormatRecoveryEndToEnd,
                         ::testing::Values(Volume{"ntfs", true}, Volume{"fat32", true},
                                           Volume{"ext2", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Only the picture types ticked, over a volume whose file system is gone: no partition is found, the
// carved pictures are shown under "Raw Files" (and nothing else is carved) and come back whole.
TEST_F(FormatRecoveryEndToEnd, WithOnlyPicturesTickedTheCarvedPicturesComeBackWhole) {
  StartProgram("pictures");
  ASSERT_NO_FATAL_FAILURE(OpenDevicePage(true, false, false, "format-recovery-pictures"));
  ASSERT_NO_FATAL_FAILURE(Search("pictures", false, ""));
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  ASSERT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
  CFileNode* root = FileTree();
  ASSERT_NE(root, nullptr);
  CFileNode* raw = nullptr;
  for (CFileNode* child = root->GetFirstChild(); child; child = child->GetNextSibling())
    if (NameOf(child) == "Raw Files") raw = child;
  ASSERT_NE(raw, nullptr) << "a \"Raw Files\" folder";
  SaveScreenshot(frame->grab().toImage(), "format-recovery-raw-files-page");
  const fs::path top = RecoverTicked(raw, "format-recovery-result-pictures");
  ASSERT_FALSE(top.empty());
  EXPECT_EQ(ContentsBelow(top), ContentsBelow(m_fixture + "/content/pictures/pictures"))
      << "every picture whole, and the archive left alone";
}

// Cancel in the search's window: the wizard stays on the device page with the volume still
// listed, and no partition page or file tree is made. Cancel in the build of the chosen partition:
// the wizard stays on the partition page with its rows, and no file tree is made.
TEST_F(FormatRecoveryEndToEnd, CancelInTheSearchOrTheBuildStaysOnThePageBefore) {
  StartProgram("fat32");
  ASSERT_NO_FATAL_FAILURE(OpenDevicePage(false, true, true, ""));
  // The search's window is handed over just before its search starts: it is shown and Cancel is
  // pressed there, so the search stops at its first block however quickly it would run.
  int searchWindows = 0;
  const WholeDeviceSearchHook previousSearch =
      SetWholeDeviceSearchHook([&](CIntelligentSearchingDlg& dialog) {
        ++searchWindows;
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        auto* cancel = corvale::ui::FindControl<QAbstractButton>(&dialog, corvale::ui::kIdCancel);
        ASSERT_NE(cancel, nullptr);
        QTest::mouseClick(cancel, Qt::LeftButton, {}, QPoint(5, 5));
        SaveScreenshot(dialog.grab().toImage(), "dialog-intelligent-searching-cancelling");
      });
  ClickNext();
  SetWholeDeviceSearchHook(previousSearch);
  ASSERT_EQ(searchWindows, 1);
  EXPECT_EQ(questions, std::vector<std::string>{"Do you want to stop searching?"});
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_TRUE(frame->isEnabled());
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryPartitionDeviceSelect);
  EXPECT_EQ(DevicePage()->GetDeviceSelectCtrl()->GetCount(), 1) << "the page stays as it was";
  EXPECT_TRUE(GetCompleteRecoveryScanPartitionDeviceSelectController()->Results().found.empty());
  EXPECT_EQ(FileTree(), nullptr);

  // Searched to the end this time; then the build cancelled.
  questions.clear();
  ASSERT_NO_FATAL_FAILURE(Search("fat32", true, ""));
  ASSERT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  const int rows = PartitionsPage()->GetPartitionCount();
  ASSERT_GE(rows, 1);
  // The build's window is handed over once shown, before the build starts: Cancel is pressed there.
  int buildWindows = 0;
  const SearchBuildHook previous = SetSearchBuildHook([&](CBuildDirectoryDlg& dialog) {
    ++buildWindows;
    SaveScreenshot(dialog.grab().toImage(), "format-recovery-dialog-build-directory");
    QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
  });
  ClickNext();
  SetSearchBuildHook(previous);
  ASSERT_EQ(buildWindows, 1);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0], "Abort Building?");
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_TRUE(frame->isEnabled());
  EXPECT_EQ(sheet->GetCurrentPageIndex(), CompleteRecoveryScanPartitionDeviceSelect);
  EXPECT_EQ(PartitionsPage()->GetPartitionCount(), rows) << "the page stays as it was";
  EXPECT_EQ(FileTree(), nullptr);
}

}  // namespace

#endif
