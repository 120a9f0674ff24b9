// Every command of the file page reached the way a person reaches it: the tool row's Advanced
// Search and Export Result buttons, the View / Select / Deselect / State buttons above the file
// list, the right-click menus of a file, of a search result, of a folder and of a volume, and
// Alt+Enter. Clicks and keys go to the real widgets; menus and dialogs are answered on the screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "controls/AttributesStates.h"
#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "controls/FileListCtrl.h"
#include "controls/FileSelectCtrlContainer.h"
#include "controls/FileTreeCtrl.h"
#include "controls/Formatting.h"
#include "controls/TabCtrlPlus.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileSystemEngine.h"
#include "core/MyFileProperties.h"
#include "dialogs/FindFileDlg.h"
#include "dialogs/PropertiesDlg.h"
#include "dialogs/SearchFileDlg.h"
#include "storage/ImageFileDevice.h"
#include "wizard/FileSelectPage.h"
#include "wizard/WizardHarness.h"
#include "wizard/controller/FileSelectController.h"

using corvale::test::WizardHarness;

namespace {

std::string NameOf(const CFileNode* node) {
  const IFileProperties* p = node != nullptr ? node->GetFileProperties() : nullptr;
  return p != nullptr ? p->GetName() : std::string();
}

CFileNode* Child(CFileNode* folder, const std::string& name) {
  for (CFileNode* c = folder->GetFirstChild(); c != nullptr; c = c->GetNextSibling())
    if (NameOf(c) == name) return c;
  return nullptr;
}

// Runs `step` on each turn of the event loop until it answers true: for modal dialogs and menus.
void Whenever(std::function<bool()> step) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, step] {
    if (step()) timer->deleteLater(), timer->stop();
  });
  timer->start();
}

// Once a popup menu is up: keeps its texts, leaves a picture of it and clicks the item `text`.
void ClickInNextMenu(const QString& text, std::vector<std::string>* items, const std::string& screenshot) {
  Whenever([=] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr || !menu->isVisible()) return false;
    QAction* wanted = nullptr;
    if (items != nullptr) items->clear();
    for (QAction* action : menu->actions()) {
      if (items != nullptr) items->push_back(action->isSeparator() ? "-" : action->text().toStdString());
      if (action->text() == text) wanted = action;
    }
    if (!screenshot.empty()) corvale::test::SaveScreenshot(menu->grab().toImage(), screenshot);
    if (wanted != nullptr)
      QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(wanted).center());
    else
      menu->close();
    return true;
  });
}

