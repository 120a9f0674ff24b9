#pragma once
// A state stream held in memory: sections by GUID, plain bytes, the error codes of the real stream.
// Lets the savers and loaders be tested byte for byte, and their input be cut or changed at will.

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/IRSData.h"
#include "core/StateIo.h"

class MemoryStateStream : public IRSData {
 public:
  // Entries stay where they are: sections are few, and the open one is held by pointer.
  MemoryStateStream() { m_sections.reserve(16); }

  bool IsValidFile() override { return true; }
  bool Open(const std::string&, int) override { return true; }
  void Close() override {}
  void WriteHeader(const uint8_t*) override {}
  bool ReadHeader(uint8_t*) override { return true; }
  int32_t GetStatus() override { return 1; }
  void SetStatus(int32_t) override {}
  void SetResultText(const char*) override {}
  void GetResultText(char* buffer, size_t size) override {
    if (size > 0) buffer[0] = 0;
  }

  bool BeginSection(const RSGuid& guid) override {
    m_open = Find(guid);
    if (m_open == nullptr) {
      if (!m_writing) throw CRSException(RS_ERROR_NO_SUCH_SECTION);
      m_sections.push_back({guid, {}});
      m_open = &m_sections.back().bytes;
    }
    m_pos = 0;
    return true;
  }
  void EndSection() override { m_open = nullptr; }
  uint32_t GetSectionLength() override {
    if (m_open == nullptr) throw CRSException(RS_ERROR_NO_SECTION);
    return static_cast<uint32_t>(m_open->size());
  }
  size_t Read(void* buffer, size_t n) override {
    if (m_open == nullptr) throw CRSException(RS_ERROR_NO_SECTION);
    const size_t take = std::min(n, m_open->size() - m_pos);
    if (take > 0) std::memcpy(buffer, m_open->data() + m_pos, take);
    m_pos += take;
    return take;
  }
  void Write(const void* buffer, size_t n) override {
    if (m_open == nullptr) throw CRSException(RS_ERROR_NO_SECTION);
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    m_open->insert(m_open->end(), p, p + n);
    ++m_writes;
  }
  void Flush() override {}

  // Switches from writing to reading the same sections.
  void StartReading() {
    m_writing = false;
    m_open = nullptr;
  }
  // The bytes of a section (created empty when absent, for tests that forge one).
  std::vector<uint8_t>& Section(const RSGuid& guid) {
    if (std::vector<uint8_t>* s = Find(guid)) return *s;
    m_sections.push_back({guid, {}});
    return m_sections.back().bytes;
  }
  size_t Writes() const { return m_writes; }

 private:
  struct Entry {
    RSGuid guid;
    std::vector<uint8_t> bytes;
  };
  std::vector<uint8_t>* Find(const RSGuid& guid) {
    for (Entry& e : m_sections) {
      if (e.guid == guid) return &e.bytes;
    }
    return nullptr;
  }

  std::vector<Entry> m_sections;
  std::vector<uint8_t>* m_open = nullptr;
  size_t m_pos = 0;
  bool m_writing = true;
  size_t m_writes = 0;
};

// A guid for sections the tests make up.
inline RSGuid TestSection(uint8_t tag) {
  RSGuid g;
  g.bytes.fill(0xA5);
  g.bytes[0] = tag;
  return g;
}
