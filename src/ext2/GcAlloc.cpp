#include "ext2/GcAlloc.h"

#define GC_THREADS
#include <gc/gc.h>

#include <mutex>

#include "platform/Allocation.h"

namespace corvale::ext2gc {

namespace {

std::once_flag g_started;

void* Checked(void* block, size_t bytes) {
  // The collector answers null only when it cannot get memory from the system.
  if (block == nullptr && bytes != 0) platform::ReportOutOfMemory(bytes);
  return block;
}

// The collector must be initialised on the main thread (it takes that thread's stack as the first
// one to scan); a static initialiser runs there before main.
const bool g_startedAtLoad = (Ext2GcStartup(), true);

}  // namespace

void Ext2GcStartup() {
  std::call_once(g_started, [] {
    GC_INIT();
    GC_allow_register_threads();
  });
}

void* GcAlloc(size_t bytes) { return Checked(GC_MALLOC(bytes), bytes); }
void* GcAllocAtomic(size_t bytes) { return Checked(GC_MALLOC_ATOMIC(bytes), bytes); }
void* GcAllocUncollectable(size_t bytes) { return Checked(GC_MALLOC_UNCOLLECTABLE(bytes), bytes); }
void GcFree(void* block) {
  if (block != nullptr) GC_FREE(block);
}

void GcRegisterCleanup(void* block, void (*cleanup)(void*, void*), void* data) {
  GC_REGISTER_FINALIZER_IGNORE_SELF(block, cleanup, data, nullptr, nullptr);
}

void GcCollect() { GC_gcollect(); }

bool GcThreadIsRegistered() { return GC_thread_is_registered() != 0; }

Ext2GcThreadScope::Ext2GcThreadScope() {
  (void)g_startedAtLoad;
  Ext2GcStartup();
  if (GC_thread_is_registered()) return;
  GC_stack_base base;
  if (GC_get_stack_base(&base) != GC_SUCCESS) return;
  m_registered = GC_register_my_thread(&base) == GC_SUCCESS;
}

Ext2GcThreadScope::~Ext2GcThreadScope() {
  if (m_registered) GC_unregister_my_thread();
}

}  // namespace corvale::ext2gc
