#include "raw/RawFileListState.h"

#include "core/StateIo.h"
#include "core/StateSections.h"
#include "platform/Log.h"
#include "raw/RawFileInfoList.h"

using namespace corvale;

const RSGuid kRawFileListSection = RSGuid::FromString("{0F1F07F2-A023-4DEF-940E-2CE80A7A8D3D}");

namespace {
constexpr size_t kRecordSize = 22;
// Records are read in batches: one stream call per 22 bytes would dominate loading a large scan.
constexpr size_t kBatchRecords = 2048;
}  // namespace

bool SaveRawFileList(IRSData& writer, CRawFileInfoList& list) {
  try {
    if (!writer.BeginSection(kRawFileListSection)) return false;
    WriteU64(writer, list.GetCount());
    StateRecordWriter out(writer);
    IIterator<CRawFileInfo*>* it = list.GetIterator();
    for (it->First(); !it->IsEnd(); it->Next()) {
      const CRawFileInfo* file = it->Current();
      out.U64(file->GetStartSector())
          .U64(file->GetFileSize())
          .I32(file->GetFileType())
          .U16(static_cast<uint16_t>(file->GetAnalyserTypeId()));
    }
    out.Flush();
    writer.EndSection();
  } catch (IRSException& e) {
    LogError("RS Exception:%d", e.GetCode());
    throw;
  }
  return true;
}

std::unique_ptr<CRawFileInfoList> LoadRawFileList(IRSData& reader) {
  try {
    if (!BeginSectionIfPresent(reader, kRawFileListSection)) return nullptr;
    auto list = std::make_unique<CRawFileInfoList>();
    // The count sizes nothing; a count beyond the records present ends in a short read.
    uint64_t left = ReadU64(reader);
    std::vector<uint8_t> batch;
    while (left > 0) {
      const size_t n = left < kBatchRecords ? static_cast<size_t>(left) : kBatchRecords;
      batch.resize(n * kRecordSize);
      ReadExact(reader, batch.data(), batch.size());
      for (size_t i = 0; i < n; ++i) {
        const uint8_t* r = batch.data() + i * kRecordSize;
        auto le = [r](size_t at, unsigned bytes) {
          uint64_t v = 0;
          for (unsigned b = 0; b < bytes; ++b) v |= static_cast<uint64_t>(r[at + b]) << (8 * b);
          return v;
        };
        auto file = std::make_unique<CRawFileInfo>();
        file->SetStartSector(le(0, 8));
        file->SetFileSize(le(8, 8));
        file->SetFileType(static_cast<int32_t>(le(16, 4)));
        file->SetAnalyserTypeId(static_cast<int>(le(20, 2)));
        list->Add(file.release());
      }
      left -= n;
    }
    ExpectSectionEnd(reader);
    reader.EndSection();
    return list;
  } catch (IRSException& e) {
    LogError("RS Exception:%d", e.GetCode());
    throw;
  }
}
