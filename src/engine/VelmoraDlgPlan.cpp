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

bool CVelmoraDlg::PrepareStep(CDownloadRun& run) {
  for (int i : run.Members()) {
    if (!m_entries[i].m_bConnected) continue;
    run.Entry(i).m_nState = STATE_IDLE;
    run.Entry(i).ResetStepCounters();
  }
  int kind = IMAGE_PHONE_CODE;
  switch (run.m_nStep) {
    case IMAGE_BOOTLOADER: kind = IMAGE_BOOTLOADER; break;
    case IMAGE_RESOURCE: kind = IMAGE_RESOURCE; break;
    case IMAGE_EFS_FILE: kind = IMAGE_EFS_FILE; break;
    case IMAGE_QBFS_FILE: kind = IMAGE_QBFS_FILE; break;
    default: break;
  }
  // An image that does not load gives no values to erase or write with;
  // Load has already told the operator why.
  const bool loaded = run.m_dloadFile.Load(run.StepImagePath(), kind);
  run.m_nImageSize = run.m_dloadFile.GetSize();
  m_nImageSize = run.m_nImageSize;
  if (!loaded) return false;

  const RunPlan& plan = run.Plan();
  if (run.m_nStep == IMAGE_PHONE_CODE && plan.m_bChangeDownloader == 0) {
    const uint32_t start = run.m_dloadFile.GetStartAddress();
    run.m_nEraseStart = start;
    if (plan.m_bInputAddress == 1 && !CheckAddress(start)) {
      m_host.MessageBox("입력한 주소값이 범위에 맞지 않습니다.", MB_OK);
      return false;
    }
    if (start >= run.m_nImageSize) {
      // The length to erase would wrap around to almost 4 GiB.
      char text[128];
      std::snprintf(text, sizeof text, "Application start address 0x%lX lies beyond the end of the image.",
                    static_cast<unsigned long>(start));
      m_host.MessageBox(text, MB_OK | MB_ICONHAND);
      return false;
    }
    run.m_nEraseArg = start;
    run.m_nBaseOffset = start;
    run.m_nEraseLength = run.m_nImageSize - start;
  } else {
    run.m_nEraseStart = 0;
    run.m_nBaseOffset = 0;
    run.m_nEraseLength = run.m_nImageSize;
    run.m_nEraseArg = 0;
  }
  const StepInfo info = StepHeader(run.m_nStep, plan.m_bChangeDownloader);
  for (int i : run.Members()) {
    if (!m_entries[i].m_bConnected) continue;
    PutLog(i, LOG_INFO, info.header);
    PutLog(i, LOG_INFO, info.ruler);
  }
  return true;
}

bool CVelmoraDlg::AdvanceStep(CDownloadRun& run) {
  const bool inEfsPart = run.m_nStep == IMAGE_EFS_FILE;
  const bool more = run.NextStep();
  if (inEfsPart && run.m_nStep != IMAGE_EFS_FILE) ReleaseEfsChoice();
  if (run.m_nStep == IMAGE_EFS_FILE) ShowEfsFile(run);
  return !more || PrepareStep(run);
}
