#pragma once
// A caption-less notice "Please wait, scanning system..." shown while the program fills a large
// view on its own thread. The wait cursor is shown while the notice exists; when it goes, the
// cursor that was set before comes back.

#include <QLabel>

#include "controls/SearchSuperDlg.h"

class CWaitingDlg : public CSearchSuperDlg {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 265;
  static constexpr int kTextId = 1194;

  explicit CWaitingDlg(QWidget* parent = nullptr);
  ~CWaitingDlg() override;

  // Shows the notice centred on its parent and paints it at once: the thread that shows it is about
  // to be busy.
  void ShowNow();
  QLabel* TextLabel() const { return m_text; }

 private:
  QLabel* m_text = nullptr;
};
