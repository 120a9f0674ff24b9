#pragma once
// "Search files": searches the found tree by name, type, date, size, case and encryption, may tick
// every file found, and hands the files found back to the caller. The window is a stack of small
// parts: the name and location part, four check-box headers each followed by the option part it
// shows or hides, and the OK/Cancel part. Whether an option takes part in the search depends only on
// its header's check box; hidden options keep their values.

#include <QDateTime>
#include <string>
#include <utility>
#include <vector>

#include "controls/SearchSuperDlg.h"
#include "find/SearchMatcher.h"

class CFileNode;
class CFileSystemNode;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QTimeEdit;

class CSearchFileDlg : public CSearchSuperDlg {
  Q_OBJECT

 public:
  // The help topic of the file page and its search dialogs, opened by F1.
  static constexpr int kHelpTopic = 23;
  static constexpr int kTemplate = 251;
  // The parts, top to bottom.
  enum Part {
    kBasic,
    kCheckType,
    kType,
    kCheckDate,
    kDate,
    kCheckSize,
    kSize,
    kCheckOther,
    kOther,
    kDoSearch,
    kPartCount
  };
  enum PartState { kShown = 1, kHidden = 2 };
  // Controls.
  static constexpr int kIdName = 1061;
  static constexpr int kIdAutoSelect = 1063;
  static constexpr int kIdLocation = 1065;
  static constexpr int kIdCheckType = 1066;
  static constexpr int kIdCheckDate = 1069;
  static constexpr int kIdCheckSize = 1070;
  static constexpr int kIdCheckOther = 1071;
  static constexpr int kIdTypeList = 1090;
  static constexpr int kIdDateKind = 1072;
  static constexpr int kIdInMonths = 1073;
  static constexpr int kIdInDays = 1074;
  static constexpr int kIdRange = 1075;
  static constexpr int kIdFromDate = 1076;
  static constexpr int kIdFromTime = 1077;
  static constexpr int kIdToDate = 1078;
  static constexpr int kIdToTime = 1079;
  static constexpr int kIdSizeKind = 1080;
  static constexpr int kIdMonths = 1081;
  static constexpr int kIdDays = 1083;
  static constexpr int kIdSizeKb = 1085;
  static constexpr int kIdCaseSensitive = 1087;
  static constexpr int kIdIncludeEncrypted = 1088;

  // The file types offered: a type name and its extensions joined by ";". The first two take every
  // file ("*").
  using FileTypes = std::vector<std::pair<std::string, std::string>>;
  static const FileTypes& SystemFileTypes();

  // `owner` ticks the files (auto select); the search looks below `folder` or a folder above it.
  CSearchFileDlg(CFileSystemNode* owner, CFileNode* folder, CSearchResult* result, QWidget* parent);

  // What the criteria were, for the caller's tab ("*" when the name was empty, or the type's name).
  QString GetNamePattern() const {
    return m_displayPattern.isEmpty() ? QStringLiteral("*") : m_displayPattern;
  }

  // Reads the controls into criteria; false (after the message) when a field is refused.
  bool BuildCriteria(SearchCriteria* criteria, const QDateTime& now);
  // OK: builds the criteria, searches, and ends the dialog when something was found.
  void DoSearch();

  QWidget* PartWidget(Part part) const { return m_parts[part]; }
  PartState PartStateOf(Part part) const { return m_states[part]; }
  // Shows or hides an option part and stacks the parts again.
  void TogglePart(Part part);
  // Stacks the shown parts and sizes the window to them.
  void LayoutParts();
  // The height the parts take (the window adds its caption).
  int PartsHeight() const;

  // The path text of a node: ancestors' names each followed by "\", a node named "Root" left out.
  static QString PathText(const CFileNode* node);

 private:
  QWidget* MakeBasic();
  QWidget* MakeHeader(const QString& text, int id, Part option);
  QWidget* MakeType();
  QWidget* MakeDate();
  QWidget* MakeSize();
  QWidget* MakeOther();
  QWidget* MakeDoSearch();
  void FillLocations(CFileNode* folder);
  void EnableDateFields();

  CFileSystemNode* m_owner;
  CSearchResult* m_result;
  QString m_displayPattern;
  QWidget* m_parts[kPartCount] = {};
  PartState m_states[kPartCount] = {};
  QLineEdit* m_name = nullptr;
  QCheckBox* m_autoSelect = nullptr;
  QComboBox* m_location = nullptr;
  QCheckBox* m_checks[4] = {};
  QComboBox* m_typeList = nullptr;
  QComboBox* m_dateKind = nullptr;
  QRadioButton* m_inMonths = nullptr;
  QRadioButton* m_inDays = nullptr;
  QRadioButton* m_range = nullptr;
  QSpinBox* m_months = nullptr;
  QSpinBox* m_days = nullptr;
  QDateEdit* m_fromDate = nullptr;
  QTimeEdit* m_fromTime = nullptr;
  QDateEdit* m_toDate = nullptr;
  QTimeEdit* m_toTime = nullptr;
  QComboBox* m_sizeKind = nullptr;
  QSpinBox* m_sizeKb = nullptr;
  QCheckBox* m_caseSensitive = nullptr;
  QCheckBox* m_includeEncrypted = nullptr;
};