// A right click on `at` of a view's viewport as the window system hands it over: the press, which
// selects the row, then the context-menu request.
void RightClick(QAbstractItemView* view, const QPoint& at) {
  QTest::mouseClick(view->viewport(), Qt::RightButton, {}, at);
  QContextMenuEvent request(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
  QApplication::sendEvent(view->viewport(), &request);
}

// The rows of a property dialog as "name=value".
std::vector<std::string> RowsOf(CPropertiesDlg& dialog) {
  std::vector<std::string> rows;
  QTreeWidget* list = dialog.List();
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    rows.push_back((list->topLevelItem(i)->text(0) + "=" + list->topLevelItem(i)->text(1)).toStdString());
  return rows;
}

std::string ValueOf(const std::vector<std::string>& rows, const std::string& name) {
  for (const std::string& row : rows)
    if (row.rfind(name + "=", 0) == 0) return row.substr(name.size() + 1);
  return "(none)";
}

class FilePageControls : public WizardHarness {
 protected:
  void SetUp() override {
    WizardHarness::SetUp();
    page = static_cast<CFileSelectPage*>(sheet->GetPage(FileSelect));
  }
  void TearDown() override {
    GetFileSelectController()->Cleanup();
    WizardHarness::TearDown();
  }

  // The tree of the volume image at `path`, built by its engine, under a root, shown on the page.
  CFileSystemNode* ShowVolume(const std::string& path) {
    device = std::make_unique<CImageFileDevice>(path);
    CFileSystemNode* partition = nullptr;
    for (const FileSystemEngine& e : FileSystemEngines())
      if (partition == nullptr && e.buildTree && e.Recognises(*device, 0))
        partition = e.buildTree(*device, 0, nullptr);
    EXPECT_NE(partition, nullptr) << path;
    if (partition == nullptr) return nullptr;
    CFileSystemNode* root = CreateFileSystemNode();
    root->SetName("Root");
    MyFileInfo info;
    info.name = "Root";
    info.attributes = kAttributeFolder;
    info.validMask = 0x7F;
    root->SetFileProperties(new CMyFileProperties(info));
    root->AddChild(partition);
    partition->RecountSummary();
    root->RecountSummary();
    GetFileSelectController()->SetPreviousController(GetPageController(DeleteRecoveryPartitionDeviceSelect));
    GetFileSelectController()->SetDirectoryTree(root, device.get());
    GetFileSelectController()->Activate();
    EXPECT_EQ(sheet->GetCurrentPageIndex(), FileSelect);
    frame->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    return root;
  }

  CFileTreeCtrl* Tree() { return page->Tree(); }
  CFileListCtrl* List() { return page->List(); }

  // The centre of the name cell of `row` in the report view of `list`, in its viewport.
  static QPoint RowPoint(CFileListCtrl* list, int row) {
    const QRect cell = list->ReportView()->visualRect(list->Model()->index(row, 0));
    return cell.center() + QPoint(20, 0);
  }
  static int RowOf(CFileListCtrl* list, const std::string& name) {
    for (int row = 0; row < list->RowCount(); ++row)
      if (NameOf(list->GetNodeAt(row)) == name) return row;
    return -1;
  }
  // Shows the folder `node` by clicking its row in the tree.
  void ClickFolder(CFileNode* node) {
    QModelIndex item;
    ASSERT_TRUE(Tree()->FindNodeItem(node, &item));
    CTreeCtrlPlus* view = Tree()->GetTreeCtrl();
    view->scrollTo(item);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center() + QPoint(20, 0));
    ASSERT_EQ(Tree()->GetItemData(Tree()->GetSelectedItem()), node);
  }
  // Clicks one of the four buttons above `list`.
  static void ClickListButton(CFileListCtrl* list, int command) {
    CButtonPlus* button = list->Button(command);
    ASSERT_NE(button, nullptr) << command;
    ASSERT_TRUE(button->isVisible()) << command;
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
  }

  // Alt and `key` (Return, or Enter of the keypad) pressed in `widget` of the active main window.
  void PressAltEnter(QWidget* widget, Qt::Key key) {
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    widget->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), widget);
    QTest::keyClick(widget, key, Qt::AltModifier);
  }

  // Opens the next property dialog's rows into `rows` (with a picture of it) and closes it.
  void ReadNextProperties(std::vector<std::string>* rows, std::string* title, const std::string& screenshot) {
    Whenever([=] {
      auto* dialog = qobject_cast<CPropertiesDlg*>(QApplication::activeModalWidget());
      if (dialog == nullptr || !dialog->isVisible()) return false;
      *rows = RowsOf(*dialog);
      *title = dialog->windowTitle().toStdString();
      if (!screenshot.empty()) corvale::test::SaveScreenshot(dialog->grab().toImage(), screenshot);
      QTest::keyClick(dialog, Qt::Key_Escape);
      return true;
    });
  }

  CFileSelectPage* page = nullptr;
  std::unique_ptr<CImageFileDevice> device;
};

}  // namespace

