#include "DownloadRun.h"

#include <algorithm>

const char* EntryCauseText(EntryCause cause) {
  switch (cause) {
    case EntryCause::NoResponse: return "응답이 없습니다.";
    case EntryCause::GivenUp: return "응답없음. 처음부터 다시 해주시기 바랍니다.";
    case EntryCause::TooManyRefusals: return "재시도 횟수 초과. 처음부터 다시 해주시기 바랍니다.";
    case EntryCause::FlashError: return "Flash error!!";
    case EntryCause::InvalidCommand: return "Invalid command!!";
    case EntryCause::WrongBootVersion: return "version이 다릅니다.다른 tool을 이용하세요.";
    case EntryCause::VersionRefused: return "버젼 정보 요청을 할 수 없습니다.(Invalid command)";
    case EntryCause::Lost: return "Unknown Error!";
    case EntryCause::Interrupted: return "Download interrupted.";
    case EntryCause::None:
    case EntryCause::PortFailed:
    case EntryCause::Stopped: break;
  }
  return "";
}

std::vector<RunImage> RunPlan::Images() const {
  std::vector<RunImage> images;
  if (m_bBootLoader == 1) images.push_back({"boot", m_strBootPath});
  if (m_bResource == 1) images.push_back({"resource", m_strResourcePath});
  if (m_bEfs2 == 1) {
    for (int k = 2; k <= efs.lastIndex && k < EfsFileList::MAX_NAMES; ++k)
      images.push_back({"efs2", efs.folderPath + efs.names[k]});
  } else if (m_bQbfs == 1) {
    // No QBFS step after EFS2 files.
    images.push_back({"qbfs", m_strQbfsPath});
  }
  if (m_bPhoneCode == 1) images.push_back({"phone", m_strPhonePath});
  return images;
}

namespace {
// Runs are created and read on the dialog's thread only.
uint64_t g_nRunsCreated = 0;
}  // namespace

CDownloadRun::CDownloadRun(RunPlan plan, std::vector<int> members, IWindow* owner)
    : m_dloadFile(owner),
      m_plan(std::move(plan)),
      m_nSerial(++g_nRunsCreated),
      m_members(std::move(members)),
      m_efs(m_plan.efs) {
  for (int i : m_members) m_entries[i] = std::make_unique<RunEntry>();
}

bool CDownloadRun::Running() const {
  return std::any_of(m_members.begin(), m_members.end(),
                     [this](int i) { return m_entries[i]->m_nResult == RESULT_RUNNING; });
}

bool CDownloadRun::NextStep() {
  const RunPlan& p = m_plan;
  switch (m_nStep) {
    case IMAGE_BOOTLOADER:
      m_nStep = IMAGE_RESOURCE;
      if (p.m_bResource == 1) return true;
      [[fallthrough]];
    case IMAGE_RESOURCE:
      m_nStep = IMAGE_EFS_FILE;
      // Its first file was made current when the folder was chosen.
      if (p.m_bEfs2 == 1) return true;
      m_nStep = IMAGE_QBFS_FILE;
      if (p.m_bQbfs == 1) return true;
      break;
    case IMAGE_EFS_FILE:
      if (p.m_bEfs2 == 1 && m_efs.nextIndex < m_efs.lastIndex) return true;
      // The EFS2 part has ended; no QBFS step follows EFS2 files.
      m_efs.nextIndex = 0;
      break;
    default:
      break;
  }
  if (m_nStep != IMAGE_PHONE_CODE) {
    m_nStep = IMAGE_PHONE_CODE;
    if (p.m_bPhoneCode == 1) return true;
  }
  m_nStep = IMAGE_BOOTLOADER;
  return false;
}

void CDownloadRun::SelectNextEfsFile() {
  const int index = m_efs.nextIndex + 2;
  m_efs.currentName = index < EfsFileList::MAX_NAMES ? m_efs.names[index] : std::string();
  m_efs.nextIndex += 1;
}

std::string CDownloadRun::StepImagePath() const {
  switch (m_nStep) {
    case IMAGE_BOOTLOADER: return m_plan.m_strBootPath;
    case IMAGE_RESOURCE: return m_plan.m_strResourcePath;
    case IMAGE_EFS_FILE: return m_efs.folderPath + m_efs.currentName;
    case IMAGE_QBFS_FILE: return m_plan.m_strQbfsPath;
    default: return m_plan.m_strPhonePath;
  }
}
