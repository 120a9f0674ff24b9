#include "core/DIRBuildCallback.h"
#include "core/FileRecoverCallback.h"

void CFileRecoverCallback::Begin(int32_t files, uint64_t totalBytes) {
  if (m_dialog != nullptr) m_dialog->Begin(files, totalBytes);
}

int32_t CFileRecoverCallback::AddFiles(int32_t n) { return m_dialog != nullptr ? m_dialog->AddFiles(n) : 0; }

int32_t CFileRecoverCallback::AddBytes(uint64_t n) { return m_dialog != nullptr ? m_dialog->AddBytes(n) : 0; }

int32_t CFileRecoverCallback::SubtractBytes(uint32_t n) {
  return m_dialog != nullptr ? m_dialog->SubtractBytes(n) : 0;
}

int32_t CFileRecoverCallback::SetCurrentFile(const char* name) {
  return m_dialog != nullptr ? m_dialog->SetCurrentFile(name != nullptr ? name : "") : 0;
}

int32_t CFileRecoverCallback::Poll() { return m_dialog != nullptr ? m_dialog->Poll() : 0; }

int32_t CDIRBuildCallback::BeginStage(const char* title, int32_t range) {
  if (m_dialog == nullptr) return 0;
  m_dialog->BeginStep(title != nullptr ? title : "", range);
  return m_dialog->Tick();
}

int32_t CDIRBuildCallback::AddProgress(int32_t n) {
  if (m_dialog == nullptr) return 0;
  m_dialog->AddProgress(n);
  return m_dialog->Tick();
}

int32_t CDIRBuildCallback::StepTo(int32_t position) {
  if (m_dialog == nullptr) return 0;
  m_dialog->SetProgress(position);
  return m_dialog->Tick();
}

int32_t CDIRBuildCallback::EndStage() {
  if (m_dialog == nullptr) return 0;
  m_dialog->CompleteStep();
  return m_dialog->Tick();
}

int32_t CDIRBuildCallback::Poll() { return m_dialog != nullptr ? m_dialog->Tick() : 0; }
