#pragma once
// The controller of the file-type page (page 10). On Next it turns the ticked file types into the
// set of wanted extensions that the engines ask (platform/FileTypeExtensionSet.h) and into the list
// of RAW types to carve in the recovery settings, writes the recovery's mode line to the run report,
// reports how long the user spent on the page, and hands over to the first device step of the mode:
// the volume page (mode 0), the device page (mode 1) or the disk page (mode 2).

#include <chrono>
#include <cstdint>
#include <vector>

#include "wizard/WizardPageController.h"

class CFileTypeExtensionSet;
class CTypeOfFileToRecoveryPage;

class ITypeOfFileToRecoveryController : public IWizardPageController {
 public:
  virtual void SetRecoveryMode(int mode) = 0;
  virtual int GetRecoveryMode() = 0;
};

class CTypeOfFileToRecoveryController : public ITypeOfFileToRecoveryController {
 public:
  // Usage events of Next, by mode.
  static constexpr int kEventNext[3] = {8195, 8214, 8241};

  void Activate() override;
  void Home() override;
  void Back() override;
  bool Next() override;
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }
  int GetRecoveryKind() override;
  void Cleanup() override {}
  void SetRecoveryMode(int mode) override { m_mode = mode; }
  int GetRecoveryMode() override { return m_mode; }

  void SetPage(CTypeOfFileToRecoveryPage* page) { m_page = page; }
  CTypeOfFileToRecoveryPage* GetPage() const { return m_page; }

  // The RAW type ids 1..73 whose extension (".JPG" for JPG) `set` accepts, ascending; all of them
  // for an empty set (every type wanted).
  static std::vector<int32_t> ChooseRawFileTypes(const CFileTypeExtensionSet& set);

 private:
  CTypeOfFileToRecoveryPage* m_page = nullptr;
  int m_mode = 0;
  IWizardPageController* m_previous = nullptr;
  std::chrono::steady_clock::time_point m_activated{};
};

CTypeOfFileToRecoveryController* GetTypeOfFileToRecoveryController();
