#include "wizard/controller/ScanState.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "core/DIRBuildCallback.h"
#include "core/RSDataEx.h"
#include "core/RSException.h"
#include "core/StateIo.h"
#include "dialogs/BuildDirectoryDlg.h"
#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "platform/StringTable.h"
#include "ui/Resources.h"
#include "wizard/WizardPageController.h"
#include "wizard/controller/FileSelectController.h"

namespace {

constexpr uint32_t kStringSaveStates = 310;
constexpr uint32_t kStringRestoreStates = 311;
constexpr uint32_t kStringSavingStates = 312;
// The longest chain a file may hold: a device, partition and scan-partition controller and the file
// controller, with room to spare.
constexpr uint32_t kMaxChainLength = 6;
constexpr int kStateTypeCount = 6;

const RSGuid& ChainGuid() {
  static const RSGuid guid = RSGuid::FromString("{6EAE44F1-5CA7-49F8-BD8D-7126D446AACA}");
  return guid;
}

std::mutex& FolderMutex() {
  static std::mutex m;
  return m;
}
std::string& FolderOverride() {
  static std::string folder;
  return folder;
}

std::array<ScanStateControllerGetter, kStateTypeCount>& Getters() {
  static std::array<ScanStateControllerGetter, kStateTypeCount> getters = [] {
    std::array<ScanStateControllerGetter, kStateTypeCount> table{};
    table[5] = [] { return static_cast<IWizardPageController*>(GetFileSelectController()); };
    return table;
  }();
  return getters;
}

ScanStateDialogHook& DialogHook() {
  static ScanStateDialogHook hook = nullptr;
  return hook;
}

int KindOf(IWizardPageController* controller) {
  if (controller == nullptr) return kRecoveryKindNone;
  const int kind = controller->GetRecoveryKind();
  return kind == kRecoveryKindComplete || kind == kRecoveryKindPartition ? kind : kRecoveryKindNone;
}

// The ids a chain of each kind may hold.
bool IdBelongsToKind(uint32_t id, int kind) {
  if (kind == kRecoveryKindComplete) return id == 0 || id == 1 || id == 5;
  if (kind == kRecoveryKindPartition) return id >= 2 && id <= 5;
  return false;
}

// Disables the program's other visible windows for the life of the object.
class DisabledWindows {
 public:
  explicit DisabledWindows(const QWidget* except) {
    for (QWidget* window : QApplication::topLevelWidgets())
      if (window != except && window->isVisible() && window->isEnabled()) {
        window->setEnabled(false);
        m_windows.emplace_back(window);
      }
  }
  ~DisabledWindows() {
    for (const QPointer<QWidget>& window : m_windows)
      if (window) window->setEnabled(true);
  }
  DisabledWindows(const DisabledWindows&) = delete;
  DisabledWindows& operator=(const DisabledWindows&) = delete;

 private:
  std::vector<QPointer<QWidget>> m_windows;
};

bool FileIsValid(const std::string& path) {
  CRSData reader(RS_MODE_READ);
  if (!reader.Open(path, 0)) return false;
  const bool valid = reader.IsValidFile();
  reader.Close();
  return valid;
}

// Makes what was written to `path` durable: its data, then the folder entry.
void SyncFileAndFolder(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  const std::string folder = std::filesystem::path(path).parent_path().string();
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

// Copies state file `from` over `to` (both in the state folder): the copy is made under a name of
// its own and renamed over `to`, so a link standing under either name is never followed.
bool CopyStateFile(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return false;
  std::string temporary = to + ".partial-XXXXXX";
  const int out = ::mkostemp(temporary.data(), O_CLOEXEC);
  bool ok = out >= 0;
  std::vector<char> buffer(1 << 20);
  while (ok) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    for (ssize_t done = 0; ok && done < got;) {
      const ssize_t put = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      ok = put > 0;
      if (ok) done += put;
    }
  }
  ::close(in);
  if (out >= 0) {
    ok = ::fsync(out) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), to.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
  }
  return ok;
}

