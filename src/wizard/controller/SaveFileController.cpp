#include "wizard/controller/SaveFileController.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "controls/Formatting.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "dialogs/RecoveringDlg.h"
#include "platform/Log.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
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

// Makes and removes a file in `folder`; false when either fails. The test file never replaces a
// file of the user's: a name that is taken gives way to a unique one.
bool WriteTest(const std::string& folder) {
  std::string path = folder + "/" + CSaveFileController::kWriteTestName;
  int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 && errno == EEXIST) {
    path = folder + "/" + CSaveFileController::kWriteTestName + ".XXXXXX";
    fd = ::mkostemp(path.data(), O_CLOEXEC);
  }
  if (fd < 0) return false;
  ::close(fd);
  return ::unlink(path.c_str()) == 0;
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

int CSaveFileController::ValidateTargetFolder(const std::string& path) {
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
  // must take it.
  std::filesystem::path at(folder);
  struct stat st {};
  while (::stat(at.c_str(), &st) != 0) {
    if (errno == EIO) return kNotReady;
    if ((errno != ENOENT && errno != ENOTDIR) || !at.has_relative_path()) return kNoSuchDrive;
    at = at.parent_path();
  }
  if (!S_ISDIR(st.st_mode)) return kInvalidPath;
  struct statvfs vfs {};
  if (::statvfs(at.c_str(), &vfs) != 0) return errno == EIO ? kNotReady : kNoSuchDrive;
  if ((vfs.f_flag & ST_RDONLY) != 0) return kNotWritable;
  struct statfs fs {};
  if (::statfs(at.c_str(), &fs) == 0 && (fs.f_type == kIso9660Magic || fs.f_type == kUdfMagic))
    return kNotWritable;
  if (!WriteTest(at.string())) return kNotWritable;
  return kFolderOk;
}

uint32_t CSaveFileController::TargetFolderMessageId(int code) {
  if (code >= kNoDisk && code <= kNoFolder) return static_cast<uint32_t>(147 + code);
  return 160;
}

void CSaveFileController::ShowTargetFolderError(int code) {
  if (code == kFolderOk) return;
  const bool exclamation = code == kInvalidPath || code == kNotAbsolute || code == kInvalidParameter ||
                           code == kInvalidSymbol || code < kNoDisk || code > kNoFolder;
  corvale::ui::ShowMessageBox(
      LoadStringResource(TargetFolderMessageId(code)).toStdString(), GetProductTitle(),
      exclamation ? corvale::ui::MessageIcon::Warning : corvale::ui::MessageIcon::Information);
}

bool CSaveFileController::CheckTargetFolder() {
  if (m_page == nullptr) return false;
  const std::string path = m_page->GetTargetFolder();
  const int code = ValidateTargetFolder(path);
  if (code != kFolderOk) {
    ShowTargetFolderError(code);
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
