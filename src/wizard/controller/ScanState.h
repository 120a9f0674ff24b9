#pragma once
// Scan-state files: a complete or partition recovery keeps the state of the controller chain that
// produced its result in a state file of the program folder, so that a long scan can be taken up
// again later. Each kind has a temporary file, written whenever a tree or a partition list is
// reached, and a last file, which the device page offers as the previous recovery. Deleted-file
// recovery (and a controller of no recovery kind) never touches these files: every operation
// given such a controller does nothing and reports failure.
//
// A file holds, after its header, the chain section (the state type ids of the saved controllers
// from the first to the current one) and then each saved controller's own sections in the same
// order. A chain read back is accepted only when it starts with the controller restoring it, its
// ids rise strictly and all belong to that controller's kind; anything else is a failed restore.

#include <cstddef>
#include <string>

class IDIRBuildCallback;
class IRSData;
class IWizardPageController;
class CBuildDirectoryDlg;

// The folder the files live in: the program folder unless set (tests point it at a scratch folder;
// an empty text goes back to the program folder). Ends in '/'.
void SetScanStateFolder(const std::string& folder);
std::string ScanStateFolder();
// The temporary and last file of a recovery kind; empty for a kind that keeps no state.
std::string ScanStateTempFile(int recoveryKind);
std::string ScanStateLastFile(int recoveryKind);

// The controller a state type id denotes on restore. The file-select controller (id 5) is known
// from the start; the device, partition and scan-partition controllers register themselves.
using ScanStateControllerGetter = IWizardPageController* (*)();
void RegisterScanStateController(int stateTypeId, ScanStateControllerGetter getter);
IWizardPageController* ScanStateController(int stateTypeId);

// The header status written for a current controller of state type `stateTypeId`, and the highest
// state type id restored from a file of header status `status`.
int ScanStateStatusFor(int stateTypeId);
int ScanStateRestoreLimit(int status);

// Saves the chain ending at `controller` into the temporary file: on this thread, or with the
// dialog ("Save recovery states") on the dialog's worker while this thread stays in the dialog's
// event loop. 1 on success. A save that fails part way leaves the file with status 0, so it is
// never committed.
int SaveScanState(IWizardPageController* controller, bool withDialog);
int SaveControllerChain(IWizardPageController* controller, IDIRBuildCallback* progress);

// A valid temporary file replaces the last file. 1 when there was nothing valid to move or the move
// succeeded, 0 when it failed.
int CommitScanState(IWizardPageController* controller);

// Writes the status of `controller` into the existing temporary file. 1 on success.
int SetCurrentControllerStatus(IWizardPageController* controller);

// Restores the chain of the last file under the dialog ("Restore previous recovery"), on this
// thread, and activates the controller restored last. True when one was restored.
bool RestoreScanState(IWizardPageController* controller);
// The restore itself: links and restores each controller of the chain from `controller` on; the
// last one restored, or null when the file is missing, damaged or its chain not acceptable (then
// every scan-partition, partition and file controller listed has been cleaned up). On success the
// last file is copied over the temporary file.
IWizardPageController* RestoreControllerChain(IWizardPageController* controller, IDIRBuildCallback* progress);

// Deletes the last file; 1 when it was deleted.
int DeleteLastScanState(IWizardPageController* controller);

// The result text of a valid last file into `buffer` (always terminated); 1 on success.
int ReadLastScanResultText(IWizardPageController* controller, char* buffer, size_t length);
// Sets the result text of the stream's file; always 1 (a failure is logged).
int WriteScanResultText(IRSData* stream, const char* text);

// Called with the dialog once it is shown, before the save or restore starts (tests look at it
// here). Returns the previous hook.
using ScanStateDialogHook = void (*)(CBuildDirectoryDlg& dialog);
ScanStateDialogHook SetScanStateDialogHook(ScanStateDialogHook hook);