void MarkUnfinished(const std::string& path) {
  CRSData writer(RS_MODE_WRITE);
  try {
    if (writer.Open(path, 0)) writer.SetStatus(0);
  } catch (const IRSException& e) {
    ReleaseTrace("Failed to set current controller status! Error code:%d.", e.GetCode());
  }
  writer.Close();
}

int SaveChainTo(IRSData& stream, IWizardPageController* controller, IDIRBuildCallback* progress) {
  stream.SetStatus(ScanStateStatusFor(controller->GetStateTypeId()));
  if (progress) progress->AddProgress(5);
  std::vector<IWizardPageController*> chain;
  for (IWizardPageController* c = controller; c != nullptr; c = c->GetPreviousController()) {
    if (c->GetStateTypeId() != kStateTypeNotSaved) chain.insert(chain.begin(), c);
    if (chain.size() > 64) break;  // a linked loop cannot be a chain
  }
  if (stream.BeginSection(ChainGuid())) {
    corvale::WriteU32(stream, static_cast<uint32_t>(chain.size()));
    for (IWizardPageController* c : chain)
      corvale::WriteU32(stream, static_cast<uint32_t>(c->GetStateTypeId()));
    stream.EndSection();
  }
  if (progress) progress->AddProgress(5);
  for (IWizardPageController* c : chain) {
    // A step that cannot save its part makes the whole file useless.
    if (c->SaveState(&stream, progress) == 0) return 0;
    if (progress) progress->AddProgress(10);
  }
  return 1;
}

}  // namespace

