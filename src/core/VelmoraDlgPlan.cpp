// The steps of a run: which images, in which order, and the values each
// step erases and reads with.
#include <cstdio>

#include "VelmoraDlg.h"

namespace {
struct StepInfo {
  const char* header;
  const char* ruler;
};

const char kRuler20[] = "--------------------";

StepInfo StepHeader(int step, int changeDownloader) {
  switch (step) {
    case IMAGE_BOOTLOADER: return {"BootLoader Download", kRuler20};
    case IMAGE_RESOURCE: return {"RESOURCE Download", kRuler20};
    case IMAGE_EFS_FILE: return {"EFS file Downloading", kRuler20};
    case IMAGE_QBFS_FILE: return {"QBFS Files Download", kRuler20};
    default:
      if (changeDownloader)
        return {"Phone Code Download[Change Downloader]", "------------------------------------------"};
      return {"Phone Code Download", "---------------------"};
  }
}
}  // namespace

bool CVelmoraDlg::CheckAddress(uint32_t address) { return address >= 0x10000u && address < 0xC00000u; }

bool CVelmoraDlg::PrepareStep() {
  for (auto& e : m_entries) {
    if (!e.m_bConnected) continue;
    e.m_nState = STATE_IDLE;
    e.ResetStepCounters();
  }
  const std::string* path = &m_strPhonePath;
  int kind = IMAGE_PHONE_CODE;
  switch (m_nStep) {
    case IMAGE_BOOTLOADER: path = &m_strBootPath; kind = IMAGE_BOOTLOADER; break;
    case IMAGE_RESOURCE: path = &m_strResourcePath; kind = IMAGE_RESOURCE; break;
    case IMAGE_EFS_FILE: path = &m_strEfsFilePath; kind = IMAGE_EFS_FILE; break;
    case IMAGE_QBFS_FILE: path = &m_strQbfsPath; kind = IMAGE_QBFS_FILE; break;
    default: break;
  }
  // An image that does not load gives no values to erase or write with;
  // Load has already told the operator why.
  const bool loaded = m_dloadFile.Load(*path, kind);
  m_nImageSize = m_dloadFile.GetSize();
  if (!loaded) return false;

  if (m_nStep == IMAGE_PHONE_CODE && m_bChangeDownloader == 0) {
    const uint32_t start = m_dloadFile.GetStartAddress();
    m_nEraseStart = start;
    if (m_bInputAddress == 1 && !CheckAddress(start)) {
      m_host.MessageBox("입력한 주소값이 범위에 맞지 않습니다.", MB_OK);
      return false;
    }
    if (start >= m_nImageSize) {
      // The length to erase would wrap around to almost 4 GiB.
      char text[128];
      std::snprintf(text, sizeof text, "Application start address 0x%lX lies beyond the end of the image.",
                    static_cast<unsigned long>(start));
      m_host.MessageBox(text, MB_OK | MB_ICONHAND);
      return false;
    }
    m_nEraseArg = start;
    m_nBaseOffset = start;
    m_nEraseLength = m_nImageSize - start;
  } else {
    m_nEraseStart = 0;
    m_nBaseOffset = 0;
    m_nEraseLength = m_nImageSize;
    m_nEraseArg = 0;
  }
  const StepInfo info = StepHeader(m_nStep, m_bChangeDownloader);
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    if (!m_entries[i].m_bConnected) continue;
    PutLog(i, LOG_INFO, info.header);
    PutLog(i, LOG_INFO, info.ruler);
  }
  return true;
}

bool CVelmoraDlg::AdvanceStep() {
  if (m_nStep == IMAGE_BOOTLOADER) {
    m_nStep = IMAGE_RESOURCE;
    if (m_bResource == 1) return PrepareStep();
  }
  if (m_nStep == IMAGE_RESOURCE) {
    m_nStep = IMAGE_EFS_FILE;
    if (m_bEfs2 == 1) return PrepareStep();
  }
  if (m_nStep == IMAGE_EFS_FILE) {
    if (m_bEfs2 == 1) {
      NextEfsStep();
      if (m_nStep == IMAGE_EFS_FILE) return m_bStepPrepared;
      // The EFS2 part has ended: no QBFS step after EFS2 files.
    } else {
      m_nStep = IMAGE_QBFS_FILE;
      if (m_bQbfs == 1) return PrepareStep();
    }
  }
  if (m_nStep == IMAGE_QBFS_FILE) {
    m_nStep = IMAGE_PHONE_CODE;
    if (m_bPhoneCode == 1) return PrepareStep();
  }
  if (m_nStep == IMAGE_PHONE_CODE) m_nStep = IMAGE_BOOTLOADER;
  return true;
}

void CVelmoraDlg::NextEfsStep() {
  if (m_nStep != IMAGE_EFS_FILE) return;
  if (g_efsFileList.nextIndex < g_efsFileList.lastIndex && m_bEfs2 == 1) {
    m_bStepPrepared = PrepareStep();
    return;
  }
  m_nStep = IMAGE_QBFS_FILE;
  m_bEfs2 = 0;
  g_efsFileList.nextIndex = 0;
  // The path box goes with the choice: a folder still shown there would
  // promise that the next DownLoad writes it again.
  m_strEfsText.clear();
  m_strEfsFilePath.clear();
  UpdateData(false);
}
