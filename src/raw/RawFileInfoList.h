#pragma once
// The files one scan found by signature, in the order found. The list owns the records; a second
// file at a start sector already found stays in the list (and so in the tree and the state file)
// but the lookup by start sector keeps the first. The partition rebuilds ask the list itself which
// type of file starts at a sector.

#include <cstdint>
#include <list>
#include <map>

#include "core/Iterator.h"
#include "core/TypedFileExtent.h"
#include "raw/RawFileInfo.h"

class CRawFileInfoList : public ISignatureResults {
 public:
  CRawFileInfoList();
  ~CRawFileInfoList() override;
  CRawFileInfoList(const CRawFileInfoList&) = delete;
  CRawFileInfoList& operator=(const CRawFileInfoList&) = delete;

  // Takes the record (null is ignored).
  void Add(CRawFileInfo* file);
  // An iterator over the records in the order found, owned by the list and positioned at the
  // first record.
  IIterator<CRawFileInfo*>* GetIterator();

  size_t GetCount() const { return m_files.size(); }
  // The first record found at `startSector`, or null.
  CRawFileInfo* FindByStartSector(uint64_t startSector) const;
  // The type of the first record found at `startSector`; false when none starts there.
  bool FindFileType(uint64_t startSector, int32_t& typeId) const override;

 private:
  std::map<uint64_t, CRawFileInfo*> m_byStart;
  std::list<CRawFileInfo*> m_files;
  ListIterator<CRawFileInfo*> m_iterator;
};
