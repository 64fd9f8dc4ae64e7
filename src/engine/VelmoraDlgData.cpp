// The data exchange: every bound field is copied to its control, or back,
// all at once.
#include <cstdlib>

#include "ControlIds.h"
#include "VelmoraDlg.h"

// The fields the data exchange binds, by control: each check box and text
// box has one field of the dialog behind it.
struct DataBindings {
  struct Check {
    int id;
    int& (*field)(CVelmoraDlg&);
  };
  struct Text {
    int id;
    std::string& (*field)(CVelmoraDlg&);
  };
  static const Check kChecks[];
  static const Text kTexts[];
};

const DataBindings::Check DataBindings::kChecks[] = {
    {IDC_PHONE_CODE, [](CVelmoraDlg& d) -> int& { return d.m_choices.m_bPhoneCode; }},
    {IDC_EFS2, [](CVelmoraDlg& d) -> int& { return d.m_choices.m_bEfs2; }},
    {IDC_QBFS, [](CVelmoraDlg& d) -> int& { return d.m_choices.m_bQbfs; }},
    {IDC_RESOURCE, [](CVelmoraDlg& d) -> int& { return d.m_choices.m_bResource; }},
    {IDC_BOOTLOADER, [](CVelmoraDlg& d) -> int& { return d.m_choices.m_bBootLoader; }},
    {IDC_CHANGE_DOWNLOADER, [](CVelmoraDlg& d) -> int& { return d.m_choices.m_bChangeDownloader; }},
    {IDC_AUTO_DETECT, [](CVelmoraDlg& d) -> int& { return d.m_bAutoDetect; }},
    {IDC_INPUT_ADDRESS, [](CVelmoraDlg& d) -> int& { return d.m_choices.m_bInputAddress; }},
};

const DataBindings::Text DataBindings::kTexts[] = {
    {IDC_FILE_PATH, [](CVelmoraDlg& d) -> std::string& { return d.m_strFilePath; }},
    {IDC_VERSION, [](CVelmoraDlg& d) -> std::string& { return d.m_strVersion; }},
    {IDC_ELAPSED, [](CVelmoraDlg& d) -> std::string& { return d.m_strElapsed; }},
    {IDC_ENTRY_LABEL, [](CVelmoraDlg& d) -> std::string& { return d.m_strEntryLabel; }},
    {IDC_BUILD_TIME, [](CVelmoraDlg& d) -> std::string& { return d.m_strBuildTime; }},
    {IDC_BOOT_TEXT, [](CVelmoraDlg& d) -> std::string& { return d.m_strBootText; }},
    {IDC_RESOURCE_TEXT, [](CVelmoraDlg& d) -> std::string& { return d.m_strResourceText; }},
    {IDC_QBFS_TEXT, [](CVelmoraDlg& d) -> std::string& { return d.m_strQbfsText; }},
    {IDC_EFS_TEXT, [](CVelmoraDlg& d) -> std::string& { return d.m_strEfsText; }},
    {IDC_PHONE_TEXT, [](CVelmoraDlg& d) -> std::string& { return d.m_strPhoneText; }},
};

void CVelmoraDlg::UpdateData(bool saveAndValidate) {
  if (saveAndValidate) {
    for (const auto& b : DataBindings::kChecks) b.field(*this) = m_host.GetCheck(b.id) ? 1 : 0;
    for (const auto& b : DataBindings::kTexts) b.field(*this) = m_host.GetControlText(b.id);
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
  for (const auto& b : DataBindings::kChecks) m_host.SetCheck(b.id, b.field(*this));
  for (const auto& b : DataBindings::kTexts) m_host.SetControlText(b.id, b.field(*this));
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    m_host.SetControlText(kPortLabelIds[i], m_strPortLabel[i]);
    m_host.SetControlText(kStatusIds[i], m_strStatus[i]);
  }
  m_host.SetControlText(IDC_SIZE, std::to_string(m_nImageSize));
  m_host.SetComboSel(IDC_DOWNLOAD_TYPE, m_nDownloadType);
  m_host.SetComboSel(IDC_ENTRY_COMBO, m_nSelEntry);
}
