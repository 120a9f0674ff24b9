#pragma once
// The frames that show the last two wizard pages as modal windows. Each borrows its page window,
// shows it filling its client area and gives it back to its former parent when it closes.
//
// The target-folder frame adds OK and Cancel picture buttons below the page. OK asks the check it
// was given (the save controller's validation of the folder) and closes only when that accepts;
// Cancel and the close box close it. No key closes either frame: every key goes to the page.
//
// Both are laid out by a column: the page takes the room, the target-folder frame's buttons stand
// in a button box below it (Cancel, then OK at the right). The templates' sizes are their least
// sizes, in dialog units of the frame's font.

#include <QPointer>
#include <functional>

#include "controls/SearchSuperDlg.h"

class CButtonPlus;
class QDialogButtonBox;
class QVBoxLayout;

class CPageFrameDlg : public CSearchSuperDlg {
  Q_OBJECT

 public:
  CPageFrameDlg(int templateId, QWidget* parent);
  ~CPageFrameDlg() override;

  // Borrows `page` when it differs from the page now borrowed: hides it and remembers its parent.
  void AttachPage(QWidget* page);
  QWidget* Page() const { return m_page; }

 protected:
  // The template's size (in dialog units) as the frame's least and first size.
  void SetTemplateSize(int cx, int cy);
  QVBoxLayout* Column() const { return m_column; }
  void showEvent(QShowEvent* event) override;
  void done(int result) override;
  bool event(QEvent* event) override;
  void GiveBack();

 private:
  QVBoxLayout* m_column = nullptr;
  QPointer<QWidget> m_page;
  QPointer<QWidget> m_formerParent;
  bool m_shown = false;
};

class CSaveFilePathDlg : public CPageFrameDlg {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 499;

  explicit CSaveFilePathDlg(QWidget* parent = nullptr);
  ~CSaveFilePathDlg() override;

  // The check OK runs; true closes the frame with Accepted.
  void SetAcceptCheck(std::function<bool()> check) { m_check = std::move(check); }
  // Runs when the page is shown, before the frame is seen (the page empties its folder).
  void SetOnShow(std::function<void()> onShow) { m_onShow = std::move(onShow); }

  CButtonPlus* OkButton() const { return m_ok; }
  CButtonPlus* CancelButton() const { return m_cancel; }
  QDialogButtonBox* ButtonBox() const { return m_buttons; }
  void OnOK();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QDialogButtonBox* m_buttons = nullptr;
  CButtonPlus* m_ok = nullptr;
  CButtonPlus* m_cancel = nullptr;
  std::function<bool()> m_check;
  std::function<void()> m_onShow;
};

class CSaveFileResultDlg : public CPageFrameDlg {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 501;
  explicit CSaveFileResultDlg(QWidget* parent = nullptr);
};
