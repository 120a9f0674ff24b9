// Disk images: the files the imaging run writes, and the image read back as a device, over sources
// in memory (with failing sectors where a test needs them) and real folders (a tmpfs too small for
// the image where a full target is needed).
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "storage/CompressController.h"
#include "storage/ImageFile.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using namespace corvale::image;

namespace {

// Like a used disk: runs of zeros, text, structured records and random bytes, changing every few
// sectors so that chunks differ and some do not compress at all.
Bytes DiskLikeBytes(size_t sectors, uint32_t sectorSize = 512, uint32_t seed = 7) {
  Bytes b(sectors * sectorSize);
  std::mt19937 rng(seed);
  const size_t run = 37 * 512;
  for (size_t at = 0; at < b.size(); at += run) {
    const size_t end = std::min(b.size(), at + run);
    switch ((at / run) % 4) {
      case 0:
        break;
      case 1:
        for (size_t i = at; i < end; ++i) b[i] = static_cast<uint8_t>("disk image text "[rng() % 16]);
        break;
      case 2:
        for (size_t i = at; i < end; ++i) b[i] = static_cast<uint8_t>(i % 64 < 8 ? rng() % 4 : i % 64);
        break;
      default:
        for (size_t i = at; i < end; ++i) b[i] = static_cast<uint8_t>(rng());
    }
  }
  return b;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

uint32_t U32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

struct Callback : ICompressCallBack {
  std::function<bool(int64_t)> cancelAt = [](int64_t) { return false; };
  std::function<bool(int64_t)> splitAt = [](int64_t) { return false; };
  int64_t chunk = 0, rangeLast = -1, steps = 0;
  uint64_t written = 0;
  bool IsCancelled() override { return cancelAt(chunk); }
  bool NeedNewPart() override { return splitAt(chunk); }
  void SetRange(int64_t, int64_t last) override { rangeLast = last; }
  void SetPos(int64_t c) override { chunk = c + 1; }
  void AddWritten(uint32_t bytes) override { written += bytes; }
  void Step() override { ++steps; }
};

bool MakeImage(IStorageDevice& source, const std::string& path, int type, int partUnits,
               ICompressCallBack* callback = nullptr, CCompressController* use = nullptr) {
  CCompressController own;
  CCompressController& c = use ? *use : own;
  c.SetSource(&source, "memory source", ~0ull, ~0ull, 2);
  c.SetCompressParam(type, 1, partUnits);
  c.SetImageFilePath(path);
  const bool ok = c.Compress(callback);
  if (!ok) ADD_FAILURE() << c.GetErrorText();
  return ok;
}

Bytes ReadAll(IStorageDevice& d, bool* ok = nullptr) {
  Bytes b(static_cast<size_t>(d.GetSectorCount()) * d.GetSectorSize());
  const bool read = d.ReadSectors(b.data(), 0, static_cast<uint64_t>(d.GetSectorCount()));
  if (ok) *ok = read;
  return b;
}

size_t FilesIn(const std::string& dir) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

}  // namespace

TEST(DiskImageNames, PartListAndPartsAreNamedBesideTheDescriptor) {
  struct Case {
    const char* descriptor;
    const char* list;
    const char* part2;
  } cases[] = {
      {"/img/disk.kbi", "/img/disk.kbp", "/img/disk.part2.kbf"},
      {"/img/disk", "/img/disk.kbp", "/img/disk.part2.kbf"},
      {"/data/my.images/disk", "/data/my.images/disk.kbp", "/data/my.images/disk.part2.kbf"},
      {"/img/a.b.kbi", "/img/a.b.kbp", "/img/a.b.part2.kbf"},
      {"disk.", "disk.kbp", "disk.part2.kbf"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PartListPath(c.descriptor), c.list) << c.descriptor;
    EXPECT_EQ(PartFilePath(c.descriptor, 2), c.part2) << c.descriptor;
  }
}

// A source of 1,000 sectors: the header's fields, four chunks the last of 232 sectors, a device of
// 1,024 sectors, and reads across a chunk border and past the end.
TEST(DiskImage, ThousandSectorsMakeFourChunksAndReadBackAsTenTwentyFour) {
  const std::string dir = corvale::test::ScratchDir();
  const Bytes source = DiskLikeBytes(1000);
  MemoryDevice device(source);
  Callback cb;
  ASSERT_TRUE(MakeImage(device, dir + "/disk.kbi", COMPRESSION_ZLIB, 0, &cb));
  EXPECT_EQ(cb.rangeLast, 4);
  EXPECT_EQ(cb.steps, 4);

  const Bytes head = ReadFile(dir + "/disk.kbi");
  ASSERT_EQ(head.size(), 512u + 4 * 4);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(head.data())), "memory source");
  EXPECT_EQ(head[255], 0);
  EXPECT_EQ(U32(head, 256), 512u);
  EXPECT_EQ(U32(head, 260), 2u);
  EXPECT_EQ(U32(head, 264), 2u);
  EXPECT_EQ(U32(head, 268), 1u);
  EXPECT_EQ(U32(head, 272), 4u);
  EXPECT_EQ(U32(head, 276), 4u);
  EXPECT_EQ(U32(head, 280), 0u);
  EXPECT_EQ(U32(head, 508), 0u);
  const Bytes part = ReadFile(dir + "/disk.part0.kbf");
  EXPECT_EQ(U32(head, 512 + 12) + 512, part.size());
  EXPECT_EQ(cb.written, part.size() - 512);
  const std::string line = dir + "/disk.part0.kbf\r\n";
  EXPECT_EQ(ReadFile(dir + "/disk.kbp"), Bytes(line.begin(), line.end()));

  CImageFileDeviceWithDecompress image(dir + "/disk.kbi");
  ASSERT_TRUE(image.IsUsable()) << image.GetProblem();
  EXPECT_TRUE(image.CheckImageParts()) << image.GetProblem();
  EXPECT_EQ(image.GetSectorCount(), 1024);
  EXPECT_EQ(image.GetSourceDiskNumber(), 2);
  char name[260];
  image.GetSourceName(name);
  EXPECT_STREQ(name, "memory source");

  bool ok = false;
  Bytes all = ReadAll(image, &ok);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(std::equal(source.begin(), source.end(), all.begin()));
  EXPECT_TRUE(std::all_of(all.begin() + source.size(), all.end(), [](uint8_t v) { return v == 0; }));

  Bytes across(12 * 512);
  ASSERT_TRUE(image.ReadSectors(across.data(), 250, 12));
  EXPECT_TRUE(std::equal(across.begin(), across.end(), source.begin() + 250 * 512));

  Bytes tail(10 * 512, 0xEE);
  ASSERT_TRUE(image.ReadSectors(tail.data(), 1023, 10));
  EXPECT_TRUE(std::all_of(tail.begin(), tail.end(), [](uint8_t v) { return v == 0; }));
  EXPECT_FALSE(image.ReadSectors(tail.data(), 1025, 1));
}

