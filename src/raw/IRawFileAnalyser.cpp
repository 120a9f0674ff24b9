#include "raw/IRawFileAnalyser.h"

IRawFileAnalyser::~IRawFileAnalyser() = default;

bool IRawFileAnalyser::ComputeFileSize(CRawFileInfo*, IStorageDevice*) { return true; }

std::string IRawFileAnalyser::GetFirstInfoText() { return {}; }

std::string IRawFileAnalyser::GetSecondInfoText() { return {}; }

RawLeadBytes IRawFileAnalyser::GetLeadBytes() const { return RawLeadBytes().set(); }

RawLeadBytes LeadBytesOf(std::initializer_list<uint8_t> values) {
  RawLeadBytes lead;
  for (uint8_t v : values) lead.set(v);
  return lead;
}
