#pragma once
// The base of the pages that pick the source of a recovery from a device list: the list with its
// frame, and under it the check box "Manually select historical partitions", which shows and sets
// the recovery's manual-partition-selection flag. A page of this kind adds a Refresh button and a
// strip beside it above the list; its controller fills the list.
//
// Laid out as a column: a row above the list (Refresh, the strip running to the row's end, and the
// "Disk Image..." button, or on the lost-partition page the Full Scan box), the list taking the
// height, and the check box in the bottom band.

#include <cstdint>
#include <functional>
#include <string>

#include "wizard/WizardPage.h"

class CButtonPlus;
class CDeviceSelectCtrl;
class CTransButton;
class IWizardPageController;
class QAction;
class QBoxLayout;
class QMenu;
class QPushButton;

// What the format-recovery and partition-recovery device pages ask of their controller besides
// the wizard's buttons.
class IDeviceSelectPageController {
 public:
  virtual ~IDeviceSelectPageController() = default;
  // The same controller as the wizard knows it.
  virtual IWizardPageController* GetWizardController() = 0;
  // Empties the list and collects the devices again.
  virtual void StartDeviceCollection() = 0;
  // Remembers the list's selected row; false when none is selected.
  virtual bool SelectCurrentItem() = 0;
  virtual bool IsImageSelected() = 0;
  // Takes the selected disk image out of the list and closes it.
  virtual void CloseSelectedImage() = 0;
  // Takes the saved scan result out of the list and deletes its file.
  virtual void RemovePreviousRecoveryItem() = 0;
  // "Disk Image": an image of the selected volume (or disk).
  virtual void CreateImageOfSelected() = 0;
  // "Open Disk Image".
  virtual void OpenImage() = 0;
};

class CDeviceSelectPage : public CWizardPage {
  Q_OBJECT

 public:
  static constexpr int kDeviceControlId = 1200;
  static constexpr int kCheckBoxId = 1010;
  static constexpr int kStripId = 200;
  // Commands of the image menu and the row menu.
  static constexpr int kCommandCreateImage = 32771;
  static constexpr int kCommandOpenImage = 32772;
  static constexpr int kCommandRemoveImage = 32773;
  static constexpr int kCommandOpenRawImage = 32777;

  explicit CDeviceSelectPage(QWidget* parent = nullptr);

  CDeviceSelectCtrl* GetDeviceSelectCtrl() const { return m_device; }
  CTransButton* ManualSelectionBox() const { return m_checkBox; }

  void Draw(QPainter* dc) override;
  // Draws what a page adds over the frame; nothing here.
  virtual void DrawExtra(QPainter* dc);

  // How a menu is shown and an entry chosen; null runs it at the given point. Tests choose.
  using MenuRunner = std::function<QAction*(QMenu& menu, const QPoint& at)>;
  void SetMenuRunner(MenuRunner runner) { m_menuRunner = std::move(runner); }
  // How the saved result file to load is asked for; null shows the open-file dialog. Tests answer.
  using OpenPathAsker = std::function<std::string(const std::string& filter)>;
  static OpenPathAsker SetOpenPathAsker(OpenPathAsker asker);

  // True when the list's selected row is the saved scan result offered for continuing (a row
  // without data).
  bool IsSavedResultItemSelected() const;
  // The button beside Refresh that opens the image menu; null on a page without one.
  QPushButton* ImageMenuButton() const { return m_imageButton; }
  // Where the image menu opens: under its button.
  QPoint ImageMenuPoint() const;

 protected:
  // For the pages that offer images and saved results (format and partition recovery).
  void SetDeviceController(IDeviceSelectPageController* controller) { m_deviceController = controller; }
  // The row menu: "Continue" for the saved result, else "Recover" (command `recoverId`), and
  // "Remove" when a disk image or the saved result is selected.
  void ShowRecoverySourceItemMenu(const QPoint& at, int recoverId);
  // The image menu: "Disk Image", "Open Disk Image", "Delete Image", greyed as the selection allows.
  // The "Disk Image..." menu. With a nonzero `loadCommand` it also offers loading a saved result
  // (an .rsf file), which then sends that command to the page.
  void ShowImageMenu(const QPoint& at, int loadCommand = 0);
  // "Remove" / "Delete Image": the saved result is removed with its file, an image is closed.
  void RemoveSelectedItem();
  // Loads a saved result bundle (".rsf") into the state folder, makes it the last scan and
  // collects the devices again so the list offers it. False when nothing was loaded.
  bool LoadSavedResult();
  // Handles the commands shared by the image and row menus; false for another command.
  bool OnDeviceCommand(int commandId);

  void showEvent(QShowEvent* event) override;
  // Makes the Refresh button (command `refreshId`) and the strip beside it.
  void CreateRefreshBar(int refreshId);
  CButtonPlus* RefreshButton() const { return m_refresh; }
  // Makes the "Disk Image..." button (command `menuId`) that opens the image menu, level with
  // Refresh, against the list's right edge.
  void CreateImageMenuButton(int menuId);
  // The row above the list, for what a page puts there.
  QBoxLayout* TopRow() const { return m_topRow; }

 private:
  CDeviceSelectCtrl* m_device = nullptr;
  CTransButton* m_checkBox = nullptr;
  CButtonPlus* m_refresh = nullptr;
  CButtonPlus* m_strip = nullptr;
  QPushButton* m_imageButton = nullptr;
  QBoxLayout* m_topRow = nullptr;
  IDeviceSelectPageController* m_deviceController = nullptr;
  MenuRunner m_menuRunner;

 protected:
  QAction* RunMenu(QMenu& menu, const QPoint& at);
};
