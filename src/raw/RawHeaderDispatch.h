#pragma once
// Offering a sector to the analysers of the search.
//
// The search asks, for every sector that is not empty, which analyser accepts it first in list
// order. Asking every analyser would cost dozens of calls per sector; most sectors of a disk start
// no file at all. Each analyser declares the first bytes its header test can accept, so the
// dispatch table keeps, for each value of a sector's first byte, the analysers that can accept such
// a sector, still in list order. The first of them that accepts is the same analyser the ordered
// trial over the whole list finds, because every analyser left out would have refused.
//
// Each analyser sees the record cleared of what an earlier, refusing analyser wrote into it, so
// the winner's record holds its own findings only, whichever analysers were asked before it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class CRawFileAnalyserList;
class CRawFileInfo;
class IRawFileAnalyser;

namespace corvale {

class RawHeaderDispatch {
 public:
  RawHeaderDispatch() = default;
  explicit RawHeaderDispatch(const CRawFileAnalyserList& list) { Build(list); }

  void Build(const CRawFileAnalyserList& list);
  bool empty() const { return m_count == 0; }

  // The analysers that may accept a sector starting with `lead`, in list order.
  const std::vector<IRawFileAnalyser*>& Candidates(uint8_t lead) const { return m_byLead[lead]; }

  // The first candidate that accepts `sector`, or null. An exception thrown by a header test
  // counts as a refusal.
  IRawFileAnalyser* Offer(const uint8_t* sector, CRawFileInfo* record) const;

 private:
  std::array<std::vector<IRawFileAnalyser*>, 256> m_byLead;
  size_t m_count = 0;
};

// The reference the dispatch table must agree with: every analyser of `list` in order.
IRawFileAnalyser* OfferToEveryAnalyser(const CRawFileAnalyserList& list, const uint8_t* sector,
                                       CRawFileInfo* record);

// One header test inside a catch-all, on a cleared record.
bool TryHeader(IRawFileAnalyser* analyser, const uint8_t* sector, CRawFileInfo* record);

}  // namespace corvale
