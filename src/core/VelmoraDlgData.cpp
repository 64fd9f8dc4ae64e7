// The data exchange: every bound field is copied to its control, or back,
// all at once.
#include <cstdlib>

#include "ControlIds.h"
#include "VelmoraDlg.h"

namespace {
struct CheckBinding {
  int id;
  int CVelmoraDlg::*field;
};
struct TextBinding {
  int id;
  std::string CVelmoraDlg::*field;
};

const CheckBinding kChecks[] = {
    {IDC_PHONE_CODE, &CVelmoraDlg::m_bPhoneCode},       {IDC_EFS2, &CVelmoraDlg::m_bEfs2},
    {IDC_QBFS, &CVelmoraDlg::m_bQbfs},                  {IDC_RESOURCE, &CVelmoraDlg::m_bResource},
    {IDC_BOOTLOADER, &CVelmoraDlg::m_bBootLoader},      {IDC_CHANGE_DOWNLOADER, &CVelmoraDlg::m_bChangeDownloader},
    {IDC_AUTO_DETECT, &CVelmoraDlg::m_bAutoDetect},     {IDC_INPUT_ADDRESS, &CVelmoraDlg::m_bInputAddress},
};

const TextBinding kTexts[] = {
    {IDC_FILE_PATH, &CVelmoraDlg::m_strFilePath},       {IDC_VERSION, &CVelmoraDlg::m_strVersion},
    {IDC_ELAPSED, &CVelmoraDlg::m_strElapsed},          {IDC_ENTRY_LABEL, &CVelmoraDlg::m_strEntryLabel},
    {IDC_BUILD_TIME, &CVelmoraDlg::m_strBuildTime},     {IDC_BOOT_TEXT, &CVelmoraDlg::m_strBootText},
    {IDC_RESOURCE_TEXT, &CVelmoraDlg::m_strResourceText}, {IDC_QBFS_TEXT, &CVelmoraDlg::m_strQbfsText},
    {IDC_EFS_TEXT, &CVelmoraDlg::m_strEfsText},         {IDC_PHONE_TEXT, &CVelmoraDlg::m_strPhoneText},
};
}  // namespace

void CVelmoraDlg::UpdateData(bool saveAndValidate) {
  if (saveAndValidate) {
    for (const auto& b : kChecks) this->*b.field = m_host.GetCheck(b.id) ? 1 : 0;
    for (const auto& b : kTexts) this->*b.field = m_host.GetControlText(b.id);
    for (int i = 0; i < MAX_ENTRIES; ++i) {
      m_strPortLabel[i] = m_host.GetControlText(kPortLabelIds[i]);
      m_strStatus[i] = m_host.GetControlText(kStatusIds[i]);
    }
    m_nImageSize = static_cast<uint32_t>(std::strtoul(m_host.GetControlText(IDC_SIZE).c_str(), nullptr, 10));
    int type = m_host.GetComboSel(IDC_DOWNLOAD_TYPE);
    if (type >= 0) m_nDownloadType = type;
    int sel = m_host.GetComboSel(IDC_ENTRY_COMBO);
    if (sel >= 0 && sel < MAX_ENTRIES) m_nSelEntry = sel;
    return;
  }
  for (const auto& b : kChecks) m_host.SetCheck(b.id, this->*b.field);
  for (const auto& b : kTexts) m_host.SetControlText(b.id, this->*b.field);
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    m_host.SetControlText(kPortLabelIds[i], m_strPortLabel[i]);
    m_host.SetControlText(kStatusIds[i], m_strStatus[i]);
  }
  m_host.SetControlText(IDC_SIZE, std::to_string(m_nImageSize));
  m_host.SetComboSel(IDC_DOWNLOAD_TYPE, m_nDownloadType);
  m_host.SetComboSel(IDC_ENTRY_COMBO, m_nSelEntry);
}
