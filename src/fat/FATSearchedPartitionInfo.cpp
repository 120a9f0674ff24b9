#include "fat/FATSearchedPartitionInfo.h"

#include "core/RSData.h"
#include "core/StateIo.h"
#include "storage/ByteReader.h"

using namespace corvale;

namespace {

CSearchedPartitionInfo* CreateFatInfo() {
  return new CFATSearchedPartitionInfo(CSearchedPartitionInfo::kDefaultSectorSize);
}

}  // namespace

bool CFATSearchedPartitionInfo::Save(IRSData& writer) const {
  CSearchedPartitionInfo::Save(writer);
  StateRecordWriter record(writer);
  record.U16(m_reservedSectors).U32(m_sectorsPerFat).U32(m_clusterCount).U32(m_root).U32(m_evidenceFlags);
  record.Flush();
  return true;
}

bool CFATSearchedPartitionInfo::Load(IRSData& reader) {
  // A failed read of the own part puts the base part back, so the object stays as it was.
  const CSearchedPartitionInfo before = *this;
  try {
    CSearchedPartitionInfo::Load(reader);
    uint8_t bytes[kOwnSavedSize];
    ReadExact(reader, bytes, sizeof(bytes));
    const ByteReader in(bytes, sizeof(bytes));
    m_reservedSectors = in.u16(0);
    m_sectorsPerFat = in.u32(2);
    m_clusterCount = in.u32(6);
    m_root = in.u32(10);
    m_evidenceFlags = in.u32(14);
  } catch (...) {
    static_cast<CSearchedPartitionInfo&>(*this) = before;
    throw;
  }
  return true;
}

bool RegisterFATSearchedPartitionInfo() {
  return RegisterSearchedPartitionInfoFactory(kPartitionInfoFat, &CreateFatInfo);
}
