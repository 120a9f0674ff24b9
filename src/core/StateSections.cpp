#include "core/StateSections.h"

#include <cstring>
#include <utility>

#include "core/SearchedPartitionInfo.h"
#include "core/StateIo.h"
#include "platform/Log.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/IStorageDevice.h"

using namespace corvale;

const RSGuid kSearchedPartitionListSection = RSGuid::FromString("{9332EB72-887D-4145-937D-C3C918EA09FE}");
const RSGuid kSearchControllerListSection = RSGuid::FromString("{409B6394-F681-4E88-A20F-5D635782ED75}");
const RSGuid kPartitionInfoListSection = RSGuid::FromString("{7DC06525-638A-4A8C-B7D1-6419641247DB}");

namespace {

constexpr size_t kSavedLabelBytes = 40;

void DeleteDevices(std::vector<CLostPartitionRecord>& records) {
  for (CLostPartitionRecord& r : records) {
    delete r.Device;
    r.Device = nullptr;
  }
}

}  // namespace

bool BeginSectionIfPresent(IRSData& reader, const RSGuid& guid) {
  try {
    return reader.BeginSection(guid);
  } catch (IRSException& e) {
    // A state file without this part is not an error of the file.
    if (e.GetCode() == RS_ERROR_NO_SUCH_SECTION) return false;
    throw;
  }
}

void ExpectSectionEnd(IRSData& reader) {
  uint8_t extra;
  if (reader.Read(&extra, 1) != 0) ThrowStateError(RS_ERROR_BAD_DATA);
}

bool SaveSearchedPartitionInfoList(IRSData& writer, const SearchedPartitionInfoList& list) {
  return WriteSection(writer, kSearchedPartitionListSection, [&] {
    WriteU64(writer, list.size());
    for (const auto& info : list) SaveSearchedPartitionInfoRecord(writer, *info);
  });
}

bool LoadSearchedPartitionInfoList(IRSData& reader, SearchedPartitionInfoList* list) {
  SearchedPartitionInfoList loaded;
  const bool found = ReadSection(reader, kSearchedPartitionListSection, [&] {
    // The count sizes nothing: each item reads at least its kind, so a count larger than the items
    // present ends in a short read at the section's end.
    const uint64_t count = ReadU64(reader);
    for (uint64_t i = 0; i < count; ++i) loaded.push_back(LoadSearchedPartitionInfoRecord(reader));
  });
  if (found && list != nullptr) *list = std::move(loaded);
  return found;
}

bool SaveFileSystemSearchControllerList(IRSData& writer,
                                        const std::vector<IFileSystemSearchController*>& list) {
  return WriteSection(writer, kSearchControllerListSection, [&] {
    WriteU64(writer, list.size());
    for (IFileSystemSearchController* controller : list) {
      WriteI32(writer, controller->GetKind());
      controller->SaveState(writer);
    }
  });
}

bool LoadFileSystemSearchControllerList(IRSData& reader, const SearchControllerMaker& make,
                                        SearchControllerList* list) {
  SearchControllerList loaded;
  const bool found = ReadSection(reader, kSearchControllerListSection, [&] {
    const uint64_t count = ReadU64(reader);
    for (uint64_t i = 0; i < count; ++i) {
      const int32_t kind = ReadI32(reader);
      std::unique_ptr<IFileSystemSearchController> controller = make ? make(kind) : nullptr;
      if (!controller) ThrowStateError(RS_ERROR_BAD_DATA);
      controller->LoadState(reader);
      loaded.push_back(std::move(controller));
    }
  });
  if (found && list != nullptr) *list = std::move(loaded);
  return found;
}

LostPartitionList::~LostPartitionList() { DeleteDevices(Records); }

LostPartitionList::LostPartitionList(LostPartitionList&& other) noexcept
    : Records(std::move(other.Records)), Current(other.Current) {
  other.Records.clear();
  other.Current = -1;
}

LostPartitionList& LostPartitionList::operator=(LostPartitionList&& other) noexcept {
  if (this != &other) {
    DeleteDevices(Records);
    Records = std::move(other.Records);
    Current = other.Current;
    other.Records.clear();
    other.Current = -1;
  }
  return *this;
}

bool SavePartitionInfoList(IRSData& writer, const std::vector<CLostPartitionRecord>& records,
                           int32_t current) {
  return WriteSection(writer, kPartitionInfoListSection, [&] {
    WriteU32(writer, static_cast<uint32_t>(records.size()));
    for (const CLostPartitionRecord& r : records) {
      StateRecordWriter out(writer);
      out.U64(r.StartSector).U64(r.SectorCount);
      out.Bytes(r.Label, kSavedLabelBytes);
      out.I32(r.FileSystemType);
      uint64_t windowStart = 0;
      uint64_t windowLength = 0;
      if (auto* window = dynamic_cast<CBasicPartitionDevice*>(r.Device)) {
        windowStart = window->GetStartSector();
        windowLength = static_cast<uint64_t>(window->GetSectorCount());
      }
      out.U64(windowStart).U64(windowLength);
      out.Flush();
    }
    WriteI32(writer, current);
  });
}

bool LoadPartitionInfoList(IRSData& reader, IStorageDevice* device, LostPartitionList* list) {
  LostPartitionList loaded;
  const bool found = ReadSection(reader, kPartitionInfoListSection, [&] {
    const int64_t deviceSectors = device != nullptr ? device->GetSectorCount() : 0;
    const uint32_t count = ReadU32(reader);
    for (uint32_t i = 0; i < count; ++i) {
      CLostPartitionRecord record;
      record.StartSector = ReadU64(reader);
      record.SectorCount = ReadU64(reader);
      ReadExact(reader, record.Label, kSavedLabelBytes);
      // The saved label is cut at 40 bytes and may lack its terminator; the rest stays zero.
      record.Label[kSavedLabelBytes] = 0;
      record.FileSystemType = ReadI32(reader);
      if (record.FileSystemType < 0 || record.FileSystemType > CLostPartitionRecord::kFileSystemNotRecognised)
        ThrowStateError(RS_ERROR_BAD_DATA);
      const uint64_t windowStart = ReadU64(reader);
      const uint64_t windowLength = ReadU64(reader);
      // A window outside the device would answer reads the device cannot serve: this list belongs to
      // another device.
      if (deviceSectors < 0 || windowStart > static_cast<uint64_t>(deviceSectors) ||
          windowLength > static_cast<uint64_t>(deviceSectors) - windowStart)
        ThrowStateError(RS_ERROR_BAD_DATA);
      loaded.Records.push_back(record);
      loaded.Records.back().Device = new CBasicPartitionDevice(device, windowStart, windowLength);
    }
    const int32_t current = ReadI32(reader);
    loaded.Current = current >= 0 && static_cast<uint32_t>(current) < count ? current : -1;
  });
  if (found && list != nullptr) *list = std::move(loaded);
  return found;
}
