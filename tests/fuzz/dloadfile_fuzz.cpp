// CDloadFile on arbitrary files and kinds, against a model of its rules:
// Load's checks and sizes, ReadBlock's offsets, padding and signature
// toggle, with the file shrinking, growing or vanishing between calls. Every
// failed Load must have told the operator (one box), and no block may hold
// a byte the file does not have.
//
// Script: byte 0 bit 0 = the operator's answer to the start-address
// question; a 16-bit content length and the content; then operations until
// the input ends (see the switch below).
#include <cstring>
#include <unistd.h>

#include "DloadFile.h"
#include "FuzzInput.h"
#include "FuzzTemp.h"
#include "Window.h"

namespace {

class CBoxCounter : public IWindow {
 public:
  bool PostMessage(uint32_t, uintptr_t, intptr_t) override { return true; }
  int MessageBox(const std::string&, uint32_t type) override {
    ++boxes;
    if ((type & MB_BUTTONMASK) == MB_YESNO) return yes ? IDYES : IDNO;
    return IDOK;
  }
  int boxes = 0;
  bool yes = false;
};

constexpr int kKinds[] = {IMAGE_PHONE_CODE, IMAGE_PHONE_CODE_UNCHECKED, IMAGE_BOOTLOADER, IMAGE_RESOURCE,
                          IMAGE_EFS_FILE, IMAGE_QBFS_FILE, -1, 6, 255};

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

struct Model {
  bool exists = true;
  std::vector<uint8_t> file;
  uint32_t size = 0;
  bool patched = false;

