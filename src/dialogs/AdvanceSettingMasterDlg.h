#pragma once
// The "Option" dialog: four pages (FAT, NTFS, Common, RAW) of engine options, switched by a row of
// picture tabs. It copies the options of the settings object when it opens and writes them back
// only on OK; Cancel leaves the settings as they were (except the RAW type list, which Default
// refills at once while the type tree is on).
//
// Mode 0 is the opening of most pages: "Recover RAW files only" is off and cannot be changed.
// Mode 1 is the opening of the device pages, where it can. The type tree can be used only while the
// tree switch is on (it is, unless the opener turns it off) and RAW files are recovered.

#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

#include "controls/SearchSuperDlg.h"
#include "platform/RecoveryContext.h"

class QGridLayout;
class QVBoxLayout;
class CAdvanceSettingPropSheet;
class CButtonPlus;
class CRawFileTypeTreeCtrl;
class QCheckBox;
class QLabel;
class QLineEdit;

// The options a page edits, copied from and to the settings object.
struct AdvanceSettingValues {
  RecoveryCommonOptions Common;
  RecoveryFatOptions Fat;
  RecoveryNtfsOptions Ntfs;
  int32_t RecoverRawFiles = 1;
  int32_t RawFilesOnly = 0;
  int64_t MaxRawFileSize = 50000000;
  std::vector<int32_t>* RawFileTypes = nullptr;  // the settings object's own list
};

// What every page has: a white background, a flag telling that it was made, and the three steps
// the dialog asks of it.
class CAdvanceSettingPage : public QWidget {
  Q_OBJECT

 public:
  CAdvanceSettingPage(int templateId, AdvanceSettingValues& values, QWidget* parent);
  int TemplateId() const { return m_templateId; }
  bool IsInitialised() const { return m_initialised; }
  // Shows the values on the controls.
  virtual void LoadValues() = 0;
  // Reads the controls into the values (OK).
  virtual void StoreValues() = 0;
  // Puts the controls to their defaults (Default).
  virtual void SetDefaults() = 0;

 protected:
  // A check box with the page's bold font (hidden boxes keep their value but are not shown).
  // The page's controls stand in a column, in the order they are added.
  QCheckBox* AddCheck(int id, const char* text, bool visible = true);
  // An explanation beside a note picture, indented under the check box above it.
  void AddNote(int pictureId, const char* text);
  QVBoxLayout* PageLayout() const { return m_layout; }
  void MarkInitialised() { m_initialised = true; }

  AdvanceSettingValues& m_values;
  QVBoxLayout* m_layout = nullptr;

 private:
  int m_templateId;
  bool m_initialised = false;
};

class CAdvanceSettingFATPage : public CAdvanceSettingPage {
  Q_OBJECT
 public:
  CAdvanceSettingFATPage(AdvanceSettingValues& values, QWidget* parent);
  void LoadValues() override;
  void StoreValues() override;
  void SetDefaults() override;

 private:
  std::array<QCheckBox*, 5> m_checks{};
};

class CAdvanceSettingNTFSPage : public CAdvanceSettingPage {
  Q_OBJECT
 public:
  CAdvanceSettingNTFSPage(AdvanceSettingValues& values, QWidget* parent);
  void LoadValues() override;
  void StoreValues() override;
  void SetDefaults() override;

 private:
  std::array<QCheckBox*, 3> m_checks{};
};

class CAdvanceSettingCommonPage : public CAdvanceSettingPage {
  Q_OBJECT
 public:
  CAdvanceSettingCommonPage(AdvanceSettingValues& values, QWidget* parent);
  void LoadValues() override;
  void StoreValues() override;
  void SetDefaults() override;

 private:
  QCheckBox* m_bootRecords = nullptr;
  QCheckBox* m_partitionTables = nullptr;
  QCheckBox* m_extensiveSearch = nullptr;
  QCheckBox* m_ignoreBadSectors = nullptr;
};

