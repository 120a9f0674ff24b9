#include "wizard/controller/SaveFileController.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "controls/Formatting.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "dialogs/RecoveringDlg.h"
#include "platform/FolderWalk.h"
#include "platform/Log.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/RefusedLink.h"
#include "ui/Resources.h"
#include "ui/RunReport.h"
#include "wizard/SaveFilePage.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/SaveResultController.h"

using corvale::ui::LoadStringResource;

namespace {

// File-system magic numbers of read-only media.
constexpr long kIso9660Magic = 0x9660;
constexpr long kUdfMagic = 0x15013346;

// Makes and removes a file in the opened folder `folder`; false when either fails. The test file
// never replaces a file of the user's: a name that is taken gives way to one of our own.
bool WriteTest(int folder) {
  std::string name = CSaveFileController::kWriteTestName;
  int fd = platform::CreateFileIn(folder, name, O_WRONLY, 0600);
  for (unsigned attempt = 0; fd < 0 && errno == EEXIST && attempt < 100; ++attempt) {
    name = std::string(CSaveFileController::kWriteTestName) + "." + std::to_string(::getpid()) + "." +
           std::to_string(attempt);
    fd = platform::CreateFileIn(folder, name, O_WRONLY, 0600);
  }
  if (fd < 0) return false;
  ::close(fd);
  return ::unlinkat(folder, name.c_str(), 0) == 0;
}

// Ticked files of the tree that are stored encrypted.
uint32_t CountTickedEncrypted(CFileNode* root) {
  uint32_t count = 0;
  if (root == nullptr) return 0;
  WalkSubtree(root, [&](CFileNode* node) {
    const IFileProperties* p = node->GetFileProperties();
    if (p != nullptr && !p->IsFolder() && p->GetCheckState() == kChecked &&
        (p->GetAttributes() & kAttributeEncrypted) != 0)
      ++count;
  });
  return count;
}

}  // namespace

CSaveFileController* GetSaveFileController() {
  static auto* controller = new CSaveFileController;
  return controller;
}

void CSaveFileController::Activate() {
  if (CWizardSheet* sheet = GetWizardSheet()) sheet->ShowPage(SaveFile);
}

void CSaveFileController::Home() {
  Cleanup();
  if (m_previous) m_previous->Home();
}

void CSaveFileController::Back() {
  Cleanup();
  if (m_previous) m_previous->Back();
}

int CSaveFileController::GetRecoveryKind() {
  return m_previous ? m_previous->GetRecoveryKind() : kRecoveryKindNone;
}

std::string CSaveFileController::GetResultString(int i) {
  return i >= 0 && i < GetResultStringCount() ? m_results[static_cast<size_t>(i)] : std::string();
}

void CSaveFileController::SetFileTree(CFileNode* root, IStorageDevice* source) {
  m_root = root;
  m_source = source;
  uint64_t bytes = 0;
  int files = 0;
  if (root != nullptr) {
    WalkSubtree(root, [&](CFileNode* node) {
      const IFileProperties* p = node->GetFileProperties();
      if (p == nullptr || p->IsFolder() || p->GetCheckState() != kChecked) return;
      ++files;
      bytes += p->GetSize();
    });
  }
  if (m_page != nullptr) {
    m_page->SetRecoveryTotals(bytes, files);
    m_page->ResetTargetFolder();
  }
}