// Advanced Search in the tool row opens the search; the criteria are typed and clicked in, the
// files found fill the result tab, and its right-click "Locate in the main list" shows the file in
// its folder.
TEST_F(FilePageControls, AdvancedSearchByEveryCriterionAndLocateInTheMainList) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  CFileSystemNode* root = ShowVolume(dir + "/ext2.img");
  ASSERT_NE(root, nullptr);
  corvale::test::SaveScreenshot(sheet->grab().toImage(), "file-page-tool-row");
  ASSERT_TRUE(page->SearchFilesButton()->isVisible());
  EXPECT_EQ(page->SearchFilesButton()->geometry().top(), page->PreviewButton()->geometry().top());
  EXPECT_GT(page->SearchFilesButton()->geometry().left(), page->PreviewButton()->geometry().left());

  // Plain text, named *note*, in the last 12 months, under 1 KB, case sensitive: note1 to note3.
  // A second run with "NOTE" then finds nothing, as the case must match.
  int typeRow = -1;
  const auto& types = CSearchFileDlg::SystemFileTypes();
  for (size_t i = 2; i < types.size() && typeRow < 0; ++i)
    if ((";" + types[i].second + ";").find(";.txt;") != std::string::npos) typeRow = static_cast<int>(i);
  ASSERT_GT(typeRow, 1) << "no file type of .txt";
  const auto fillIn = [typeRow](CSearchFileDlg* dialog, const char* name, bool screenshot) {
    auto* nameEdit = corvale::ui::FindControl<QLineEdit>(dialog, CSearchFileDlg::kIdName);
    QTest::mouseClick(nameEdit, Qt::LeftButton);
    QTest::keyClick(nameEdit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(nameEdit, name);
    auto* autoSelect = corvale::ui::FindControl<QCheckBox>(dialog, CSearchFileDlg::kIdAutoSelect);
    if (!autoSelect->isChecked())
      QTest::mouseClick(autoSelect, Qt::LeftButton, {}, QPoint(5, autoSelect->height() / 2));
    for (int id : {CSearchFileDlg::kIdCheckType, CSearchFileDlg::kIdCheckDate, CSearchFileDlg::kIdCheckSize,
                   CSearchFileDlg::kIdCheckOther}) {
      auto* header = corvale::ui::FindControl<QCheckBox>(dialog, id);
      if (!header->isChecked())
        QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(5, header->height() / 2));
      EXPECT_TRUE(header->isChecked()) << id;
    }
    // The type: its name typed into the list, which goes to the entry that starts so.
    auto* typeList = corvale::ui::FindControl<QComboBox>(dialog, CSearchFileDlg::kIdTypeList);
    typeList->setFocus();
    QTest::keyClicks(typeList, QString::fromStdString(CSearchFileDlg::SystemFileTypes()[typeRow].first));
    EXPECT_EQ(typeList->currentIndex(), typeRow);
    // In the last 12 months.
    auto* inMonths = corvale::ui::FindControl<QRadioButton>(dialog, CSearchFileDlg::kIdInMonths);
    QTest::mouseClick(inMonths, Qt::LeftButton, {}, QPoint(5, inMonths->height() / 2));
    auto* months = corvale::ui::FindControl<QSpinBox>(dialog, CSearchFileDlg::kIdMonths);
    QTest::mouseClick(months, Qt::LeftButton);
    QTest::keyClick(months, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(months, "12");
    EXPECT_EQ(months->value(), 12);
    // Less than 1 KB.
    auto* size = corvale::ui::FindControl<QSpinBox>(dialog, CSearchFileDlg::kIdSizeKb);
    QTest::mouseClick(size, Qt::LeftButton);
    QTest::keyClick(size, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(size, "1");
    EXPECT_EQ(size->value(), 1);
    auto* caseSensitive = corvale::ui::FindControl<QCheckBox>(dialog, CSearchFileDlg::kIdCaseSensitive);
    if (!caseSensitive->isChecked())
      QTest::mouseClick(caseSensitive, Qt::LeftButton, {}, QPoint(5, caseSensitive->height() / 2));
    EXPECT_TRUE(caseSensitive->isChecked());
    if (screenshot)
      corvale::test::SaveScreenshot(dialog->grab().toImage(), "dialog-search-files-every-criterion");
    for (CButtonPlus* b : dialog->findChildren<CButtonPlus*>())
      if (b->ControlId() == corvale::ui::kIdOk) QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
  };

  boxes.clear();
  Whenever([&] {
    auto* dialog = qobject_cast<CSearchFileDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return false;
    fillIn(dialog, "NOTE", false);
    EXPECT_TRUE(dialog->isVisible()) << "nothing found keeps the dialog open";
    fillIn(dialog, "note", true);
    if (dialog->isVisible()) dialog->reject();
    return true;
  });
  QTest::mouseClick(page->SearchFilesButton(), Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("No files match specific criteria."), std::string::npos);
  CTabCtrlPlus* tabs = page->Tabs();
  ASSERT_EQ(tabs->GetTabCount(), 2);
  EXPECT_EQ(tabs->GetCurTab(), 1);
  EXPECT_EQ(tabs->GetTabText(1),
            CFileSelectPage::SearchTabText(QString::fromStdString(types[static_cast<size_t>(typeRow)].first)))
      << "the tab is named after the type";
  CFileListCtrl* results = page->ResultList();
  std::multiset<std::string> found;
  for (int row = 0; row < results->RowCount(); ++row) {
    found.insert(NameOf(results->GetNodeAt(row)));
    EXPECT_EQ(results->GetNodeAt(row)->GetFileProperties()->GetCheckState(), kChecked);
  }
  EXPECT_EQ(found, (std::multiset<std::string>{"note1.txt", "note2.txt", "note3.txt"}));
  corvale::test::SaveScreenshot(sheet->grab().toImage(), "file-page-advanced-search-results");

  // A right click on note2.txt among the results: its menu has Locate; Locate shows it in docs.
  const int row = RowOf(results, "note2.txt");
  ASSERT_GE(row, 0);
  CFileNode* note2 = results->GetNodeAt(row);
  std::vector<std::string> items;
  ClickInNextMenu(QStringLiteral("Locate in the main list"), &items, "file-page-result-menu");
  RightClick(results->ReportView(), RowPoint(results, row));
  EXPECT_EQ(items,
            (std::vector<std::string>{"Preview", "Recovery", "Locate in the main list", "Properties", "-",
                                      "Find file by name...", "Search files...", "Export Result..."}));
  EXPECT_EQ(tabs->GetCurTab(), 0);
  EXPECT_EQ(page->SelectedFile(), note2);
  EXPECT_EQ(Tree()->GetItemData(Tree()->GetSelectedItem()), note2->GetParent());
  EXPECT_EQ(NameOf(note2->GetParent()), "docs");
  corvale::test::SaveScreenshot(sheet->grab().toImage(), "file-page-located-in-main-list");

  // The search opens from a file's right-click menu too, and Find from the same menu.
  bool searchShown = false;
  ClickInNextMenu(QStringLiteral("Search files..."), nullptr, "file-page-file-menu");
  Whenever([&] {
    auto* dialog = qobject_cast<CSearchFileDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return false;
    searchShown = true;
    dialog->reject();
    return true;
  });
  RightClick(List()->ReportView(), RowPoint(List(), List()->GetFirstSelectedItem()));
  EXPECT_TRUE(searchShown);
  bool findShown = false;
  ClickInNextMenu(QStringLiteral("Find file by name..."), nullptr, "");
  Whenever([&] {
    auto* dialog = qobject_cast<CFindFileDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return false;
    findShown = true;
    dialog->reject();
    return true;
  });
  RightClick(List()->ReportView(), RowPoint(List(), List()->GetFirstSelectedItem()));
  EXPECT_TRUE(findShown);
}

// The list beside the tree has View, Select, Deselect and State above it, as the result list has.
TEST_F(FilePageControls, TheMainListsButtonsSwitchTheViewTickUntickAndShowTheLegend) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  CFileSystemNode* root = ShowVolume(dir + "/fat.img");
  ASSERT_NE(root, nullptr);
  CFileNode* docs = Child(root->GetFirstChild(), "docs");
  ASSERT_NE(docs, nullptr);
  ClickFolder(docs);
  const int rows = List()->RowCount();
  ASSERT_GE(rows, 5);
  for (int command : {CFileListCtrl::kCommandView, CFileListCtrl::kCommandSelect,
                      CFileListCtrl::kCommandDeselect, CFileListCtrl::kCommandState}) {
    CButtonPlus* button = List()->Button(command);
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isVisible());
    EXPECT_LE(button->geometry().bottom(), List()->ReportView()->geometry().top()) << "above the rows";
  }

  // View: the menu drops down under the button; Thumbnail, then List.
  std::vector<std::string> items;
  ClickInNextMenu(QStringLiteral("Thumbnail"), &items, "file-list-view-menu");
  ClickListButton(List(), CFileListCtrl::kCommandView);
  EXPECT_EQ(items, (std::vector<std::string>{"List", "Thumbnail"}));
  EXPECT_EQ(List()->Mode(), CFileListCtrl::kThumbnails);
  EXPECT_TRUE(List()->ThumbnailView()->isVisible());
  corvale::test::SaveScreenshot(sheet->grab().toImage(), "file-page-main-list-thumbnails");
  ClickInNextMenu(QStringLiteral("List"), nullptr, "");
  ClickListButton(List(), CFileListCtrl::kCommandView);
  EXPECT_EQ(List()->Mode(), CFileListCtrl::kReport);
  EXPECT_TRUE(List()->ReportView()->isVisible());

  // Select ticks every listed file, Deselect unticks them; the selection line follows.
  ClickListButton(List(), CFileListCtrl::kCommandSelect);
  uint64_t bytes = 0;
  for (int row = 0; row < rows; ++row) {
    EXPECT_EQ(List()->GetNodeAt(row)->GetFileProperties()->GetCheckState(), kChecked) << row;
    bytes += List()->GetNodeAt(row)->GetFileProperties()->GetSize();
  }
  EXPECT_EQ(page->SelectionText().toStdString(), "Selected " + FormatByteSize(static_cast<int64_t>(bytes)) +
                                                     " in " + std::to_string(rows) + " files");
  corvale::test::SaveScreenshot(sheet->grab().toImage(), "file-page-main-list-buttons");
  ClickListButton(List(), CFileListCtrl::kCommandDeselect);
  for (int row = 0; row < rows; ++row)
    EXPECT_EQ(List()->GetNodeAt(row)->GetFileProperties()->GetCheckState(), kNotChecked) << row;
  EXPECT_NE(page->SelectionText().toStdString().find(" in 0 files"), std::string::npos);

  // State: the legend of the letters and marks; the list stays as it was.
  bool legend = false;
  Whenever([&] {
    auto* dialog = qobject_cast<CAttributesStates*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return false;
    legend = dialog->windowTitle() == "About States";
    corvale::test::SaveScreenshot(dialog->grab().toImage(), "dialog-about-states-from-main-list");
    dialog->reject();
    return true;
  });
  ClickListButton(List(), CFileListCtrl::kCommandState);
  EXPECT_TRUE(legend);
  EXPECT_EQ(List()->RowCount(), rows);
}

