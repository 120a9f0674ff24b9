#include "raw/RawHeaderDispatch.h"

#include "raw/RawFileAnalyserList.h"
#include "raw/RawFileInfo.h"

namespace corvale {

bool TryHeader(IRawFileAnalyser* analyser, const uint8_t* sector, CRawFileInfo* record) {
  record->ClearFindings();
  try {
    return analyser->IsFileHeader(sector, record);
  } catch (...) {
    return false;
  }
}

void RawHeaderDispatch::Build(const CRawFileAnalyserList& list) {
  for (auto& bucket : m_byLead) bucket.clear();
  m_count = 0;
  for (IRawFileAnalyser* a : list) {
    const RawLeadBytes lead = a->GetLeadBytes();
    for (int b = 0; b < 256; ++b) {
      if (lead.test(static_cast<size_t>(b))) m_byLead[static_cast<size_t>(b)].push_back(a);
    }
    ++m_count;
  }
}

IRawFileAnalyser* RawHeaderDispatch::Offer(const uint8_t* sector, CRawFileInfo* record) const {
  for (IRawFileAnalyser* a : m_byLead[sector[0]]) {
    if (TryHeader(a, sector, record)) return a;
  }
  return nullptr;
}

IRawFileAnalyser* OfferToEveryAnalyser(const CRawFileAnalyserList& list, const uint8_t* sector,
                                       CRawFileInfo* record) {
  for (IRawFileAnalyser* a : list) {
    if (TryHeader(a, sector, record)) return a;
  }
  return nullptr;
}

}  // namespace corvale
