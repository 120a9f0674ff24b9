#pragma once
// What the end-to-end tests of the recovery modes do alike in the real main window: choose an entry
// of a device page's image menu, tick a node of the file page's tree with the mouse, go through the
// save step into a folder, and read back what was written.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "controls/ButtonPlus.h"
#include "controls/FileTreeCtrl.h"
#include "controls/ShellTreeCtrl.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "dialogs/FileSaveDlg.h"
#include "dialogs/SaveFilePathDlg.h"
#include "support/QtTestApp.h"
#include "wizard/FileSelectPage.h"
#include "wizard/SaveFilePage.h"
#include "wizard/SaveResultPage.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/SaveFileController.h"

namespace corvale::test {

inline std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Every file below `folder` by its path relative to it, with its bytes. On FAT the first letter
// of a deleted name is lost and shows as '#', so the fixture's names are given that way there.
inline std::map<std::string, std::string> FilesBelow(const std::filesystem::path& folder,
                                                     bool asFatShowsThem = false) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> files;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    fs::path relative = fs::relative(entry.path(), folder);
    if (asFatShowsThem) {
      std::string name = relative.filename().string();
      name[0] = '#';
      relative.replace_filename(name);
    }
    files[relative.string()] = ReadWhole(entry.path());
  }
  return files;
}

// Clicks the "Disk Image..." button of device page `page` and chooses the menu entry `text`; the
// window that entry opens (a `Wizard`) is kept as a screenshot `screenshotPrefix` + `text` and
// handed to `drive`, which leads it to its end. Without `drive` the entry opens no window.
template <typename Wizard, typename Page>
void RunImageMenu(Page* page, const char* text, std::function<void(Wizard&)> drive,
                  const std::string& screenshotPrefix = "image-e2e-") {
  bool driven = false;
  page->SetMenuRunner([&](QMenu& menu, const QPoint&) -> QAction* {
    for (QAction* action : menu.actions())
      if (action->text() == text) {
        if (!drive) {
          driven = true;
          return action;
        }
        QTimer::singleShot(0, [&] {
          auto* wizard = qobject_cast<Wizard*>(QApplication::activeModalWidget());
          ASSERT_NE(wizard, nullptr);
          SaveScreenshot(wizard->grab().toImage(), screenshotPrefix + text);
          drive(*wizard);
          driven = true;
        });
        return action;
      }
    return nullptr;
  });
  QTest::mouseClick(page->ImageMenuButton(), Qt::LeftButton, {}, QPoint(5, 5));
  page->SetMenuRunner(nullptr);
  EXPECT_TRUE(driven) << text;
}

// Ticks `node` in the file page's tree pane with the mouse and waits until the tick has spread and
// `window` is enabled again.
inline void TickInTree(CFileSelectPage* files, CFileNode* node, QWidget* window) {
  QModelIndex item;
  ASSERT_TRUE(files->Tree()->FindNodeItem(node, &item));
  CTreeCtrlPlus* view = files->Tree()->GetTreeCtrl();
  view->scrollTo(item);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->CheckRect(item).center());
  for (int i = 0; i < 6000 && node->GetFileProperties()->GetCheckState() != kChecked; ++i) QTest::qWait(10);
  ASSERT_EQ(node->GetFileProperties()->GetCheckState(), kChecked);
  for (int i = 0; i < 6000 && !window->isEnabled(); ++i) QTest::qWait(10);
}

struct SaveStepOutcome {
  int targetWindows = 0;
  std::string outcome;  // the result window's outcome line
};

// Next on the file page: in the target window the folder `target` is chosen in its tree and OK
// pressed; the result window's picture is kept as `screenshot` and it is closed with OK. The
// runner set before is put back.
inline SaveStepOutcome SaveTickedFiles(CWizardSheet* sheet, const std::string& target,
                                       const std::string& screenshot) {
  SaveStepOutcome result;
  SaveDialogRunner previous = SetSaveDialogRunner([&](QDialog& dialog) {
    if (auto* window = qobject_cast<CSaveFilePathDlg*>(&dialog)) {
      QTimer::singleShot(0, window, [&, window] {
        ++result.targetWindows;
        auto* page = GetSaveFileController()->GetPage();
        EXPECT_TRUE(page->Tree()->SelectPath(QString::fromStdString(target)));
        QTest::mouseClick(window->OkButton(), Qt::LeftButton, {}, QPoint(5, 5));
        if (window->isVisible()) QTest::mouseClick(window->CancelButton(), Qt::LeftButton, {}, QPoint(5, 5));
      });
    } else if (auto* done = qobject_cast<CSaveFileResultDlg*>(&dialog)) {
      QTimer::singleShot(0, done, [&, done] {
        auto* page = static_cast<CSaveResultPage*>(done->Page());
        result.outcome = page->Panel()->Text(CFileSaveDlg::kIdOutcome).toStdString();
        SaveScreenshot(done->grab().toImage(), screenshot);
        QTest::mouseClick(page->OkButton(), Qt::LeftButton, {}, QPoint(5, 5));
      });
    }
    return dialog.exec();
  });
  QTest::mouseClick(sheet->FileNextButton(), Qt::LeftButton, {}, QPoint(5, 5));
  SetSaveDialogRunner(previous);
  return result;
}

}  // namespace corvale::test