int CSaveFileController::ValidateTargetFolder(const std::string& path, std::string* refusedLink) {
  if (path.size() > kMaxPathLength) return kPathTooLong;
  if (path.empty()) return kNoFolder;
  if (path.size() < 2) return kInvalidPath;
  std::string folder = path;
  if (folder.back() != '/') folder += '/';
  if (folder.find("/.") != std::string::npos) return kInvalidPath;
  if (folder.front() != '/') return kNotAbsolute;
  if (folder.find_first_of("*?:\"<>|") != std::string::npos) return kInvalidSymbol;
  folder.pop_back();

  // The folder is made by the recovery when it does not exist yet: its nearest existing folder
  // must take it. It is opened as the recovery opens it, and every check looks at that folder.
  const platform::FolderWalk walk = platform::WalkToFolder(folder, platform::MissingFolders::kStop);
  if (!walk.ok()) {
    if (walk.RefusedALink()) {
      LogError("Target folder %s refused: %s", path.c_str(), walk.Describe().c_str());
      if (refusedLink != nullptr) *refusedLink = walk.refusedLink;
      return kUntrustedLink;
    }
    if (walk.error == EIO) return kNotReady;
    if (walk.error == ENOTDIR) return kInvalidPath;
    return kNoSuchDrive;
  }
  const int at = walk.fd.Get();
  struct statvfs vfs {};
  if (::fstatvfs(at, &vfs) != 0) return errno == EIO ? kNotReady : kNoSuchDrive;
  if ((vfs.f_flag & ST_RDONLY) != 0) return kNotWritable;
  struct statfs fs {};
  if (::fstatfs(at, &fs) == 0 && (fs.f_type == kIso9660Magic || fs.f_type == kUdfMagic)) return kNotWritable;
  if (!WriteTest(at)) return kNotWritable;
  return kFolderOk;
}

uint32_t CSaveFileController::TargetFolderMessageId(int code) {
  if (code >= kNoDisk && code <= kNoFolder) return static_cast<uint32_t>(147 + code);
  if (code == kUntrustedLink) return corvale::ui::kStringRefusedLink;
  return 160;
}

void CSaveFileController::ShowTargetFolderError(int code, const std::string& refusedLink) {
  if (code == kFolderOk) return;
  const bool exclamation = code == kInvalidPath || code == kNotAbsolute || code == kInvalidParameter ||
                           code == kInvalidSymbol || code == kUntrustedLink || code < kNoDisk ||
                           code > kUntrustedLink;
  const std::string text = code == kUntrustedLink
                               ? corvale::ui::RefusedLinkText(refusedLink)
                               : LoadStringResource(TargetFolderMessageId(code)).toStdString();
  corvale::ui::ShowMessageBox(
      text, GetProductTitle(),
      exclamation ? corvale::ui::MessageIcon::Warning : corvale::ui::MessageIcon::Information);
}

bool CSaveFileController::CheckTargetFolder() {
  if (m_page == nullptr) return false;
  const std::string path = m_page->GetTargetFolder();
  std::string refusedLink;
  const int code = ValidateTargetFolder(path, &refusedLink);
  if (code != kFolderOk) {
    ShowTargetFolderError(code, refusedLink);
    return false;
  }
  if (CFileRecoverer::IsPathOnSourceDrive(path.c_str())) {
    const auto answer =
        corvale::ui::AskMessageBox(LoadStringResource(147).toStdString(), GetProductTitle(),
                                   corvale::ui::MessageButtons::YesNo, corvale::ui::MessageIcon::Warning);
    if (answer != corvale::ui::MessageAnswer::Yes) return false;
  }
  if (CountTickedEncrypted(m_root) > 0) {
    std::string root;
    if (!GetRootPathOfPath(path.c_str(), &root) || !IsNTFSVolume(root.c_str())) {
      corvale::ui::ShowMessageBox(LoadStringResource(161).toStdString(), GetProductTitle(),
                                  corvale::ui::MessageIcon::Information);
      return false;
    }
  }
  return m_page->HasEnoughSpace();
}

bool CSaveFileController::Next() {
  const std::string path = m_page != nullptr ? m_page->GetTargetFolder() : std::string();
  LogRecoveryStatus(kStatusRestoringFiles);
  CRecoveringDlg dialog(m_root, m_source, path, nullptr, m_clock);
  dialog.DoModal();
  m_fileCount = dialog.GetFileCount();
  m_restoredCount = dialog.GetRecoveredFileCount();
  m_failedCount = dialog.GetFailedFileCount();
  // A cancel confirmed after the last file was written stopped nothing.
  m_cancelled = dialog.IsCancelled() && m_restoredCount < m_fileCount;
  LogRecoveredFileCount(m_fileCount, m_restoredCount, path.c_str());
  m_results = dialog.GetSavedFolders();

  CSaveResultController* result = GetSaveResultController();
  result->SetPreviousController(this);
  result->Activate();
  return true;
}