void SetScanStateFolder(const std::string& folder) {
  std::lock_guard lock(FolderMutex());
  FolderOverride() = folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

std::string ScanStateFolder() {
  {
    std::lock_guard lock(FolderMutex());
    if (!FolderOverride().empty()) return FolderOverride();
  }
  return platform::ProgramFolder();
}

// Without a program folder there are no state files: never a name in the current folder.
std::string ScanStateTempFile(int recoveryKind) {
  const std::string folder = ScanStateFolder();
  if (folder.empty()) return {};
  if (recoveryKind == kRecoveryKindComplete) return folder + "cstemp.rdf";
  if (recoveryKind == kRecoveryKindPartition) return folder + "lpstemp.rdf";
  return {};
}

std::string ScanStateLastFile(int recoveryKind) {
  const std::string folder = ScanStateFolder();
  if (folder.empty()) return {};
  if (recoveryKind == kRecoveryKindComplete) return folder + "cslast.rdf";
  if (recoveryKind == kRecoveryKindPartition) return folder + "lpslast.rdf";
  return {};
}

void RegisterScanStateController(int stateTypeId, ScanStateControllerGetter getter) {
  if (stateTypeId >= 0 && stateTypeId < kStateTypeCount) Getters()[stateTypeId] = getter;
}

IWizardPageController* ScanStateController(int stateTypeId) {
  if (stateTypeId < 0 || stateTypeId >= kStateTypeCount) return nullptr;
  ScanStateControllerGetter getter = Getters()[stateTypeId];
  return getter ? getter() : nullptr;
}

int ScanStateStatusFor(int stateTypeId) {
  switch (stateTypeId) {
    case 1:
      return 1;
    case 3:
      return 3;
    case 4:
      return 4;
    case 5:
      return 2;
    default:
      return 0;
  }
}

int ScanStateRestoreLimit(int status) {
  switch (status) {
    case 1:
      return 1;
    case 2:
      return 5;
    case 3:
      return 3;
    case 4:
      return 4;
    default:
      return 6;
  }
}

ScanStateDialogHook SetScanStateDialogHook(ScanStateDialogHook hook) {
  ScanStateDialogHook previous = DialogHook();
  DialogHook() = hook;
  return previous;
}

int SaveControllerChain(IWizardPageController* controller, IDIRBuildCallback* progress) {
  const int kind = KindOf(controller);
  if (kind == kRecoveryKindNone) return 0;
  if (progress) progress->BeginStage(corvale::LoadText(kStringSavingStates).c_str(), 100);
  const std::string path = ScanStateTempFile(kind);
  IRSData* stream = GetStateWriter();
  int result = 0;
  if (stream->Open(path, 1)) {
    try {
      result = SaveChainTo(*stream, controller, progress);
    } catch (const IRSException& e) {
      ReleaseTrace("RS Exception:%d", e.GetCode());
      result = 0;
    }
    stream->Close();
    if (result == 0) MarkUnfinished(path);
  }
  if (progress) progress->EndStage();
  return result;
}

int SaveScanState(IWizardPageController* controller, bool withDialog) {
  if (KindOf(controller) == kRecoveryKindNone) return 0;
  if (!withDialog) return SaveControllerChain(controller, nullptr);
  CBuildDirectoryDlg dialog(nullptr);
  CDIRBuildCallback callback(&dialog);
  int result = 0;
  {
    DisabledWindows disabled(&dialog);
    dialog.setWindowTitle(corvale::ui::LoadStringResource(kStringSaveStates));
    dialog.show();
    dialog.HideCancelButton();
    dialog.Refresh();
    if (DialogHook()) DialogHook()(dialog);
    // The state is written on the window's worker while this thread stays in the window's event loop.
    dialog.RunJob([&] { result = SaveControllerChain(controller, &callback); });
    dialog.hide();
  }
  return result;
}

int CommitScanState(IWizardPageController* controller) {
  const int kind = KindOf(controller);
  if (kind == kRecoveryKindNone) return 0;
  const std::string temp = ScanStateTempFile(kind);
  if (!FileIsValid(temp)) return 1;
  SyncFileAndFolder(temp);
  const std::string last = ScanStateLastFile(kind);
  if (std::rename(temp.c_str(), last.c_str()) != 0) {
    ReleaseTrace("Failed to repalce file, Error code:%d", errno);
    return 0;
  }
  SyncFileAndFolder(last);
  return 1;
}

int SetCurrentControllerStatus(IWizardPageController* controller) {
  const int kind = KindOf(controller);
  if (kind == kRecoveryKindNone) return 0;
  const std::string temp = ScanStateTempFile(kind);
  if (!std::filesystem::exists(temp)) return 0;
  IRSData* stream = GetStateWriter();
  int result = 0;
  if (stream->Open(temp, 0)) {
    try {
      stream->SetStatus(ScanStateStatusFor(controller->GetStateTypeId()));
      result = 1;
    } catch (const IRSException& e) {
      ReleaseTrace("Failed to set current controller status! Error code:%d.", e.GetCode());
    }
    stream->Close();
  }
  return result;
}

IWizardPageController* RestoreControllerChain(IWizardPageController* controller,
                                              IDIRBuildCallback* progress) {
  const int kind = KindOf(controller);
  if (kind == kRecoveryKindNone) return nullptr;
  const std::string last = ScanStateLastFile(kind);
  const std::string temp = ScanStateTempFile(kind);
  IRSData* stream = GetStateReader();
  if (!stream->Open(last, 1)) return nullptr;
  if (progress) progress->BeginStage(corvale::LoadText(kStringSavingStates).c_str(), 100);

  std::vector<IWizardPageController*> chain;
  IWizardPageController* restored = nullptr;
  bool ok = false;
  try {
    // A file whose save never finished (status 0) holds nothing to take up.
    const int status = stream->GetStatus();
    const int limit = ScanStateRestoreLimit(status);
    if (progress) progress->AddProgress(5);
    std::vector<uint32_t> ids;
    bool chainPresent = true;
    try {
      stream->BeginSection(ChainGuid());
    } catch (const IRSException& e) {
      if (e.GetCode() != RS_ERROR_NO_SUCH_SECTION) throw;
      chainPresent = false;
    }
    bool acceptable = chainPresent && status >= 1 && status <= 4;
    if (chainPresent) {
      const uint32_t count = corvale::ReadU32(*stream);
      if (count == 0 || count > kMaxChainLength) acceptable = false;
      for (uint32_t i = 0; acceptable && i < count; ++i) ids.push_back(corvale::ReadU32(*stream));
      stream->EndSection();
    }
    // Only a chain of this kind's own steps, in order, starting at the caller, can be taken up.
    if (acceptable && ids.front() != static_cast<uint32_t>(controller->GetStateTypeId())) acceptable = false;
    for (size_t i = 0; acceptable && i < ids.size(); ++i) {
      if (!IdBelongsToKind(ids[i], kind) || (i > 0 && ids[i] <= ids[i - 1])) acceptable = false;
    }
    if (acceptable) {
      for (uint32_t id : ids) {
        if (static_cast<int>(id) > limit) break;
        IWizardPageController* c = id == ids.front() ? controller : ScanStateController(static_cast<int>(id));
        if (c == nullptr) {
          chain.clear();
          break;
        }
        chain.push_back(c);
      }
      if (progress) progress->AddProgress(5);
      ok = !chain.empty();
      IWizardPageController* link = controller;
      for (IWizardPageController* c : chain) {
        if (c != link) {
          c->SetPreviousController(link);
          link = c;
        }
        if (c->RestoreState(stream, progress) == 0) {
          ok = false;
          break;
        }
        if (progress) progress->AddProgress(10);
      }
      if (ok) restored = chain.back();
    }
  } catch (const IRSException& e) {
    ReleaseTrace("Failed to restore last recvoery states. Error code:%d.", e.GetCode());
    ok = false;
  }
  stream->Close();
  if (ok) {
    if (!CopyStateFile(last, temp))
      ReleaseTrace("Failed to copy %s to %s, Error code:%d", last.c_str(), temp.c_str(), errno);
  } else {
    restored = nullptr;
    for (IWizardPageController* c : chain) {
      const int id = c->GetStateTypeId();
      if (id == 1 || id == 3 || id == 4 || id == 5) c->Cleanup();
    }
  }
  if (progress) progress->EndStage();
  return restored;
}

bool RestoreScanState(IWizardPageController* controller) {
  if (KindOf(controller) == kRecoveryKindNone) return false;
  IWizardPageController* restored = nullptr;
  {
    CBuildDirectoryDlg dialog(nullptr);
    CDIRBuildCallback callback(&dialog);
    DisabledWindows disabled(&dialog);
    dialog.setWindowTitle(corvale::ui::LoadStringResource(kStringRestoreStates));
    dialog.show();
    dialog.HideCancelButton();
    dialog.Refresh();
    if (DialogHook()) DialogHook()(dialog);
    restored = RestoreControllerChain(controller, &callback);
    dialog.hide();
  }
  if (restored) restored->Activate();
  return restored != nullptr;
}

int DeleteLastScanState(IWizardPageController* controller) {
  const int kind = KindOf(controller);
  if (kind == kRecoveryKindNone) return 0;
  return ::unlink(ScanStateLastFile(kind).c_str()) == 0 ? 1 : 0;
}

int ReadLastScanResultText(IWizardPageController* controller, char* buffer, size_t length) {
  if (buffer && length) buffer[0] = '\0';
  const int kind = KindOf(controller);
  if (kind == kRecoveryKindNone || buffer == nullptr || length == 0) return 0;
  CRSData reader(RS_MODE_READ);
  if (!reader.Open(ScanStateLastFile(kind), 0)) return 0;
  int result = 0;
  try {
    if (reader.IsValidFile()) {
      reader.GetResultText(buffer, length);
      buffer[length - 1] = '\0';
      result = 1;
    }
  } catch (const IRSException& e) {
    ReleaseTrace("Failed to get reuslt info, Error code:%d", e.GetCode());
    buffer[0] = '\0';
  }
  reader.Close();
  return result;
}

int WriteScanResultText(IRSData* stream, const char* text) {
  if (stream == nullptr) return 1;
  try {
    stream->SetResultText(text);
  } catch (const IRSException& e) {
    ReleaseTrace("Failed to set reuslt info, Error code:%d", e.GetCode());
  }
  return 1;
}