class CAdvanceSettingRAWPage : public CAdvanceSettingPage {
  Q_OBJECT
 public:
  // The OLE, PDF and ZIP ids that files of other types are found inside.
  static constexpr int32_t kOleId = 44;
  static constexpr int32_t kPdfId = 46;
  static constexpr int32_t kZipId = 68;

  CAdvanceSettingRAWPage(AdvanceSettingValues& values, QWidget* parent);
  void SetMode(int mode) { m_mode = mode; }
  void SetTreeSwitch(int on) { m_treeSwitch = on; }
  void LoadValues() override;
  void StoreValues() override;
  void SetDefaults() override;

  CRawFileTypeTreeCtrl* Tree() const { return m_tree; }
  QCheckBox* RecoverRawCheck() const { return m_recoverRaw; }
  QCheckBox* RawOnlyCheck() const { return m_rawOnly; }
  QLineEdit* SizeEdit() const { return m_size; }

  // The type ids the types ticked in the tree stand for, in tree order, followed by the ids of the
  // containers such files are found in unless `addContainers` is false.
  static std::vector<int32_t> RawTypesOf(const CRawFileTypeTreeCtrl& tree, bool addContainers);
  // Fills a tree with the categories and their types.
  static void FillTree(CRawFileTypeTreeCtrl& tree);

 private:
  void OnRecoverRawClicked();
  void OnSizeEdited();
  void EnableControls();

  CRawFileTypeTreeCtrl* m_tree = nullptr;
  QCheckBox* m_recoverRaw = nullptr;
  QCheckBox* m_rawOnly = nullptr;
  QLineEdit* m_size = nullptr;
  int m_mode = 0;
  int m_treeSwitch = 1;
};

class CAdvanceSettingMasterDlg : public CSearchSuperDlg {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 298;
  static constexpr int kDefaultId = 1109;
  static constexpr int kHelpTopic = 46;
  // The tab buttons, in the order of the row.
  static constexpr int kTabFat = 1128;
  static constexpr int kTabNtfs = 1174;
  static constexpr int kTabCommon = 1175;
  static constexpr int kTabRaw = 1177;

  CAdvanceSettingMasterDlg(int mode, QWidget* parent);
  ~CAdvanceSettingMasterDlg() override;

  // The tree switch (0 or 1) of the RAW page; on unless turned off before the dialog runs.
  void SetRawTreeSwitch(int on);
  int Mode() const { return m_mode; }

  // The page of a tab button's id, and the page shown.
  CAdvanceSettingPage* PageOfTab(int tabId) const;
  CAdvanceSettingPage* CurrentPage() const;
  CButtonPlus* Button(int id) const;
  CAdvanceSettingFATPage* FatPage() const { return m_fat; }
  CAdvanceSettingNTFSPage* NtfsPage() const { return m_ntfs; }
  CAdvanceSettingCommonPage* CommonPage() const { return m_common; }
  CAdvanceSettingRAWPage* RawPage() const { return m_raw; }
  // The property sheet made with the dialog; it is never shown.
  CAdvanceSettingPropSheet* PropSheet() const { return m_sheet; }

  // Shows the page of tab `tabId`.
  void ShowTab(int tabId);
  void OnDefault();
  void accept() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QRect PageRect() const;

  int m_mode;
  AdvanceSettingValues m_values;
  CAdvanceSettingNTFSPage* m_ntfs = nullptr;
  CAdvanceSettingFATPage* m_fat = nullptr;
  CAdvanceSettingRAWPage* m_raw = nullptr;
  CAdvanceSettingCommonPage* m_common = nullptr;
  std::vector<CButtonPlus*> m_buttons;
  // The pages share one cell: the one shown fills it.
  QGridLayout* m_pageGrid = nullptr;
  CAdvanceSettingPropSheet* m_sheet = nullptr;
  bool m_started = false;
};
