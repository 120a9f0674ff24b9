#include "core/DataRunList.h"

#include "core/StateIo.h"

using namespace corvale;

void IDataRunList::Save(IRSData& writer) const {
  StateRecordWriter out(writer);
  out.U32(static_cast<uint32_t>(m_runs.size()));
  for (const DataRun& run : m_runs) out.U64(run.start).U64(run.length);
  out.Flush();
}

void IDataRunList::Load(IRSData& reader) {
  const uint32_t count = ReadU32(reader);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t b[16];
    ReadExact(reader, b, sizeof(b));
    uint64_t start = 0, length = 0;
    for (int k = 0; k < 8; ++k) {
      start |= static_cast<uint64_t>(b[k]) << (8 * k);
      length |= static_cast<uint64_t>(b[8 + k]) << (8 * k);
    }
    m_runs.push_back(DataRun{start, length});
  }
}

const DataRun* IDataRunList::GetFirst() {
  m_cursor = 0;
  return m_runs.empty() ? nullptr : &m_runs[0];
}

const DataRun* IDataRunList::GetNext() {
  if (m_cursor < m_runs.size()) ++m_cursor;
  return m_cursor < m_runs.size() ? &m_runs[m_cursor] : nullptr;
}
