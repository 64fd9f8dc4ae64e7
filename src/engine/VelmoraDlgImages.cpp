// The image buttons: file dialogs in the remembered directories, the
// caution questions, and the Change Downloader / Input address options.
#include <algorithm>
#include <cctype>

#include "ControlIds.h"
#include "platform/OsFile.h"
#include "platform/Registry.h"
#include "VelmoraDlg.h"

namespace {
const char kPhoneFilter[] = "Download Phone Binary (*.bin)|*.bin|All Files (*.*)|*.*||";
const char kBootFilter[] = "Download BootLoader Binary (*.bin)|*.bin|All Files (*.*)|*.*||";
const char kResourceFilter[] = "Download Resource Binary (*.bin)|*.bin|All Files (*.*)|*.*||";
const char kQbfsFilter[] = "Download QBFS files (*.bin)|*.bin|All Files (*.*)|*.*||";
const char kOpenFilter[] = "Download Binary File (*.bin)|*.bin|All Files (*.*)|*.*||";
const char kNotDownloadFile[] = "다운로드용 파일이 아닙니다.";

std::string RememberedDirectory(const char* value) {
  std::string dir = CRegistry::ReadString(value);
  if (dir.empty()) return DefaultImageDirectory();
  // "*.bin" is appended to it: a folder written without its separator (by
  // hand, by a script) would otherwise open its parent.
  if (!OsIsSeparator(dir.back())) dir += kPathSeparator;
  return dir;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of(kPathSeparators);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool HasBinExtension(const std::string& path) {
  const size_t slash = path.find_last_of(kPathSeparators);
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == "bin";
}
}  // namespace

CVelmoraDlg::ImageButton CVelmoraDlg::ButtonOf(int kind) {
  switch (kind) {
    case IMAGE_BOOTLOADER:
      return {m_choices.m_bBootLoader, m_choices.m_strBootPath, m_strBootText, "NEW_MEGA_BOOT_PATH", kBootFilter,
              false, false};
    case IMAGE_RESOURCE:
      return {m_choices.m_bResource, m_choices.m_strResourcePath, m_strResourceText, "NEW_MEGA_CODE_PATH",
              kResourceFilter, false, false};
    case IMAGE_QBFS_FILE:
      return {m_choices.m_bQbfs, m_choices.m_strQbfsPath, m_strQbfsText, "NEW_MEGA_CONTENTS_PATH", kQbfsFilter,
              false, false};
    default:
      return {m_choices.m_bPhoneCode, m_choices.m_strPhonePath, m_strPhoneText, "NEW_PHONE_BIN_PATH", kPhoneFilter,
              true, true};
  }
}

void CVelmoraDlg::SelectImageFile(int kind) {
  UpdateData(true);
  ImageButton b = ButtonOf(kind);
  if (b.checked) {
    auto chosen = m_host.OpenFileDialog(b.filter, RememberedDirectory(b.registryValue) + "*.bin", "bin");
    if (chosen && !TakeImageFile(b, *chosen)) return;
    if (!chosen) b.checked = 0;
  }
  if (!b.checked) DropImageFile(b);
  UpdateData(false);
}

bool CVelmoraDlg::TakeImageFile(ImageButton& b, const std::string& chosen) {
  if (b.extensionCheck && !HasBinExtension(chosen)) {
    m_host.MessageBox(kNotDownloadFile, MB_OK);
    if (b.phoneCode) b.checked = 0;
    UpdateData(false);
    return false;
  }
  b.path = chosen;
  b.text = b.path;
  CRegistry::WriteString(b.registryValue, DirectoryOf(b.path));
  if (b.phoneCode) m_host.EnableControl(IDC_CHANGE_DOWNLOADER, true);
  UpdateData(false);
  return true;
}

void CVelmoraDlg::DropImageFile(ImageButton& b) {
  b.text.clear();
  b.path.clear();
  if (b.phoneCode) {
    m_choices.m_bChangeDownloader = 0;
    m_host.EnableControl(IDC_CHANGE_DOWNLOADER, false);
  }
}

bool CVelmoraDlg::ChooseImage(int kind, const std::string& path) {
  if (kind == IMAGE_BOOTLOADER && !ConfirmBootLoaderChoice()) return false;
  ImageButton b = ButtonOf(kind);
  b.checked = 1;
  if (!TakeImageFile(b, path)) {
    b.checked = 0;
    DropImageFile(b);
    UpdateData(false);
    return false;
  }
  return true;
}

bool CVelmoraDlg::ConfirmBootLoaderChoice() {
  const int answer = m_host.MessageBox(
      "주  의 :  [NORVANE UMTS Team]\n잘못된 BootLoader의 경우 폰이 정상적으로 동작하지 않을수도 있습니다.\n"
      "적합한 BootLoader인지 확인해 주십시오.",
      MB_YESNO | MB_ICONHAND);
  if (answer == IDYES) return true;
  m_choices.m_bBootLoader = 0;
  UpdateData(false);
  return false;
}

void CVelmoraDlg::OnPhoneCode() { SelectImageFile(IMAGE_PHONE_CODE); }

void CVelmoraDlg::OnBootLoader() {
  UpdateData(true);
  if (m_choices.m_bBootLoader && !ConfirmBootLoaderChoice()) return;
  SelectImageFile(IMAGE_BOOTLOADER);
}

void CVelmoraDlg::OnResource() { SelectImageFile(IMAGE_RESOURCE); }

void CVelmoraDlg::OnQbfs() { SelectImageFile(IMAGE_QBFS_FILE); }

void CVelmoraDlg::OnOpen() {
  const std::string dir = RememberedDirectory("BIN_PATH");
  auto chosen = m_host.OpenFileDialog(kOpenFilter, dir + "*.bin", "bin");
  if (!chosen) return;
  if (!HasBinExtension(*chosen)) {
    m_host.MessageBox(kNotDownloadFile, MB_OK);
    return;
  }
  m_strFilePath = *chosen;
  m_dloadFile.Load(m_strFilePath, m_nDownloadType);
  CRegistry::WriteString("BIN_PATH", DirectoryOf(m_strFilePath));
  ShowFileInfo();
  UpdateData(false);
}

void CVelmoraDlg::ShowFileInfo() {
  m_nImageSize = m_dloadFile.GetSize();
  m_nSwVersion = m_dloadFile.GetSwVersion();
  m_strBuildTime = m_dloadFile.FormatBuildTime();
  m_strVersion = std::to_string(m_nSwVersion);
  UpdateData(false);
}

void CVelmoraDlg::OnChangeDownloader() {
  UpdateData(true);
  if (m_choices.m_bChangeDownloader) ConfirmChangeDownloader();
}

bool CVelmoraDlg::ConfirmChangeDownloader() {
  const int answer = m_host.MessageBox(
      "CAUTION:\nUnknowingly changing Boot Address Area could cause serious problems.\nDo you like change any "
      "way?.",
      MB_YESNO | MB_ICONHAND);
  if (answer == IDYES) return true;
  m_choices.m_bChangeDownloader = 0;
  UpdateData(false);
  return false;
}

bool CVelmoraDlg::ChooseChangeDownloader() {
  m_choices.m_bChangeDownloader = 1;
  UpdateData(false);
  return ConfirmChangeDownloader();
}

void CVelmoraDlg::OnInputAddress() {
  m_choices.m_bInputAddress = (m_choices.m_bInputAddress + 1) % 2;
  const int boxes[] = {IDC_ADDRESS1, IDC_ADDRESS2, IDC_ADDRESS3, IDC_ADDRESS4, IDC_ADDRESS5};
  for (int id : boxes) m_host.EnableControl(id, m_choices.m_bInputAddress == 1);
  if (m_choices.m_bInputAddress == 1) ShowDefaultAddresses();
  // The check box follows the flag, not the other way round.
  m_host.SetCheck(IDC_INPUT_ADDRESS, m_choices.m_bInputAddress);
}

void CVelmoraDlg::ShowDefaultAddresses() {
  m_host.SetControlText(IDC_ADDRESS1, "20000");
  m_host.SetControlText(IDC_ADDRESS2, "0");
  m_host.SetControlText(IDC_ADDRESS3, "20000");
  m_host.SetControlText(IDC_ADDRESS4, "740000");
  m_host.SetControlText(IDC_ADDRESS5, "900000");
}