// Every compressor, several part sizes, 512- and 4096-byte sectors: the image reads back byte for
// byte and has the parts the size rule gives.
struct RoundTrip {
  int type;
  int partUnits;
  int32_t sectorSize;
};

class DiskImageRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(DiskImageRoundTrip, ReadsBackByteExact) {
  const RoundTrip p = GetParam();
  const std::string dir = corvale::test::ScratchDir();
  const Bytes source = DiskLikeBytes(p.sectorSize == 512 ? 3000 : 600, p.sectorSize);
  MemoryDevice device(source, p.sectorSize);
  CCompressController c;
  ASSERT_TRUE(MakeImage(device, dir + "/disk.kbi", p.type, p.partUnits, nullptr, &c));

  CImageFileDeviceWithDecompress image(dir + "/disk.kbi");
  ASSERT_TRUE(image.IsUsable()) << image.GetProblem();
  ASSERT_TRUE(image.CheckImageParts()) << image.GetProblem();
  EXPECT_EQ(image.GetSectorSize(), p.sectorSize);
  EXPECT_EQ(image.GetPartCount(), c.GetPartsCreated());
  if (p.partUnits > 0) {
    EXPECT_GT(c.GetPartsCreated(), 1u);
  }
  for (uint32_t n = 0; n < c.GetPartsCreated(); ++n) {
    const uint64_t size = fs::file_size(PartFilePath(dir + "/disk.kbi", n));
    if (p.partUnits > 0) {
      EXPECT_LT(size, uint64_t(p.partUnits) * 512) << "part " << n;
    }
  }
  bool ok = false;
  const Bytes all = ReadAll(image, &ok);
  EXPECT_TRUE(ok);
  ASSERT_GE(all.size(), source.size());
  EXPECT_TRUE(std::equal(source.begin(), source.end(), all.begin()));
  if (p.type != COMPRESSION_NONE) {
    EXPECT_LT(c.GetTotalCompressedBytes(), source.size());
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachCompressor, DiskImageRoundTrip,
    ::testing::Values(RoundTrip{COMPRESSION_NONE, 0, 512}, RoundTrip{COMPRESSION_NONE, 600, 512},
                      RoundTrip{COMPRESSION_ZLIB, 0, 512}, RoundTrip{COMPRESSION_ZLIB, 400, 512},
                      RoundTrip{COMPRESSION_BZIP2, 300, 512}, RoundTrip{COMPRESSION_LZMA, 300, 512},
                      RoundTrip{COMPRESSION_ZLIB, 1200, 4096}, RoundTrip{COMPRESSION_LZMA, 0, 4096}));

// Stored chunks are 131,072 bytes: the part-size rule and the caller's split request decide which
// chunk opens a new part, and its table entry starts again from its own length.
TEST(DiskImage, PartChangesBeforeTheChunkThatWouldReachTheLimitOrWhenAsked) {
  struct Case {
    int units;
    int64_t splitBefore;
    std::vector<uint32_t> chunksPerPart;
  } cases[] = {
      {513, -1, {1, 1, 1, 1, 1}},  // 512 + 2 chunks reaches the limit exactly
      {514, -1, {2, 2, 1}},
      {0, -1, {5}},
      {0, 3, {3, 2}},
      {0, 0, {5}},  // a request before the first chunk opens no empty part
  };
  const Bytes source = DiskLikeBytes(5 * 256, 512, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "units " << c.units << " split " << c.splitBefore);
    const std::string dir =
        corvale::test::ScratchDir() + "/u" + std::to_string(c.units) + std::to_string(c.splitBefore);
    fs::create_directories(dir);
    MemoryDevice device(source);
    Callback cb;
    cb.splitAt = [&](int64_t chunk) { return chunk == c.splitBefore; };
    ASSERT_TRUE(MakeImage(device, dir + "/d.kbi", COMPRESSION_NONE, c.units, &cb));
    const Bytes head = ReadFile(dir + "/d.kbi");
    ASSERT_EQ(U32(head, 268), c.chunksPerPart.size());
    uint32_t chunk = 0;
    for (size_t p = 0; p < c.chunksPerPart.size(); ++p) {
      EXPECT_EQ(U32(head, 276 + 4 * p), c.chunksPerPart[p]);
      EXPECT_EQ(U32(head, 512 + 4 * chunk), 131072u) << "first chunk of part " << p;
      chunk += c.chunksPerPart[p];
    }
    CImageFile file(dir + "/d.kbi");
    ASSERT_TRUE(file.OpenDescriptor(0));
    for (uint32_t p = 0, at = 0; p < c.chunksPerPart.size(); ++p) {
      for (uint32_t k = 0; k < c.chunksPerPart[p]; ++k, ++at) {
        uint32_t length = 0;
        EXPECT_EQ(file.GetChunkLocation(at, &length), 512 + 131072 * int64_t(k)) << "chunk " << at;
        EXPECT_EQ(length, 131072u) << "chunk " << at;
      }
    }
    uint32_t none = 1;
    EXPECT_EQ(file.GetChunkLocation(5, &none), -1);
    CImageFileDeviceWithDecompress image(dir + "/d.kbi");
    ASSERT_TRUE(image.CheckImageParts()) << image.GetProblem();
    EXPECT_EQ(ReadAll(image), source);
  }
}

