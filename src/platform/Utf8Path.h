// The engine's paths are UTF-8 text on every OS. std::filesystem takes a
// narrow string in the ANSI code page on Windows, so paths cross into it
// (and back) through these two only.
#pragma once

#include <filesystem>
#include <string>

inline std::filesystem::path PathFromUtf8(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}
