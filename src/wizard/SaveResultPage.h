#pragma once
// Page 5, the result page, shown inside the modal result window rather than in the sheet: a banner,
// the result panel (the outcome, the number of files recovered, a link to the folder) and OK.

#include <string>
#include <vector>

#include "wizard/WizardPage.h"

class CButtonPlus;
class CFileSaveDlg;
class CSaveFilePage;
class ISaveResultController;

class CSaveResultPage : public CWizardPage {
  Q_OBJECT

 public:
  static constexpr int kOkId = 1019;
  static constexpr int kHelpTopic = 27;
  static constexpr uint32_t kBanner = 448;

  explicit CSaveResultPage(QWidget* parent = nullptr);

  void SetController(ISaveResultController* controller);
  IWizardPageController* GetController() override;
  int GetHelpContextId(int language) override;
  void Draw(QPainter* dc) override;

  // The results the panel shows, set before ShowResult; `cancelled` when the user stopped the run.
  void SetResult(std::string targetPath, int fileCount, int recoveredCount, std::vector<std::string> lines,
                 bool cancelled = false);
  // Fills the result panel.
  void ShowResult();
  // Takes the results of the save page and shows them in the modal result window over `owner`.
  void RunInDialog(QWidget* owner, CSaveFilePage* from);

  CFileSaveDlg* Panel() const { return m_panel; }
  CButtonPlus* OkButton() const { return m_ok; }

 private:
  ISaveResultController* m_controller = nullptr;
  CFileSaveDlg* m_panel = nullptr;
  CButtonPlus* m_ok = nullptr;
  std::string m_target;
  int m_fileCount = 0;
  int m_recovered = 0;
  bool m_cancelled = false;
  std::vector<std::string> m_lines;
};
