// The only reader of image files: loads and checks an image by its kind and
// hands the engine one 1024-byte block at a time. No image data is kept in
// memory. The image stays open from its first block until the next Load or
// CloseImage, but every block is read from the file the path names then, as
// if it were opened afresh.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/OsFile.h"
#include "link/BlockRecord.h"

class IWindow;

/// The kind passed to Load: decides the trailer check and the size rounding.
enum ImageKind {
  IMAGE_PHONE_CODE = 0,            ///< trailer checked
  IMAGE_PHONE_CODE_UNCHECKED = 1,
  IMAGE_BOOTLOADER = 2,            ///< size rounded up to 1024
  IMAGE_RESOURCE = 3,              ///< size rounded up to 1024
  IMAGE_EFS_FILE = 4,
  IMAGE_QBFS_FILE = 5,
};

/// Length of the trailer a phone-code image ends with.
constexpr int IMAGE_TRAILER_SIZE = 37;

class CDloadFile {
 public:
  /// `owner` shows the message boxes; may be set later with SetOwner.
  explicit CDloadFile(IWindow* owner = nullptr);
  virtual ~CDloadFile();  ///< closes the image
  CDloadFile(const CDloadFile&) = delete;
  CDloadFile& operator=(const CDloadFile&) = delete;

  void SetOwner(IWindow* owner) { m_pOwner = owner; }

  /// Closes the image kept open (the run ended); the next ReadBlock opens
  /// it again.
  void CloseImage();

  /// Opens, checks (by `kind`) and measures the file, after closing the
  /// image kept open. Shows its own message
  /// boxes; on failure the size is 0. A phone-code file too short to hold a
  /// trailer is refused as damaged.
  bool Load(const std::string& path, int kind);

  /// Copies the block at `baseOffset` + `blockIndex` x 1024 into `block`,
  /// padding a short last block with FF to 1024 bytes. False when that
  /// offset is at or past the size, or the file cannot be opened. The file
  /// stays open for the next block while the path still names it unchanged
  /// (same file, same status time); one replaced, removed or changed in
  /// its permissions is opened afresh, and fails as an open would.
  ///
  /// `signaturePatched` is the caller's own toggle (one per download entry,
  /// so every handset gets the same bytes of the same image): when it is
  /// clear and the block begins with the block signature, data byte 7
  /// becomes 0x02 and the toggle is set; when it is set, it is cleared and
  /// the block is left unchanged.
  bool ReadBlock(uint32_t baseOffset, uint32_t blockIndex, BlockRecord& block,
                 bool& signaturePatched);

  /// Fills `block` with the retry marker: signature, flag 0x01, zeros,
  /// length 1024. `address` and `first` are left as they are.
  static void FillMarkerBlock(BlockRecord& block);

  uint32_t GetSize() const { return m_nSize; }
  uint32_t GetSwVersion() const { return m_nSwVersion; }
  uint32_t GetStartAddress() const { return m_nStartAddress; }
  const std::string& GetPath() const { return m_strPath; }

  /// The file's modification time as "%d/%d/%d %d:%d:%d" (year, month,
  /// day, hour, minute, second in local time); filled by a successful Load.
  std::string FormatBuildTime() const;

  /// The seven bytes a block signature starts with.
  static const uint8_t kBlockSignature[7];

 private:
  bool HoldImage();  // m_image open on the file m_strPath names now
  void Message(const std::string& text, uint32_t type);
  int Ask(const std::string& text, uint32_t type);

  uint32_t m_nSize = 0;
  uint32_t m_nSwVersion = 0;
  uint32_t m_nStartAddress = 0;
  std::string m_strPath;
  std::time_t m_buildTime = 0;
  IWindow* m_pOwner = nullptr;
  COsFile m_image;         // the image kept open between blocks
  OsFileStamp m_held;      // its stamp when opened
};
