// The resource builder on generated folder trees: files, folders, names
// with and without dots or excluded words, links inside, outside, dangling
// and looping. A plain walk over the same tree says what the image must
// hold; the image on disk is then read back byte for byte. A refused build
// must leave no image and no temporary file behind, and a second build of
// the same tree must give the same bytes.
//
// Script: up to 24 tree entries, each a kind byte, a parent byte, a name
// (length byte, then one byte per character) and, for files, a 16-bit size
// and a pattern byte.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>

#include "DloadFile.h"
#include "FuzzInput.h"
#include "FuzzTemp.h"
#include "ResourceBuilder.h"

namespace fs = std::filesystem;

namespace {

enum Kind : uint8_t { FILE_, FOLDER, LINK_FOLDER, LINK_FILE, LINK_DANGLING, LINK_OUTSIDE, KINDS };

const char kAlphabet[] = "ab.cvsCVSbinx_-.";

struct Expected {
  std::string path;
  uint32_t size;
};

bool Excluded(const std::string& n) {
  return n.find(".bin") != std::string::npos || n.find("cvs") != std::string::npos ||
         n.find("CVS") != std::string::npos;
}

bool Inside(const fs::path& target, const fs::path& root) {
  const std::string t = target.string(), r = root.string();
  return t.size() > r.size() && t.compare(0, r.size(), r) == 0 && t[r.size()] == '/';
}

// The rules of the walk, written from their description.
struct Walk {
  fs::path root, canonicalRoot;
  std::vector<Expected> files;
  bool tooLong = false;

