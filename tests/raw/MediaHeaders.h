#pragma once
// Small hand-made files of the sound, video, font, drawing and PostScript formats, laid out as the
// formats are published, for the rules the tools' files do not reach (damaged and unusual files)
// and as a sample of every such analyser's header.

#include "RawTestSupport.h"

namespace rawtest {

// An MPEG 1 Layer III frame of 128 kbit/s at 44.1 kHz: 417 bytes.
inline Bytes Mp3Frame() {
  Bytes f(417, 0);
  f[0] = 0xFF, f[1] = 0xFB, f[2] = 0x90, f[3] = 0x00;
  return f;
}

// An ID3v2.3 tag holding a Latin-1 title and a year.
inline Bytes Id3v2Tag(const std::string& title, const std::string& year) {
  Builder b(10);
  b.Text(0, "ID3").LE(3, 3, 1);
  size_t at = 10;
  for (const auto& [id, text] : {std::pair{"TIT2", title}, std::pair{"TYER", year}}) {
    b.Text(at, id).BE(at + 4, text.size() + 1, 4).LE(at + 8, 0, 2).LE(at + 10, 0, 1).Text(at + 11, text);
    at += 11 + text.size();
  }
  b.Size(at + 20);  // padding
  const size_t size = b.b.size() - 10;
  for (int i = 0; i < 4; ++i) b.b[6 + i] = static_cast<uint8_t>((size >> (7 * (3 - i))) & 0x7F);
  return b.b;
}

inline Bytes Id3v1Tag(const std::string& title, const std::string& year) {
  return Builder(128).Text(0, "TAG").Text(3, title).Text(93, year).b;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Repeat(const Bytes& b, int n) {
  Bytes out;
  for (int i = 0; i < n; ++i) out.insert(out.end(), b.begin(), b.end());
  return out;
}

// An ID3v2 tag, `frames` audio frames, and an ID3v1 tag when asked.
inline Bytes Mp3File(int frames, bool v1) {
  Bytes f = Join({Id3v2Tag("Hand Made", "1999"), Repeat(Mp3Frame(), frames)});
  if (v1) f = Join({f, Id3v1Tag("Old Title", "1988")});
  return f;
}

// A box (or atom) of `size` bytes, big-endian size and type first.
inline Bytes Box(const std::string& type, uint32_t size, const std::string& brand = "") {
  Builder b(size);
  b.BE(0, size, 4).Text(4, type);
  if (!brand.empty()) b.Text(8, brand);
  return b.b;
}

inline Bytes IsoFile(const std::string& brand, std::initializer_list<Bytes> boxes) {
  Bytes f = Box("ftyp", 24, brand);
  for (const Bytes& b : boxes) f.insert(f.end(), b.begin(), b.end());
  return f;
}

inline Bytes RiffFile(const std::string& form, const std::string& chunk, uint32_t length) {
  return Builder(512).Text(0, "RIFF").LE(4, length, 4).Text(8, form).Text(12, chunk).b;
}

inline const uint8_t* AsfGuid(int which) {
  static const uint8_t ids[3][16] = {
      {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C},
      {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C},
      {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB}};
  return ids[which];
}

// ASF objects, each (which of header/data/index, size).
inline Bytes AsfFile(std::initializer_list<std::pair<int, uint64_t>> objects) {
  Builder b;
  size_t at = 0;
  for (const auto& [which, size] : objects) {
    b.Put(at, AsfGuid(which), 16).LE(at + 16, size, 8);
    at += static_cast<size_t>(std::min<uint64_t>(size, 4096));
    b.Size(at);
  }
  return b.b;
}

inline Bytes MidiFile(uint16_t format, std::initializer_list<uint32_t> tracks) {
  Builder b(14);
  b.Text(0, "MThd").BE(4, 6, 4).BE(8, format, 2).BE(10, tracks.size(), 2).BE(12, 96, 2);
  size_t at = 14;
  for (uint32_t length : tracks) {
    b.Text(at, "MTrk").BE(at + 4, length, 4).Size(at + 8 + length);
    at += 8 + length;
  }
  return b.b;
}

// A TrueType table directory of `tables` records, the first `known` with tags of real tables;
// every table 100 bytes long.
inline Bytes TrueTypeHeader(int tables, int known) {
  static const char* realTags[] = {"cmap", "glyf", "head", "hhea", "hmtx",
                                   "loca", "maxp", "name", "post", "OS/2"};
  Builder b(512);
  b.BE(0, 0x00010000, 4).BE(4, tables, 2);
  for (int i = 0; i < tables; ++i) {
    const size_t r = 12 + 16 * i;
    b.Text(r, i < known ? realTags[i % 10] : "zz" + std::to_string(10 + i))
        .BE(r + 8, 512 + 100 * i, 4)
        .BE(r + 12, 100, 4);
  }
  return b.b;
}

inline Bytes DwgHeader(const std::string& version) { return Builder(512).Text(0, version).b; }

inline std::vector<Bytes> MediaHeaders() {
  std::vector<Bytes> out;
  out.push_back(Mp3File(3, true));
  out.push_back(IsoFile("isom", {Box("mdat", 100), Box("moov", 40)}));
  out.push_back(IsoFile("3gp4", {Box("mdat", 100)}));
  out.push_back(IsoFile("qt  ", {Box("wide", 8), Box("mdat", 100)}));
  out.push_back(RiffFile("WAVE", "fmt ", 4000));
  out.push_back(AsfFile({{0, 100}, {1, 200}, {2, 50}}));
  out.push_back(MidiFile(1, {20, 30}));
  out.push_back(Builder(512).Text(0, ".snd").BE(4, 24, 4).BE(8, 1000, 4).b);
  out.push_back(Builder(512).Text(0, "FWS").LE(3, 6, 1).LE(4, 3000, 4).b);
  out.push_back(DwgHeader("AC1015"));
  out.push_back(TrueTypeHeader(10, 10));
  out.push_back(Builder(512).Text(0, "  0\r\nSECTION\r\n  2\r\nHEADER\r\n").b);
  {
    static const uint8_t fh[16] = {0x1C, 0x01, 0x00, 0x00, 0x02, 0x00, 0x04, 0x1C,
                                   0x01, 0x14, 0x00, 0x02, 0x00, 0x14, 0x1C, 0x01};
    out.push_back(Builder(512).Put(0, fh, 16).Text(34, "11").b);
  }
  out.push_back(Builder(512)
                    .BE(0, 0xC5D0D3C6, 4)
                    .LE(4, 30, 4)
                    .LE(8, 1000, 4)
                    .LE(20, 1030, 4)
                    .LE(24, 500, 4)
                    .LE(28, 0xFFFF, 2)
                    .Text(30, "%!PS-Adobe-3.0 EPSF-3.0")
                    .b);
  out.push_back(Builder(512)
                    .LE(0, 0x4D4D, 2)
                    .LE(2, 2000, 4)
                    .LE(6, 2, 2)
                    .LE(8, 10, 4)
                    .LE(12, 3, 4)
                    .LE(16, 0x3D3D, 2)
                    .LE(18, 1984, 4)
                    .b);
  for (Bytes& b : out) {
    if (b.size() < 512) b.resize(512, 0);
  }
  return out;
}

}  // namespace rawtest
