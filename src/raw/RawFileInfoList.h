#pragma once
// The files one scan found by signature, in the order found. The list owns the records; a second
// file at a start sector already found stays in the list (and so in the tree and the state file)
// but the lookup by start sector keeps the first.

#include <cstdint>
#include <list>
#include <map>

#include "core/Iterator.h"
#include "raw/RawFileInfo.h"

class CRawFileInfoList {
 public:
  CRawFileInfoList();
  ~CRawFileInfoList();
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

 private:
  std::map<uint64_t, CRawFileInfo*> m_byStart;
  std::list<CRawFileInfo*> m_files;
  ListIterator<CRawFileInfo*> m_iterator;
};
