#pragma once
// The preview of one recovered file, read from its temporary copy only: a Text, a Hex and an Image
// page over the same file. It opens on Image when the file decodes as a picture and on Text
// otherwise. Text and Hex share one scroll bar; switching between them keeps the same place of the
// file in view. The recover button closes the dialog and tells the owner that the user asked to
// recover the file (WasRecoverAsked).

#include <QElapsedTimer>
#include <string>

#include "controls/SearchSuperDlg.h"

class CButtonPlus;
class CHexFilePreViewEdit;
class CImageWindow;
class CTextFilePreViewEdit;
class QLabel;
class QPushButton;
class QScrollBar;
class QStackedWidget;
class QTabBar;

class CFilePreViewDlg : public CSearchSuperDlg {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 302;
  enum Tab { kTabText = 0, kTabHex = 1, kTabImage = 2 };

  explicit CFilePreViewDlg(QWidget* parent);
  ~CFilePreViewDlg() override;

  // The temporary copy and the name shown in the title; set before the dialog is shown.
  void SetFile(const std::string& path, const std::string& displayName);
  // Loads the file into the three pages and picks the first page (done on show when not called).
  void LoadFile();
  bool WasRecoverAsked() const { return m_recoverAsked; }

  int CurrentTab() const;
  void SelectTab(int tab);
  QScrollBar* ScrollBar() const { return m_bar; }
  CTextFilePreViewEdit* TextView() const { return m_text; }
  CHexFilePreViewEdit* HexView() const { return m_hex; }
  QTabBar* TabBar() const { return m_tabs; }
  CImageWindow* ImageView() const { return m_image; }
  QPushButton* FitButton() const { return m_fit; }
  QPushButton* ActualSizeButton() const { return m_actual; }
  CButtonPlus* RecoverButton() const { return m_recover; }
  // Shows the current view from the bar's position now, or at most every 100 ms unless `force`.
  void Refresh(bool force);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OnTabChanged(int tab);
  void OnBarMoved(int value);
  void SetZoom(bool fit);

  std::string m_path;
  std::string m_name;
  bool m_loaded = false;
  bool m_recoverAsked = false;
  bool m_refreshPending = false;
  bool m_barOnHex = false;  // which view the bar's position counts lines of
  QElapsedTimer m_lastRefresh;
  QTabBar* m_tabs;
  QStackedWidget* m_pages;
  CTextFilePreViewEdit* m_text;
  CHexFilePreViewEdit* m_hex;
  QScrollBar* m_bar;
  CImageWindow* m_image;
  QLabel* m_strip;
  QPushButton* m_fit;
  QPushButton* m_actual;
  CButtonPlus* m_recover;
  CButtonPlus* m_close;
};
