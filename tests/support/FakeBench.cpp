#include "FakeBench.h"

#include <cstdio>

std::string MakePhoneImage(const std::string& dir, size_t size, uint32_t start, uint32_t version) {
  std::vector<uint8_t> data(size);
  for (size_t k = 0; k < size; ++k) data[k] = static_cast<uint8_t>((k * 7 + k / 1024) & 0xFF);
  if (size >= 37) {
    uint8_t* t = data.data() + size - 37;
    t[0] = 0xFF;
    t[1] = 0x1D;
    t[2] = 0x00;
    for (int k = 0; k < 4; ++k) t[17 + k] = static_cast<uint8_t>(version >> (8 * k));
    for (int k = 0; k < 4; ++k) t[21 + k] = static_cast<uint8_t>(start >> (8 * k));
  }
  std::string path = dir + "/phone_" + std::to_string(size) + "_" + std::to_string(start) + ".bin";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f) {
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }
  return path;
}
