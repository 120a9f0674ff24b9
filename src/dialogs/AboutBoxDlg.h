#pragma once
// The About boxes: the product picture, the product title with the version in bold, a link to the
// maker's web site and an OK button. The Chinese interface has a box of its own that also shows the
// maker's contact lines; both take their texts from the string table.

#include <QLabel>

#include "controls/HyperLink.h"
#include "controls/SearchSuperDlg.h"

class CButtonPlus;

class CAboutBoxDlg : public CSearchSuperDlg {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 487;
  static constexpr int kPictureId = 1187;
  static constexpr int kTitleId = 1141;
  static constexpr int kLinkId = 1186;

  explicit CAboutBoxDlg(QWidget* parent);

  CHyperLink* Link() const { return m_link; }
  QString TitleText() const;

 private:
  CHyperLink* m_link = nullptr;
  CButtonPlus* m_ok = nullptr;
};

class CCNAboutDlg : public CSearchSuperDlg {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 495;
  static constexpr int kTitleId = 1209;
  static constexpr int kPictureId = 1210;
  static constexpr int kLinkId = 1211;
  static constexpr int kEmailId = 1214;
  static constexpr int kTelephoneId = 1215;

  explicit CCNAboutDlg(QWidget* parent);

  CHyperLink* Link() const { return m_link; }

 private:
  CHyperLink* m_link = nullptr;
  CButtonPlus* m_ok = nullptr;
};
