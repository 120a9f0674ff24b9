#pragma once
// Gives the calling test a namespace of named objects of its own (CORVALE_NAMESPACE), so the
// mutexes, events and shared memory it makes never meet those of a test running beside it, nor
// those of a real launcher on the machine. Programs the test starts inherit the namespace.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace corvale::test {

class ScopedNamedObjectNamespace {
 public:
  ScopedNamedObjectNamespace() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string tag(1, 't');
    tag.append(std::to_string(getpid())).append("-").append(std::to_string(++s_counter));
    if (info) tag += std::string("-") + info->name();
    for (char& c : tag) {
      bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
      if (!ok) c = '-';
    }
    m_tag = tag.substr(0, 64);
    setenv("CORVALE_NAMESPACE", m_tag.c_str(), 1);
  }
  ~ScopedNamedObjectNamespace() { unsetenv("CORVALE_NAMESPACE"); }
  ScopedNamedObjectNamespace(const ScopedNamedObjectNamespace&) = delete;
  ScopedNamedObjectNamespace& operator=(const ScopedNamedObjectNamespace&) = delete;
  const std::string& Tag() const { return m_tag; }

 private:
  static inline int s_counter = 0;
  std::string m_tag;
};

}  // namespace corvale::test
