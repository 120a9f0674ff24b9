#include "wizard/TypeOfFileToRecoveryPage.h"

#include <QPainter>
#include <QVBoxLayout>
#include <cinttypes>

#include "controls/DialogTemplate.h"
#include "platform/Log.h"
#include "platform/StringTable.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Pictures.h"
#include "wizard/TypeRecoveryTreeCtrl.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/TypeOfFileToRecoveryController.h"

namespace {
// "The file-type list %s could not be read: %s. The built-in list of file types is shown instead."
constexpr uint32_t kStringCatalogueRefused = 62001;
}  // namespace

CTypeOfFileToRecoveryPage::CTypeOfFileToRecoveryPage(QWidget* parent, const std::string& cataloguePath)
    : CWizardPage(parent) {
  m_tree = new CTypeRecoveryDrawTreeCtrl(this);
  corvale::ui::SetControlId(m_tree, kTreeControlId);
  m_tree->SetItemHeight(kItemHeight);
  m_tree->SetDefaultMouse(false);
  m_tree->SetLeftMargin(kLeftMargin);
  m_tree->CreateCategoryImageList();
  m_tree->CreateStateImageList(corvale::ui::bitmap::kCheckBoxStrip);
  // The tree fills the page from the subtitle band down to the bottom band's lower edge.
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(BandMargins());
  m_tree->setMinimumHeight(kLeastListHeight);
  layout->addWidget(m_tree);
  auto* sheet = qobject_cast<CWizardSheet*>(parent);
  if (sheet) m_tree->SetNextSwitch([sheet](bool enable) { sheet->EnableNextButton(enable); });

  const std::string path = cataloguePath.empty() ? FileTypeCatalogueFile() : cataloguePath;
  if (m_tree->LoadFileTypes(path) != 0) {
    std::string text = corvale::LoadText(kStringCatalogueRefused);
    std::string message;
    const size_t first = text.find("%s");
    const size_t second = first == std::string::npos ? first : text.find("%s", first + 2);
    if (second != std::string::npos)
      message = text.substr(0, first) + path + text.substr(first + 2, second - first - 2) +
                m_tree->LoadMessage() + text.substr(second + 2);
    else
      message = path + ": " + m_tree->LoadMessage();
    LogError("File-type catalogue %s refused: %s", path.c_str(), m_tree->LoadMessage().c_str());
    corvale::ui::ShowMessageBox(message, GetProductTitle(), corvale::ui::MessageIcon::Warning);
  }
  if (sheet) sheet->EnableNextButton(m_tree->HasCheckedType());
}

void CTypeOfFileToRecoveryPage::SetController(ITypeOfFileToRecoveryController* controller) {
  LogError("------------------------ParmInfo:ITypeOfFileToRecoveryController* pController=%" PRIxPTR,
           reinterpret_cast<uintptr_t>(controller));
  m_controller = controller;
}

IWizardPageController* CTypeOfFileToRecoveryPage::GetController() { return m_controller; }

int CTypeOfFileToRecoveryPage::GetHelpContextId(int) { return kHelpTopic; }

void CTypeOfFileToRecoveryPage::Draw(QPainter* dc) {
  // A one-pixel frame round the tree.
  dc->fillRect(m_tree->geometry().adjusted(-1, -1, 1, 1), corvale::ui::kFrameColor);
}

bool CTypeOfFileToRecoveryPage::IsAllTypesChecked() const {
  const FILE_TYPE_RECORD* root = m_tree->GetCatalogue().FindType(0);
  return root && root->checkState == 2;
}

CMapFileTypeInfo* CTypeOfFileToRecoveryPage::GetFileTypeCatalogue() { return &m_tree->GetCatalogue(); }
