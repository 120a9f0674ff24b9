#include "core/PackedRunList.h"

#include "core/MappingPairs.h"
#include "core/NTFSDataRunList.h"
#include "core/StateIo.h"

using namespace corvale;

std::unique_ptr<IDataRunList> PackedRunList::CreateDataRunList() const {
  if (m_residentValue != 0) {
    MappingPairsDecoder decoder(m_bytes.data(), m_bytes.size());
    MappingPair first;
    if (decoder.Next(first) != MappingPairsDecoder::Step::Run) return nullptr;
    auto list = std::make_unique<CResidentNTFSDataRunList>();
    list->SetRun(first.start, first.length, m_residentValue);
    return list;
  }
  auto list = std::make_unique<CNoneResidentNTFSDataRunList>();
  if (!list->ParseDataRuns(m_bytes.data(), m_bytes.size()) || list->GetRunCount() == 0) return nullptr;
  return list;
}

void PackedRunList::Save(IRSData& writer) const {
  StateRecordWriter out(writer);
  out.U32(GetLength()).Bytes(m_bytes.data(), m_bytes.size()).U16(m_residentValue);
  out.Flush();
}

std::unique_ptr<PackedRunList> CreatePackedRunList(const IDataRunList& list) {
  if (list.GetRunCount() == 0) return nullptr;
  MappingPairsEncoder encoder;
  for (const DataRun& run : list.Runs()) encoder.Add(run.start, run.length);
  const uint16_t resident =
      list.GetKind() == kRunListNtfsResident ? static_cast<uint16_t>(list.GetResidentValue()) : 0;
  return std::make_unique<PackedRunList>(encoder.Finish(), resident);
}

std::unique_ptr<PackedRunList> LoadPackedRunList(IRSData& reader) {
  const uint32_t length = ReadU32(reader);
  if (length == 0) ThrowStateError(RS_ERROR_BAD_DATA);
  std::vector<uint8_t> bytes;
  ReadAnnounced(reader, length, bytes);
  const uint16_t resident = ReadU16(reader);
  // The header walk must end exactly on the last byte, and the runs must decode.
  const std::optional<size_t> walked = MappingPairsLength(bytes.data(), bytes.size());
  if (!walked || *walked != bytes.size()) ThrowStateError(RS_ERROR_BAD_DATA);
  MappingPairsDecoder decoder(bytes.data(), bytes.size());
  MappingPair pair;
  MappingPairsDecoder::Step step;
  while ((step = decoder.Next(pair)) == MappingPairsDecoder::Step::Run) {
  }
  if (step != MappingPairsDecoder::Step::End) ThrowStateError(RS_ERROR_BAD_DATA);
  return std::make_unique<PackedRunList>(std::move(bytes), resident);
}

void SaveRunListTail(IRSData& writer, const PackedRunList* packed) {
  WriteU32(writer, packed != nullptr ? 1 : 0);
  if (packed != nullptr) packed->Save(writer);
}

std::unique_ptr<PackedRunList> LoadRunListTail(IRSData& reader) {
  const uint32_t flag = ReadU32(reader);
  if (flag == 0) return nullptr;
  if (flag != 1) ThrowStateError(RS_ERROR_BAD_DATA);
  return LoadPackedRunList(reader);
}
