#include "core/NTFSDataRunList.h"

#include "core/MappingPairs.h"
#include "core/StateIo.h"

using namespace corvale;

void CResidentNTFSDataRunList::Save(IRSData& writer) const {
  IDataRunList::Save(writer);
  WriteU32(writer, m_residentValue);
}

void CResidentNTFSDataRunList::Load(IRSData& reader) {
  IDataRunList::Load(reader);
  m_residentValue = ReadU32(reader);
}

void CResidentNTFSDataRunList::SetRun(uint64_t recordSector, uint64_t length, uint32_t residentValue) {
  MutableRuns().clear();
  AppendRun(recordSector, length);
  m_residentValue = residentValue;
}

bool CNoneResidentNTFSDataRunList::ParseDataRuns(const uint8_t* bytes, size_t length) {
  MutableRuns().clear();
  MappingPairsDecoder decoder(bytes, length);
  MappingPair pair;
  for (;;) {
    switch (decoder.Next(pair)) {
      case MappingPairsDecoder::Step::Run:
        AppendRun(pair.start, pair.length);
        break;
      case MappingPairsDecoder::Step::End:
        return true;
      case MappingPairsDecoder::Step::Damaged:
        MutableRuns().clear();
        return false;
    }
  }
}