  void Folder(const std::string& rel, std::vector<fs::path>& chain) {
    std::error_code ec;
    const fs::path full = rel.empty() ? root : root / rel;
    if (!fs::is_directory(full, ec)) return;
    const fs::path canon = fs::canonical(full, ec);
    if (ec || std::find(chain.begin(), chain.end(), canon) != chain.end()) return;
    std::vector<std::string> names;
    for (const auto& d : fs::directory_iterator(full, ec)) {
      const std::string n = d.path().filename().string();
      if (!Excluded(n)) names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    chain.push_back(canon);
    for (const std::string& n : names) {
      const std::string path = rel.empty() ? n : rel + "/" + n;
      const fs::path p = root / path;
      if (fs::is_symlink(p, ec)) {
        const fs::path target = fs::canonical(p, ec);
        if (ec || !Inside(target, canonicalRoot)) continue;
      }
      if (path.size() > 111) {
        tooLong = true;
        return;
      }
      if (n.find('.') == std::string::npos) {
        Folder(path, chain);
        if (tooLong) return;
        continue;
      }
      const bool regular = fs::is_regular_file(p, ec);
      files.push_back({path, regular ? static_cast<uint32_t>(fs::file_size(p, ec)) : 0u});
    }
    chain.pop_back();
  }
};

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::vector<uint8_t> out;
  FILE* f = std::fopen(p.c_str(), "rb");
  if (!f) return out;
  uint8_t buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

void CheckImage(const std::vector<uint8_t>& image, const Walk& walk) {
  const size_t n = walk.files.size();
  size_t total = 1024 * (n / 8 + 1);
  for (const auto& f : walk.files) total += (static_cast<size_t>(f.size) + 1023) / 1024 * 1024;
  FUZZ_CHECK(image.size() == total);
  for (size_t k = 0; k < (n / 8 + 1) * 8; ++k) {
    const uint8_t* slot = image.data() + k * 128;
    if (k >= n) {
      FUZZ_CHECK(std::all_of(slot, slot + 128, [](uint8_t b) { return b == 0xFF; }));
      continue;
    }
    const Expected& f = walk.files[k];
    FUZZ_CHECK(std::memcmp(slot, f.path.data(), f.path.size()) == 0);
    FUZZ_CHECK(std::all_of(slot + f.path.size(), slot + 112, [](uint8_t b) { return b == 0; }));
    const uint32_t size = static_cast<uint32_t>(slot[112]) | static_cast<uint32_t>(slot[113]) << 8 |
                          static_cast<uint32_t>(slot[114]) << 16 | static_cast<uint32_t>(slot[115]) << 24;
    FUZZ_CHECK(size == f.size);
    FUZZ_CHECK(std::all_of(slot + 116, slot + 128, [](uint8_t b) { return b == 0xFF; }));
  }
  size_t at = 1024 * (n / 8 + 1);
  for (const auto& f : walk.files) {
    const std::vector<uint8_t> bytes = ReadAll(walk.root / f.path);
    FUZZ_CHECK(bytes.size() >= f.size);
    FUZZ_CHECK(std::equal(bytes.begin(), bytes.begin() + f.size, image.begin() + static_cast<long>(at)));
    const size_t padded = (static_cast<size_t>(f.size) + 1023) / 1024 * 1024;
    FUZZ_CHECK(std::all_of(image.begin() + static_cast<long>(at + f.size),
                           image.begin() + static_cast<long>(at + padded), [](uint8_t b) { return b == 0xFF; }));
    at += padded;
  }
}

void AddName(std::vector<uint8_t>& s, const std::string& name) {
  s.push_back(static_cast<uint8_t>(name.size()));
  for (char c : name) {
    const char* at = std::strchr(kAlphabet, c);
    s.push_back(static_cast<uint8_t>(at ? at - kAlphabet : 0));
  }
}

// Names in seeds use the alphabet only; other letters come out as 'a'.
void AddFile(std::vector<uint8_t>& s, uint8_t parent, const std::string& name, uint16_t size) {
  s.push_back(FILE_);
  s.push_back(parent);
  AddName(s, name);
  s.push_back(static_cast<uint8_t>(size));
  s.push_back(static_cast<uint8_t>(size >> 8));
  s.push_back(7);
}

void AddFolder(std::vector<uint8_t>& s, uint8_t kind, uint8_t parent, const std::string& name) {
  s.push_back(kind);
  s.push_back(parent);
  AddName(s, name);
}

}  // namespace

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  std::vector<uint8_t> s;
  AddFile(s, 0, "a.x", 3000);
  seeds.push_back(s);
  s.clear();
  AddFolder(s, FOLDER, 0, "ab");
  AddFile(s, 1, "a.b", 100);
  AddFile(s, 0, "b.bin", 100);
  AddFile(s, 0, "cvs.a", 10);
  AddFile(s, 0, "ab", 10);
  AddFolder(s, FOLDER, 0, "old.s");
  seeds.push_back(s);
  s.clear();
  for (int k = 0; k < 9; ++k) AddFile(s, 0, std::string(static_cast<size_t>(k + 1), 'x') + ".a", 2048);
  seeds.push_back(s);
  s.clear();
  AddFolder(s, FOLDER, 0, "a");
  AddFolder(s, FOLDER, 1, "b");
  AddFile(s, 2, "x.a", 5);
  AddFolder(s, LINK_FOLDER, 2, "back");  // a link to a folder on the chain
  AddFolder(s, LINK_FILE, 0, "l.a");
  AddFolder(s, LINK_DANGLING, 0, "d.a");
  AddFolder(s, LINK_OUTSIDE, 0, "o");
  seeds.push_back(s);
  s.clear();
  AddFolder(s, FOLDER, 0, std::string(60, 'a'));
  AddFile(s, 1, std::string(55, 'b') + ".x", 1);
  seeds.push_back(s);
  seeds.push_back({});
  return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CFuzzInput in(data, size);
  const fs::path root = fs::path(CFuzzTemp::Get().Path()) / "tree";
  std::error_code ec;
  fs::remove_all(root, ec);
  fs::create_directories(root);
  std::vector<fs::path> folders{root};
  std::vector<fs::path> files;
  for (int k = 0; k < 24 && in.More(); ++k) {
    const uint8_t kind = in.Byte() % KINDS;
    const fs::path parent = folders[in.Pick(static_cast<unsigned>(folders.size()))];
    std::string name;
    const size_t len = in.Byte() % 64 + 1;
    for (size_t c = 0; c < len; ++c) name += kAlphabet[in.Byte() % (sizeof kAlphabet - 1)];
    if (name == "." || name == ".." || name.size() > 200) continue;
    const fs::path p = parent / name;
    if (fs::exists(fs::symlink_status(p, ec))) continue;
    switch (kind) {
      case FILE_: {
        const size_t n = in.U16() % 4000;
        const uint8_t seed = in.Byte();
        std::vector<uint8_t> bytes(n);
        for (size_t b = 0; b < n; ++b) bytes[b] = static_cast<uint8_t>(b * seed + b / 7);
        WriteFile(p.string(), bytes);
        files.push_back(p);
        break;
      }
      case FOLDER:
        fs::create_directory(p, ec);
        if (!ec) folders.push_back(p);
        break;
      case LINK_FOLDER:
        fs::create_directory_symlink(folders[in.Pick(static_cast<unsigned>(folders.size()))], p, ec);
        break;
      case LINK_FILE:
        if (!files.empty()) fs::create_symlink(files[in.Pick(static_cast<unsigned>(files.size()))], p, ec);
        break;
      case LINK_DANGLING:
        fs::create_symlink(root / "nowhere", p, ec);
        break;
      case LINK_OUTSIDE:
        fs::create_directory_symlink(fs::temp_directory_path(), p, ec);
        break;
    }
  }

  Walk walk;
  walk.root = root;
  walk.canonicalRoot = fs::canonical(root);
  std::vector<fs::path> chain;
  walk.Folder("", chain);

  CDloadFile measurer;
  CResourceBuilder builder(measurer);
  const fs::path image = root / CResourceBuilder::kImageName;
  const ResourceResult r = builder.Build(root.string());
  FUZZ_CHECK(builder.Entries().empty());
  if (walk.tooLong || walk.files.size() > 500) {
    FUZZ_CHECK(!r.Ok());
    FUZZ_CHECK(!r.message.empty());
    FUZZ_CHECK(!fs::exists(image));
  } else {
    FUZZ_CHECK(r.Ok());
    const std::vector<uint8_t> first = ReadAll(image);
    CheckImage(first, walk);
    const ResourceResult again = builder.Build(root.string());
    FUZZ_CHECK(again.Ok());
    FUZZ_CHECK(ReadAll(image) == first);
  }
  // Nothing but the image is ever left in the chosen folder.
  for (const auto& d : fs::directory_iterator(root, ec)) {
    const std::string n = d.path().filename().string();
    FUZZ_CHECK(n.find(".tmp-") == std::string::npos);
  }
  return 0;
}
