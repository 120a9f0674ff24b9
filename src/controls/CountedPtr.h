#pragma once
// A pointer shared by counting: every copy refers to one heap counter, and the last copy to go
// deletes the pointee. The counter is a plain integer, so a CountedPtr and its copies belong to one
// thread.

#include <cinttypes>
#include <cstdint>

#include "platform/Log.h"

template <typename T>
class CountedPtr {
 public:
  explicit CountedPtr(T* pObj = nullptr) : m_ptr(pObj), m_count(new long(1)) {
    if (pObj != nullptr)
      LogError("------------------------ParmInfo:T* pObj=%" PRIxPTR, reinterpret_cast<uintptr_t>(pObj));
  }
  CountedPtr(const CountedPtr& other) noexcept : m_ptr(other.m_ptr), m_count(other.m_count) { ++*m_count; }
  CountedPtr& operator=(const CountedPtr& other) noexcept {
    // Releasing first would delete the pointee that is about to be copied when this is the last copy.
    if (this != &other) {
      Release();
      m_ptr = other.m_ptr;
      m_count = other.m_count;
      ++*m_count;
    }
    return *this;
  }
  ~CountedPtr() { Release(); }

  T& operator*() const { return *m_ptr; }
  T* operator->() const { return m_ptr; }
  T* get() const { return m_ptr; }
  // How many pointers share the pointee.
  long UseCount() const { return *m_count; }

 private:
  void Release() noexcept {
    if (--*m_count == 0) {
      delete m_count;
      delete m_ptr;
    }
  }

  T* m_ptr;
  long* m_count;
};
