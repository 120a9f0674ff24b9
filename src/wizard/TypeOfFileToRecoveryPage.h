#pragma once
// Page 10, the file-type page: the user ticks the kinds of files to look for, in a tree of
// categories and file types read from the catalogue "FileFilter.xml" beside the programs. The
// controller (controller/TypeOfFileToRecoveryController.h) reads the ticks on Next. The tree and its
// catalogue are made with the page and kept for the run, so the ticks survive going back and forth.
//
// A catalogue file that is missing or refused is reported once, with the reason, and the built-in
// catalogue is shown in its place.

#include <string>

#include "wizard/WizardPage.h"

class CMapFileTypeInfo;
class CTypeRecoveryDrawTreeCtrl;
class ITypeOfFileToRecoveryController;

class CTypeOfFileToRecoveryPage : public CWizardPage {
  Q_OBJECT

 public:
  static constexpr int kTreeControlId = 1500;
  static constexpr int kHelpTopic = 52;
  static constexpr int kItemHeight = 65;
  static constexpr int kLeftMargin = 26;

  // The page, its tree filled from the catalogue file at `cataloguePath` (by default the one beside
  // the programs). The parent, when it is the wizard sheet, gets its Next button switched by the
  // tree's ticks.
  explicit CTypeOfFileToRecoveryPage(QWidget* parent = nullptr,
                                     const std::string& cataloguePath = std::string());

  void SetController(ITypeOfFileToRecoveryController* controller);
  IWizardPageController* GetController() override;
  int GetHelpContextId(int language) override;
  void Draw(QPainter* dc) override;

  // Whether the root entry is ticked: every type wanted.
  bool IsAllTypesChecked() const;
  // The catalogue with the user's ticks.
  CMapFileTypeInfo* GetFileTypeCatalogue();
  CTypeRecoveryDrawTreeCtrl* Tree() const { return m_tree; }

 private:
  ITypeOfFileToRecoveryController* m_controller = nullptr;
  CTypeRecoveryDrawTreeCtrl* m_tree = nullptr;
};
