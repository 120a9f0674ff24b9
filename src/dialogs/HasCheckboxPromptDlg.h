#pragma once
// A hint with an information icon, an OK button and the check box "Don't show this message
// again.". The answer is 1 only when OK was pressed with the box ticked; closing the hint any other
// way answers 0, so the hint is shown again next time.

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <string>

#include "controls/SearchSuperDlg.h"

class CHasCheckboxPromptDlg : public CSearchSuperDlg {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 446;
  static constexpr int kMessageId = 1192;
  static constexpr int kIconId = 1193;
  static constexpr int kCheckBoxId = 1139;

  CHasCheckboxPromptDlg(const std::string& message, QWidget* parent = nullptr);

  // 1 when the box was ticked as OK was pressed, else 0.
  int GetAnswer() const { return m_answer; }

  QCheckBox* CheckBox() const { return m_checkBox; }
  QPushButton* OkButton() const { return m_ok; }
  QLabel* MessageLabel() const { return m_message; }

 protected:
  void accept() override;

 private:
  QLabel* m_message = nullptr;
  QCheckBox* m_checkBox = nullptr;
  QPushButton* m_ok = nullptr;
  int m_answer = 0;
};
