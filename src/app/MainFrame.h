#pragma once
// The program's only top-level window and the view inside it that holds the wizard sheet. The
// window's client area is 1000 x 700 pixels; on the welcome page it keeps that size, on every other
// page the user may resize it, down to the least size at which every page is still usable (what
// the pages' layouts need), so that it also fits a small screen.

#include <QMainWindow>
#include <QPointer>
#include <QSize>

#include "wizard/WizardFrame.h"
#include "wizard/WizardSheet.h"
#include "wizard/WizardSheetController.h"

// The main window's client view: it carries the sheet and the sheet controller, each given to the
// other, and keeps the sheet as large as itself.
class CChildView : public QWidget {
  Q_OBJECT

 public:
  // The pane number of the view in the main window.
  static constexpr int kControlId = 59648;

  CChildView(IWizardFrame* frame, QWidget* parent);
  ~CChildView() override;

  CWizardSheet* GetWizardSheet() const { return m_sheet; }
  CWizardSheetController& SheetController() { return m_sheetController; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPointer<CWizardSheet> m_sheet;
  CWizardSheetController m_sheetController;
};

class CMainFrame : public QMainWindow, public IWizardFrame {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 1000;
  static constexpr int kClientHeight = 700;

  CMainFrame();
  ~CMainFrame() override;

  CChildView* ChildView() const { return m_view; }
  bool IsWindowResizable() const { return m_resizable; }
  // The least size at which every page of the wizard is usable.
  QSize MinimumUsableSize() const;

  void SetWindowResizable(bool resizable) override;
  void BringToForeground() override;
  void CloseWithoutAsking() override;

  // Opens help topic `topic` (the help request of the program's windows).
  void OpenHelpTopic(int topic);

  // The commands of the window's shortcut keys.
  static constexpr int kCommandOpen = 32777;
  static constexpr int kCommandCopy = 57634;
  static constexpr int kCommandCut = 57635;
  static constexpr int kCommandPaste = 57637;
  static constexpr int kCommandUndo = 57643;
  static constexpr int kCommandNextPane = 57680;
  static constexpr int kCommandPreviousPane = 57681;
  // Carries out command `id` as its shortcut key does.
  void OnCommand(int id);

 protected:
  // Closing asks first, unless the program itself closes the window.
  void closeEvent(QCloseEvent* event) override;

 private:
  void AddShortcuts();

  bool m_closeWithoutAsking = false;
  CChildView* m_view = nullptr;
  // The window may be resized; set at first, as the window is made before the sheet shows a page.
  bool m_resizable = true;
  QSize m_createdSize;
};
