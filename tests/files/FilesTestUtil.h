// Helpers of the image-file, settings and resource tests: a window that
// records its message boxes, a scratch folder, and small file utilities.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Window.h"
#include "comm/Trace.h"

/// Records every message box; Yes/No boxes get `m_nAnswer`.
class RecordingWindow : public IWindow {
 public:
  struct Box {
    std::string text;
    uint32_t type;
  };
  bool PostMessage(uint32_t, uintptr_t, intptr_t) override { return true; }
  int MessageBox(const std::string& text, uint32_t type) override {
    m_boxes.push_back({text, type});
    return (type & MB_BUTTONMASK) == MB_YESNO ? m_nAnswer : IDOK;
  }
  std::vector<Box> m_boxes;
  int m_nAnswer = IDNO;
};

/// Captures trace texts for as long as it lives.
class TraceCapture {
 public:
  TraceCapture() {
    m_previous = SetTraceSink([this](std::string_view text) {
      std::lock_guard<std::mutex> guard(m_lock);
      m_texts.emplace_back(text);
    });
  }
  ~TraceCapture() { SetTraceSink(m_previous); }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_texts;
  }

 private:
  std::mutex m_lock;
  std::vector<std::string> m_texts;
  TraceSink m_previous;
};

/// A fresh folder removed with everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-files-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) != nullptr) m_path = buffer.data();
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// `count` bytes of a pattern that differs from block to block.
inline std::vector<uint8_t> PatternBytes(size_t count, uint8_t seed = 0) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 1024 + seed);
  return bytes;
}
