#pragma once
// Page 0, the welcome page: the welcome picture and the buttons that start a recovery. Start begins
// a partition recovery (mode 2): disk, lost-partition search, partitions, files. The two buttons
// beside it begin a deleted-file recovery (command 1000, mode 0) and a format recovery (command 1001,
// mode 1). Each command stores the mode in the recovery settings, then tells the controller, which
// moves on to the file-type page at once.
//
// The page can show a description of a recovery in its lower band (SetPrompt); the picture already
// describes all three, so no button asks for it.
//
// The picture keeps its proportions: in a smaller window it is drawn smaller, never cut, and the
// buttons stay in a row below it, clear of the bottom bar, each under its recovery's card.

#include <cstdint>
#include <string>

#include "controls/ButtonPlus.h"
#include "controls/MaskedBitmap.h"
#include "wizard/WizardPage.h"

class IRecoveryModeSelectController;
class QFrame;

class CRecoveryModeSelectPage : public CWizardPage, public IButtonPromptChange {
  Q_OBJECT

 public:
  static constexpr int kCommandDeleted = 1000;
  static constexpr int kCommandFormat = 1001;
  static constexpr int kCommandStart = 1002;
  static constexpr int kHelpTopic = 15;
  static constexpr int kEventFormat = 8213;
  static constexpr int kEventStart = 8240;
  // Construction results: allocation, welcome picture, comment picture, texts.
  static constexpr int kInitNoPicture = 269;
  static constexpr int kInitNoComment = 271;
  static constexpr int kInitNoText = 272;

  // `commentBitmap` is the picture whose size places the description text.
  explicit CRecoveryModeSelectPage(uint32_t commentBitmap, QWidget* parent = nullptr);

  void SetController(IRecoveryModeSelectController* controller);
  IWizardPageController* GetController() override;
  int GetHelpContextId(int language) override;
  void Layout(int cx, int cy) override;
  void Draw(QPainter* dc) override;
  // Commands 1000, 1001 and 1002: start the recovery of mode 0, 1 and 2.
  bool OnCommand(int commandId) override;

  void SetPrompt(int controlId, const std::string& prompt) override;
  void RestorePrompt(int controlId) override;

  CButtonPlus* StartButton() const { return m_start; }
  // The button of command 1000 or 1001 (or 1002, Start), or null.
  CButtonPlus* ModeButton(int commandId) const;
  // The welcome picture as the page shows it.
  QWidget* Picture() const { return m_picture; }
  const std::string& CurrentPrompt() const { return m_prompt; }
  // The description drawn for prompt `prompt`: empty for the title line or an unknown text.
  std::string DescriptionFor(const std::string& prompt) const;
  QRect DescriptionRect() const;
  int InitResult() const { return m_initResult; }

 private:
  CButtonPlus* MakeModeButton(int commandId, uint32_t normal, uint32_t hover, uint32_t push,
                              uint32_t disable);

  IRecoveryModeSelectController* m_controller = nullptr;
  CMaskedBitmap m_comment;
  CMaskedBitmap m_background;
  CButtonPlus* m_start = nullptr;
  CButtonPlus* m_deleted = nullptr;
  CButtonPlus* m_format = nullptr;
  QWidget* m_picture = nullptr;
  QFrame* m_buttonRow = nullptr;
  std::string m_defaultPrompt;
  std::string m_prompt;
  QRect m_descriptionBand;
  int m_initResult = 0;
};
