#include "raw/RawFileInfoList.h"

CRawFileInfoList::CRawFileInfoList() : m_iterator(&m_files) {}

CRawFileInfoList::~CRawFileInfoList() {
  for (CRawFileInfo* f : m_files) delete f;
  m_files.clear();
}

void CRawFileInfoList::Add(CRawFileInfo* file) {
  if (!file) return;
  m_files.push_back(file);
  m_byStart.emplace(file->GetStartSector(), file);
}

IIterator<CRawFileInfo*>* CRawFileInfoList::GetIterator() {
  m_iterator.First();
  return &m_iterator;
}

CRawFileInfo* CRawFileInfoList::FindByStartSector(uint64_t startSector) const {
  auto it = m_byStart.find(startSector);
  return it == m_byStart.end() ? nullptr : it->second;
}

bool CRawFileInfoList::FindFileType(uint64_t startSector, int32_t& typeId) const {
  const CRawFileInfo* file = FindByStartSector(startSector);
  if (file == nullptr) return false;
  typeId = file->GetFileType();
  return true;
}
