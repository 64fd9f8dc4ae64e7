// Developer tool: writes the program's icon (the drawing of AppIcon.cpp,
// which contrib/velmora.svg also holds) as a Windows icon file with one
// 32-bit image per size, for velmora.exe's resources:
//   velmora_icon src/hosts/win32/velmora.ico
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <cstdio>
#include <fstream>
#include <vector>

#include "AppIcon.h"

namespace {

void Put16(std::vector<char>& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::vector<char>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// One icon image: a bitmap header of twice the height (colour rows, then
// the AND mask), the colour rows bottom-up in BGRA, then a mask with a set
// bit for every transparent pixel, rows padded to 32 bits.
std::vector<char> IconImage(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  const int size = image.width();
  std::vector<char> out;
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(size));
  Put32(out, static_cast<uint32_t>(size * 2));
  Put16(out, 1);
  Put16(out, 32);
  for (int k = 0; k < 6; ++k) Put32(out, 0);
  for (int y = size - 1; y >= 0; --y)
    for (int x = 0; x < size; ++x) {
      const QRgb p = image.pixel(x, y);
      out.push_back(static_cast<char>(qBlue(p)));
      out.push_back(static_cast<char>(qGreen(p)));
      out.push_back(static_cast<char>(qRed(p)));
      out.push_back(static_cast<char>(qAlpha(p)));
    }
  const int rowBytes = ((size + 31) / 32) * 4;
  for (int y = size - 1; y >= 0; --y) {
    std::vector<unsigned char> row(static_cast<size_t>(rowBytes), 0);
    for (int x = 0; x < size; ++x)
      if (qAlpha(image.pixel(x, y)) == 0) row[static_cast<size_t>(x / 8)] |= static_cast<unsigned char>(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.ico\n", argv[0]);
    return 2;
  }
  const QIcon icon = VelmoraIcon();
  const int sizes[] = {16, 24, 32, 48, 64};
  std::vector<std::vector<char>> images;
  for (int size : sizes) images.push_back(IconImage(icon.pixmap(size, size).toImage().scaled(size, size)));

  std::vector<char> file;
  Put16(file, 0);
  Put16(file, 1);  // an icon
  Put16(file, static_cast<uint32_t>(images.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
  for (size_t k = 0; k < images.size(); ++k) {
    file.push_back(static_cast<char>(sizes[k]));
    file.push_back(static_cast<char>(sizes[k]));
    file.push_back(0);  // no palette
    file.push_back(0);
    Put16(file, 1);   // planes
    Put16(file, 32);  // bits per pixel
    Put32(file, static_cast<uint32_t>(images[k].size()));
    Put32(file, offset);
    offset += static_cast<uint32_t>(images[k].size());
  }
  for (const std::vector<char>& image : images) file.insert(file.end(), image.begin(), image.end());

  std::ofstream out(argv[1], std::ios::binary);
  out.write(file.data(), static_cast<std::streamsize>(file.size()));
  if (!out) {
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