// Properties of a file (its right-click menu, Alt+Enter in the list), of a folder and of the
// volume (their right-click menu in the tree, Alt+Enter in the tree), with the rows of a FAT volume.
TEST_F(FilePageControls, PropertiesOfAFileAFolderAndAVolumeFromTheirMenusAndAltEnter) {
  CORVALE_FIXTURE(dir, "files_page_volumes.sh", "files_page_volumes");
  CFileSystemNode* root = ShowVolume(dir + "/fat.img");
  ASSERT_NE(root, nullptr);
  CFileNode* volume = root->GetFirstChild();
  ASSERT_NE(volume, nullptr);
  CFileNode* docs = Child(volume, "docs");
  ASSERT_NE(docs, nullptr);
  ClickFolder(docs);
  const int row = RowOf(List(), "note1.txt");
  ASSERT_GE(row, 0);

  // A file: right click, "Properties".
  std::vector<std::string> rows;
  std::string title;
  std::vector<std::string> items;
  ClickInNextMenu(QStringLiteral("Properties"), &items, "file-page-file-context-menu");
  ReadNextProperties(&rows, &title, "dialog-properties-file");
  RightClick(List()->ReportView(), RowPoint(List(), row));
  EXPECT_EQ(items, (std::vector<std::string>{"Preview", "Recovery", "Properties", "-", "Find file by name...",
                                             "Search files...", "Export Result..."}));
  EXPECT_EQ(title, "Properties");
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows[0].rfind("Sector Per Cluster=", 0), 0u) << rows[0];
  EXPECT_EQ(ValueOf(rows, "Name"), "note1.txt");
  EXPECT_NE(ValueOf(rows, "Parent"), "(none)");
  EXPECT_EQ(ValueOf(rows, "Deleted"), "No");
  EXPECT_NE(ValueOf(rows, "Lay out"), "(none)");
  const std::vector<std::string> fileRows = rows;

  // The same file by Alt+Enter in the list.
  rows.clear();
  ReadNextProperties(&rows, &title, "");
  PressAltEnter(List()->ReportView(), Qt::Key_Return);
  EXPECT_EQ(rows, fileRows);

  // A deleted file says so.
  int gone = -1;
  for (int r = 0; r < List()->RowCount() && gone < 0; ++r)
    if (List()->GetNodeAt(r)->GetFileProperties()->GetTypeWord() & 0x0001) gone = r;
  ASSERT_GE(gone, 0) << "the FAT volume lists its deleted files";
  ClickInNextMenu(QStringLiteral("Properties"), nullptr, "");
  ReadNextProperties(&rows, &title, "");
  RightClick(List()->ReportView(), RowPoint(List(), gone));
  EXPECT_EQ(ValueOf(rows, "Deleted"), "Yes");

  // A folder: right click on docs in the tree.
  CTreeCtrlPlus* view = Tree()->GetTreeCtrl();
  QModelIndex item;
  ASSERT_TRUE(Tree()->FindNodeItem(docs, &item));
  rows.clear();
  ClickInNextMenu(QStringLiteral("Properties"), &items, "file-tree-context-menu");
  ReadNextProperties(&rows, &title, "dialog-properties-folder");
  RightClick(view, view->visualRect(item).center() + QPoint(20, 0));
  EXPECT_EQ(items, (std::vector<std::string>{"Properties"}));
  EXPECT_EQ(ValueOf(rows, "Name"), "docs");
  EXPECT_NE(ValueOf(rows, "Cluster"), "(none)");
  EXPECT_NE(ValueOf(rows, "Sector"), "(none)");
  const std::vector<std::string> folderRows = rows;

  // The volume: right click on its row at the top of the tree, then Alt+Enter there.
  const QModelIndex top = Tree()->Model()->index(0, 0);
  ASSERT_EQ(Tree()->GetItemData(top), volume);
  rows.clear();
  ClickInNextMenu(QStringLiteral("Properties"), nullptr, "");
  ReadNextProperties(&rows, &title, "dialog-properties-volume");
  RightClick(view, view->visualRect(top).center() + QPoint(20, 0));
  ASSERT_GE(rows.size(), 2u);
  uint64_t start = 0;
  uint32_t perCluster = 0;
  ASSERT_TRUE(volume->GetPosition(start, perCluster));
  EXPECT_EQ(rows[0], "Sector Per Cluster=" + std::to_string(perCluster));
  EXPECT_EQ(rows[1], "Start Sector=" + std::to_string(start));
  EXPECT_EQ(ValueOf(rows, "Name"), NameOf(volume));
  const std::vector<std::string> volumeRows = rows;
  rows.clear();
  ReadNextProperties(&rows, &title, "");
  PressAltEnter(view, Qt::Key_Return);
  EXPECT_EQ(rows, volumeRows) << "Alt+Enter in the tree shows the current folder's";

  // Back on docs in the tree: Alt+Enter gives the folder's rows.
  ClickFolder(docs);
  rows.clear();
  ReadNextProperties(&rows, &title, "");
  PressAltEnter(view, Qt::Key_Enter);
  EXPECT_EQ(rows, folderRows);
}