// A source whose reads fail at some sectors: the run goes on to the end, those sectors alone come
// back as zeros, and the count is reported and logged.
TEST(DiskImage, UnreadableSectorsAreStoredAsZerosAndTheRunGoesOn) {
  const std::string dir = corvale::test::ScratchDir();
  const Bytes source = DiskLikeBytes(1100, 512, 11);
  MemoryDevice device(source);
  const std::vector<uint64_t> bad = {5, 300, 301, 1099};
  for (uint64_t s : bad) device.SetBadSector(s);
  corvale::log::ScopedCapture log;
  CCompressController c;
  ASSERT_TRUE(MakeImage(device, dir + "/bad.kbi", COMPRESSION_BZIP2, 0, nullptr, &c));
  EXPECT_EQ(c.GetUnreadableSectorCount(), bad.size());
  EXPECT_TRUE(log.HasPart("sectors 300..301 could not be read"));

  CImageFileDeviceWithDecompress image(dir + "/bad.kbi");
  bool ok = false;
  const Bytes all = ReadAll(image, &ok);
  EXPECT_TRUE(ok);
  for (uint64_t s = 0; s < 1100; ++s) {
    const bool isBad = std::find(bad.begin(), bad.end(), s) != bad.end();
    const Bytes want =
        isBad ? Bytes(512, 0) : Bytes(source.begin() + s * 512, source.begin() + (s + 1) * 512);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), all.begin() + s * 512)) << "sector " << s;
  }
}