  // What Load must return and leave; `asks` = the start-address question
  // comes up.
  bool Load(int kind, bool yes, bool& asks, uint32_t& version, uint32_t& start) {
    size = 0;
    version = 0;
    asks = false;
    if (!exists) return false;
    uint64_t n = file.size();
    if ((kind == IMAGE_BOOTLOADER || kind == IMAGE_RESOURCE) && n % 1024 != 0) n = (n / 1024 + 1) * 1024;
    if (kind == IMAGE_PHONE_CODE) {
      if (file.size() < 37) return false;
      const uint8_t* t = file.data() + file.size() - 37;
      if (t[0] != 0xFF || t[1] != 0x1D || t[2] != 0x00) return false;
      if (Le32(t + 17) == 0xFFFFFFFFu) return false;
      version = Le32(t + 17);
      start = Le32(t + 21);
      const bool ok = (start & 0xFFF) == 0 && (start == 0 || start >= 0x4000);
      if (!ok) {
        asks = true;
        if (!yes) return false;
      }
    }
    size = static_cast<uint32_t>(n);
    return true;
  }
};

void AddU16(std::vector<uint8_t>& s, uint16_t v) {
  s.push_back(static_cast<uint8_t>(v));
  s.push_back(static_cast<uint8_t>(v >> 8));
}

void AddU32(std::vector<uint8_t>& s, uint32_t v) {
  AddU16(s, static_cast<uint16_t>(v));
  AddU16(s, static_cast<uint16_t>(v >> 16));
}

// A phone-code image as the unit tests build it: pattern body, trailer.
std::vector<uint8_t> PhoneImage(size_t size, uint32_t start, uint32_t version) {
  std::vector<uint8_t> d(size);
  for (size_t k = 0; k < size; ++k) d[k] = static_cast<uint8_t>((k * 7 + k / 1024) & 0xFF);
  if (size >= 37) {
    uint8_t* t = d.data() + size - 37;
    t[0] = 0xFF;
    t[1] = 0x1D;
    t[2] = 0x00;
    for (int k = 0; k < 4; ++k) t[17 + k] = static_cast<uint8_t>(version >> (8 * k));
    for (int k = 0; k < 4; ++k) t[21 + k] = static_cast<uint8_t>(start >> (8 * k));
  }
  return d;
}

std::vector<uint8_t> Script(bool yes, const std::vector<uint8_t>& content, int kindIndex, int reads) {
  std::vector<uint8_t> s{static_cast<uint8_t>(yes ? 1 : 0)};
  AddU16(s, static_cast<uint16_t>(content.size()));
  s.insert(s.end(), content.begin(), content.end());
  s.push_back(0);
  s.push_back(static_cast<uint8_t>(kindIndex));
  for (int k = 0; k < reads; ++k) {
    s.push_back(1);
    AddU32(s, k == 0 ? 0 : 0x4000);
    AddU32(s, static_cast<uint32_t>(k));
  }
  return s;
}

}  // namespace

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  seeds.push_back(Script(false, PhoneImage(0x4000 + 3000, 0x4000, 7), 0, 4));
  seeds.push_back(Script(false, PhoneImage(5000, 0x3000, 7), 0, 2));
  seeds.push_back(Script(true, PhoneImage(5000, 0x1234, 0x7FFFFFFF), 0, 2));
  seeds.push_back(Script(false, PhoneImage(36, 0, 1), 0, 1));
  std::vector<uint8_t> badVersion = PhoneImage(2048, 0, 0xFFFFFFFFu);
  seeds.push_back(Script(false, badVersion, 0, 1));
  std::vector<uint8_t> boot(3000);
  for (size_t k = 0; k < boot.size(); ++k) boot[k] = static_cast<uint8_t>(k);
  seeds.push_back(Script(false, boot, 2, 4));
  seeds.push_back(Script(false, boot, 4, 4));
  seeds.push_back(Script(false, std::vector<uint8_t>(2048, 0x5A), 3, 3));
  std::vector<uint8_t> signed2(2048, 0);
  std::memcpy(signed2.data(), CDloadFile::kBlockSignature, 7);
  std::memcpy(signed2.data() + 1024, CDloadFile::kBlockSignature, 7);
  std::vector<uint8_t> s = Script(false, signed2, 5, 3);
  s.push_back(2);  // shrink, then read again
  AddU16(s, 1500);
  s.push_back(1);
  AddU32(s, 0);
  AddU32(s, 1);
  s.push_back(3);  // vanish
  s.push_back(1);
  AddU32(s, 0);
  AddU32(s, 0);
  seeds.push_back(s);
  return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CFuzzInput in(data, size);
  const std::string path = CFuzzTemp::Get().Path() + "/image.bin";
  CBoxCounter owner;
  owner.yes = (in.Byte() & 1) != 0;
  const std::vector<uint8_t> content = in.Bytes(in.U16() % 20000);
  Model model;
  model.file = content;
  CFuzzTemp::WriteFile(path, content);

  CDloadFile file(&owner);
  bool loadedOnce = false;
  // Enough calls for every sequence of interest; more only slow the search.
  for (int ops = 0; ops < 64 && in.More(); ++ops) {
    switch (in.Byte() % 5) {
      case 0: {
        const int kind = kKinds[in.Pick(sizeof kKinds / sizeof kKinds[0])];
        bool asks = false;
        uint32_t version = 0, start = 0;
        const bool want = model.Load(kind, owner.yes, asks, version, start);
        const int boxesBefore = owner.boxes;
        const bool got = file.Load(path, kind);
        loadedOnce = true;
        FUZZ_CHECK(got == want);
        FUZZ_CHECK(file.GetSize() == model.size);
        FUZZ_CHECK(file.GetPath() == path);
        if (kind == IMAGE_PHONE_CODE && (got || asks)) FUZZ_CHECK(file.GetSwVersion() == version);
        if (got && kind == IMAGE_PHONE_CODE) FUZZ_CHECK(file.GetStartAddress() == start);
        // A refusal is always explained; a success asks at most the question.
        if (!got) FUZZ_CHECK(owner.boxes == boxesBefore + 1);
        else FUZZ_CHECK(owner.boxes == boxesBefore + (asks ? 1 : 0));
        break;
      }
      case 1: {
        const uint32_t base = in.U32(), index = in.U32();
        if (!loadedOnce) break;
        BlockRecord block;
        std::memset(block.data, 0xA5, sizeof block.data);
        block.address = 0x11111111;
        bool toggle = model.patched;
        const bool got = file.ReadBlock(base, index, block, toggle);
        const uint64_t offset = static_cast<uint64_t>(base) + static_cast<uint64_t>(index) * 1024;
        const bool want = model.exists && offset < model.size;
        FUZZ_CHECK(got == want);
        if (model.exists) FUZZ_CHECK(block.address == static_cast<uint32_t>(offset));
        if (!got) {
          FUZZ_CHECK(toggle == model.patched);
          break;
        }
        FUZZ_CHECK(block.length == 1024);
        uint8_t expect[1024];
        std::memset(expect, 0xFF, sizeof expect);
        if (offset < model.file.size()) {
          const size_t n = static_cast<size_t>(std::min<uint64_t>(1024, model.file.size() - offset));
          std::memcpy(expect, model.file.data() + offset, n);
        }
        if (model.patched) {
          model.patched = false;
        } else if (std::memcmp(expect, CDloadFile::kBlockSignature, 7) == 0) {
          expect[7] = 0x02;
          model.patched = true;
        }
        FUZZ_CHECK(toggle == model.patched);
        FUZZ_CHECK(std::memcmp(block.data, expect, 1024) == 0);
        break;
      }
      case 2: {
        const size_t n = in.U16() % (content.size() + 1025);
        model.file.assign(content.begin(), content.begin() + static_cast<long>(std::min(n, content.size())));
        model.file.resize(n, 0xC3);
        CFuzzTemp::WriteFile(path, model.file);
        model.exists = true;
        break;
      }
      case 3:
        ::unlink(path.c_str());
        model.exists = false;
        break;
      case 4: {
        BlockRecord block;
        block.address = in.U32();
        block.first = in.Byte();
        const uint32_t address = block.address;
        const uint8_t first = block.first;
        CDloadFile::FillMarkerBlock(block);
        FUZZ_CHECK(block.address == address && block.first == first && block.length == 1024);
        FUZZ_CHECK(std::memcmp(block.data, CDloadFile::kBlockSignature, 7) == 0 && block.data[7] == 0x01);
        for (int k = 8; k < 1024; ++k) FUZZ_CHECK(block.data[k] == 0);
        break;
      }
    }
  }
  return 0;
}
