#pragma once
// The steps every program start of this process shares, between fork and exec. They run in the
// child of a process that may have other threads, so they make only async-signal-safe calls; what
// they need is prepared before the fork.

#include <string>

namespace platform {

// The highest descriptor number the child may have to look at when the kernel cannot mark a range
// of descriptors close-on-exec itself. Asked before the fork.
int HighestDescriptor();

// In the child: default handling for every signal and an empty signal mask, whatever this process
// has set.
void ResetSignalsInChild();
// In the child: every descriptor above 2 is closed when the new program starts (its disks, its
// target folders and its log are nothing the new program may have). A descriptor made after this
// call is kept.
void MarkDescriptorsCloseOnExec(int highestDescriptor);

enum class ChildStage : int { kFork = 1, kGroups, kGroup, kUser, kUserCheck, kDescriptors, kExec };

// How a child tells its parent that it failed before its new program ran: a pipe closed by the exec.
// Nothing read means the program started.
class ChildReport {
 public:
  ChildReport() = default;
  ~ChildReport();
  ChildReport(const ChildReport&) = delete;
  ChildReport& operator=(const ChildReport&) = delete;

  bool Open();
  // In the child: reports the stage and the error; async-signal-safe.
  void Fail(ChildStage stage, int error);
  // In the parent, after the fork.
  void CloseWriteEnd();
  // In the parent: waits until the child's program started (true) or it reported a failure (false,
  // with the text in *failure).
  bool Read(std::string* failure);

 private:
  int m_read = -1;
  int m_write = -1;
};

}  // namespace platform