// Damage done to a good three-part image, one kind per row: what the part check says, whether the
// image can be read at all, and whether reading the damaged chunk fails (with zeros, never garbage).
TEST(DiskImage, DamagedImagesAreReportedNeverReadAsGood) {
  struct Case {
    const char* name;
    std::function<void(const std::string& descriptor)> damage;
    bool usable;
    const char* checkSays;  // nullptr: the part check passes
    bool readFails;
  };
  const auto patch = [](const std::string& path, uint64_t offset, const Bytes& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };
  const Case cases[] = {
      {"second of three parts deleted", [](const std::string& d) { fs::remove(PartFilePath(d, 1)); }, true,
       "is missing", true},
      {"last part cut short",
       [](const std::string& d) {
         fs::resize_file(PartFilePath(d, 2), fs::file_size(PartFilePath(d, 2)) - 100);
       },
       true, "is truncated", true},
      {"compressed bytes overwritten",
       [&](const std::string& d) { patch(PartFilePath(d, 1), 600, Bytes(64, 0x5A)); }, true, nullptr, true},
      {"part list gone", [](const std::string& d) { fs::remove(PartListPath(d)); }, true, "part list", false},
      {"part count beyond the header",
       [&](const std::string& d) {
         patch(d, 268, {59, 0, 0, 0});
       },
       false, "", true},
      {"counts do not add up",
       [&](const std::string& d) {
         patch(d, 272, {100, 0, 0, 0});
       },
       false, "", true},
      {"table entry runs backwards",
       [&](const std::string& d) {
         patch(d, 512 + 4, {1, 0, 0, 0});
       },
       false, "", true},
      {"chunk table cut off", [](const std::string& d) { fs::resize_file(d, fs::file_size(d) - 4); }, false,
       "", true},
  };
  const Bytes source = DiskLikeBytes(6 * 256, 512, 5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = corvale::test::ScratchDir() + "/" + std::to_string(&c - cases);
    fs::create_directories(dir);
    const std::string descriptor = dir + "/d.kbi";
    MemoryDevice device(source);
    Callback cb;
    cb.splitAt = [](int64_t chunk) { return chunk == 2 || chunk == 4; };
    ASSERT_TRUE(MakeImage(device, descriptor, COMPRESSION_ZLIB, 0, &cb));
    c.damage(descriptor);

    CImageFileDeviceWithDecompress image(descriptor);
    EXPECT_EQ(image.IsUsable(), c.usable) << image.GetProblem();
    const bool checked = image.CheckImageParts();
    EXPECT_EQ(checked, c.checkSays == nullptr) << image.GetProblem();
    if (c.checkSays && *c.checkSays) {
      EXPECT_NE(image.GetProblem().find(c.checkSays), std::string::npos) << image.GetProblem();
    }
    if (!c.usable) {
      EXPECT_EQ(image.GetSectorCount(), 0);
      continue;
    }
    // Chunks 2 and 3 lie in the second part, 4 and 5 in the third.
    Bytes all(6 * 256 * 512, 0xEE);
    EXPECT_EQ(image.ReadSectors(all.data(), 0, 6 * 256), !c.readFails);
    EXPECT_TRUE(std::equal(source.begin(), source.begin() + 2 * 256 * 512, all.begin()))
        << "the first part is whole";
    for (uint64_t chunk = 2; chunk < 6; ++chunk) {
      const auto begin = all.begin() + chunk * 256 * 512;
      const bool same = std::equal(begin, begin + 256 * 512, source.begin() + chunk * 256 * 512);
      const bool zeros = std::all_of(begin, begin + 256 * 512, [](uint8_t v) { return v == 0; });
      EXPECT_TRUE(same || zeros) << "chunk " << chunk << " is neither its data nor zeros";
    }
  }
}

