#pragma once
// The small dialog of the file list's State button: a legend of the letters and marks with which
// the file views show a file's attributes and states. Nothing is read back.

#include "controls/SearchSuperDlg.h"

class CAttributesStates : public CSearchSuperDlg {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 362;
  explicit CAttributesStates(QWidget* parent);
};