// Runs that stop before the end keep what they wrote as a partial image, finalised: it opens as an
// image of the chunks written in full and reads back byte-exact up to the sector the run names.
// Removing it leaves no file; a run stopped before its first chunk leaves none at all.
TEST(DiskImage, StoppedRunsKeepAReadablePartialImage) {
  const Bytes source = DiskLikeBytes(70 * 256, 512, 9);
  Bytes random(4 << 20);
  std::mt19937 rng(1);
  for (auto& v : random) v = static_cast<uint8_t>(rng());
  struct Case {
    const char* name;
    const Bytes* source;
    int type;
    int partUnits;
    std::function<bool(int64_t)> cancelAt;
    bool fullTarget;        // a tmpfs too small for the image
    uint64_t chunks;        // chunks kept; ~0 for "some, fewer than the source has"
    const char* errorPart;  // in the error text
  };
  const Case cases[] = {
      {"cancelled after three chunks", &source, COMPRESSION_ZLIB, 0, [](int64_t c) { return c >= 3; }, false,
       3, "cancelled"},
      {"cancelled after 40 chunks in parts of 4", &source, COMPRESSION_ZLIB, 4 * 256,
       [](int64_t c) { return c >= 40; }, false, 40, "cancelled"},
      {"cancelled before the first chunk", &source, COMPRESSION_ZLIB, 0, [](int64_t) { return true; }, false,
       0, "cancelled"},
      // One chunk per part: the 59th part is one too many for the header.
      {"more parts than the header counts", &source, COMPRESSION_NONE, 1, [](int64_t) { return false; },
       false, 58, "more than 58 part files"},
      {"a full target", &random, COMPRESSION_ZLIB, 0, [](int64_t) { return false; }, true, ~0ull,
       "No space left on device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = corvale::test::ScratchDir() + "/stopped";
    fs::create_directories(dir);
    if (c.fullTarget) {
      // The last row: the rows before it have run.
      if (!corvale::test::IsRoot()) GTEST_SKIP() << "needs root to mount a small tmpfs";
      ASSERT_EQ(::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    }
    MemoryDevice device(*c.source);
    Callback cb;
    cb.cancelAt = c.cancelAt;
    CCompressController writer;
    writer.SetSource(&device, "src", 0, c.source->size() / 512, 255);
    writer.SetCompressParam(c.type, 1, c.partUnits);
    writer.SetImageFilePath(dir + "/d.kbi");
    EXPECT_FALSE(writer.Compress(&cb));
    EXPECT_NE(writer.GetErrorText().find(c.errorPart), std::string::npos) << writer.GetErrorText();
    EXPECT_EQ(writer.WasCancelled(), std::string(c.errorPart) == "cancelled");
    if (c.chunks == 0) {
      EXPECT_FALSE(writer.HasPartialImage());
      EXPECT_EQ(FilesIn(dir), 0u);
    } else {
      ASSERT_TRUE(writer.HasPartialImage());
      const uint64_t imaged = writer.GetImagedSectorCount();
      EXPECT_EQ(imaged % 256, 0u);
      if (c.chunks != ~0ull)
        EXPECT_EQ(imaged, c.chunks * 256);
      else
        EXPECT_TRUE(imaged > 0 && imaged < c.source->size() / 512) << imaged;
      EXPECT_EQ(writer.GetFirstSector(), 0u);
      EXPECT_EQ(writer.GetRangeSectorCount(), c.source->size() / 512);
      {
        CImageFileDeviceWithDecompress image(dir + "/d.kbi");
        ASSERT_TRUE(image.IsUsable()) << image.GetProblem();
        EXPECT_TRUE(image.CheckImageParts());
        ASSERT_EQ(uint64_t(image.GetSectorCount()), imaged);
        bool ok = false;
        const Bytes read = ReadAll(image, &ok);
        EXPECT_TRUE(ok);
        EXPECT_TRUE(std::equal(read.begin(), read.end(), c.source->begin()))
            << "the sectors kept are the source's";
      }
      writer.RemoveImageFiles();
      EXPECT_FALSE(writer.HasPartialImage());
      EXPECT_EQ(FilesIn(dir), 0u);
    }
    if (c.fullTarget) ::umount(dir.c_str());
    fs::remove_all(dir);
  }
}

// Seeded mutation of a good two-part image, descriptor and part files alike: the device is made,
// checked and read whole for every mutant. Under the sanitizers this shows that no header, chunk
// table or chunk data makes the reader crash, hang or read outside its buffers, and that no header
// makes it promise more sectors than its chunk table can hold.
TEST(DiskImageMutation, DamagedDescriptorsAndPartsNeverCrashTheReader) {
  const std::string dir = corvale::test::ScratchDir();
  const std::string good = dir + "/good.kbi";
  const Bytes source = DiskLikeBytes(4 * 256, 512, 13);
  {
    MemoryDevice device(source);
    Callback cb;
    cb.splitAt = [](int64_t chunk) { return chunk == 2; };
    ASSERT_TRUE(MakeImage(device, good, COMPRESSION_ZLIB, 0, &cb));
  }
  const Bytes descriptor = ReadFile(good);
  const Bytes parts[2] = {ReadFile(PartFilePath(good, 0)), ReadFile(PartFilePath(good, 1))};
  const auto write = [](const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  };
  const std::string path = dir + "/m.kbi";
  std::mt19937 rng(2024);
  for (int round = 0; round < 300; ++round) {
    Bytes d = descriptor, p0 = parts[0], p1 = parts[1];
    Bytes& target = round % 3 == 0 ? d : (round % 3 == 1 ? p0 : p1);
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      // The header and table get most of the edits: they steer every offset the reader takes.
      const size_t span = &target == &d ? target.size() : std::min<size_t>(target.size(), 4096);
      const size_t at = rng() % span;
      target[at] =
          rng() % 2 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(target[at] ^ (1u << (rng() % 8)));
    }
    if (rng() % 8 == 0) target.resize(rng() % (target.size() + 1));
    write(path, d);
    write(PartFilePath(path, 0), p0);
    write(PartFilePath(path, 1), p1);
    {
      std::ofstream list(PartListPath(path), std::ios::binary | std::ios::trunc);
      list << PartFilePath(path, 0) << "\r\n" << PartFilePath(path, 1) << "\r\n";
    }
    CImageFileDeviceWithDecompress image(path);
    image.CheckImageParts();
    if (!image.IsUsable()) continue;
    const uint64_t sectors = static_cast<uint64_t>(image.GetSectorCount());
    ASSERT_LE(sectors * image.GetSectorSize(), 64u << 20) << "round " << round;
    Bytes all(sectors * image.GetSectorSize());
    image.ReadSectors(all.data(), 0, sectors);
    Bytes few(9 * image.GetSectorSize());
    if (sectors) image.ReadSectors(few.data(), rng() % sectors, std::min<uint64_t>(9, sectors));
  }
}
