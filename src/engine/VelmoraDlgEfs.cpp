// The EFS2 folder: its files are listed once when it is chosen and sent
// one after another, each announced by name.
#include <algorithm>

#include "ControlIds.h"
#include "FolderBrowser.h"
#include "platform/OsFile.h"
#include "VelmoraDlg.h"

namespace {
constexpr size_t kMaxPath = 255;
constexpr Rgb kRed = MakeRgb(255, 0, 0);
}  // namespace

bool CVelmoraDlg::ListEfsFolder(const std::string& folder) {
  EfsFileList& list = m_choices.efs;
  std::fill(list.names.begin(), list.names.end(), std::string());
  list.names[0] = ".";
  list.names[1] = "..";
  list.lastIndex = 1;

  std::vector<std::string> entries;
  OsListFolder(folder, entries);
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [](const std::string& name) {
                                 return name.find("cvs") != std::string::npos || name.find("CVS") != std::string::npos;
                               }),
                entries.end());
  // One known order for every run: by name, byte order.
  std::sort(entries.begin(), entries.end());

  auto leftOut = [&](const std::string& name, const char* why) {
    AppendLine(m_nSelEntry, kRed, "EFS2: " + name + " left out (" + why + ")");
  };
  for (const std::string& name : entries) {
    const std::string path = list.folderPath + name;
    if (OsKindOf(path) != OsPathKind::File) {
      leftOut(name, "not a file");
      continue;
    }
    if (!CBssComm::FitsEfsField(name, EFS_FILE_FIELD)) {
      leftOut(name, "name too long or not representable in code page 949");
      continue;
    }
    if (path.size() > kMaxPath) {
      leftOut(name, "path too long");
      continue;
    }
    if (list.lastIndex + 1 >= EfsFileList::MAX_NAMES) {
      leftOut(name, "more than 498 files");
      continue;
    }
    list.names[++list.lastIndex] = name;
  }
  return list.lastIndex > 1;
}

void CVelmoraDlg::OnEfs2() {
  UpdateData(true);
  if (m_choices.m_bEfs2) {
    CFolderBrowser browser(m_host);
    if (!browser.Browse()) {
      m_choices.m_bEfs2 = 0;
      UpdateData(false);
      return;
    }
    TakeEfsFolder(browser.GetPath());
    return;
  }
  EfsFileList& list = m_choices.efs;
  m_strEfsText.clear();
  m_choices.m_strEfsFilePath.clear();
  m_choices.m_bChangeDownloader = 0;
  list.lastIndex = 0;
  list.nextIndex = 0;
  UpdateData(false);
}

bool CVelmoraDlg::ChooseEfsFolder(const std::string& folder) {
  m_choices.m_bEfs2 = 1;
  UpdateData(false);
  return TakeEfsFolder(folder);
}

bool CVelmoraDlg::TakeEfsFolder(std::string chosen) {
  EfsFileList& list = m_choices.efs;
  auto refuse = [&](const std::string& text, uint32_t type) {
    m_host.MessageBox(text, type);
    m_choices.m_bEfs2 = 0;
    list.lastIndex = 0;
    list.nextIndex = 0;
    UpdateData(false);
    return false;
  };
  while (chosen.size() > 1 && OsIsSeparator(chosen.back())) chosen.pop_back();
  list.folderPath = chosen + kPathSeparator;
  const size_t slash = chosen.find_last_of(kPathSeparators);
  list.folderName = slash == std::string::npos ? chosen : chosen.substr(slash + 1);
  if (!CBssComm::FitsEfsField(list.folderName, EFS_FOLDER_FIELD))
    return refuse("EFS2 folder name too long or not representable in code page 949: " + list.folderName,
                  MB_OK | MB_ICONHAND);
  // A folder without files would make the folder itself the image.
  if (!ListEfsFolder(chosen)) return refuse("해당 EFS 파일이 존재하지 않습니다. - 토리몽", MB_YESNO | MB_ICONHAND);
  SelectNextEfsFile();
  UpdateData(false);
  return true;
}

void CVelmoraDlg::SelectNextEfsFile() {
  EfsFileList& list = m_choices.efs;
  const int index = list.nextIndex + 2;
  list.currentName = index < EfsFileList::MAX_NAMES ? list.names[index] : std::string();
  list.nextIndex += 1;
  m_choices.m_strEfsFilePath = list.folderPath + list.currentName;
  m_strEfsText = m_choices.m_strEfsFilePath;
  m_host.EnableControl(IDC_CHANGE_DOWNLOADER, true);
  UpdateData(false);
}

void CVelmoraDlg::ShowEfsFile(const CDownloadRun& run) {
  m_strEfsText = run.Plan().efs.folderPath + run.EfsFileName();
  UpdateData(false);
}

void CVelmoraDlg::ReleaseEfsChoice() {
  m_choices.m_bEfs2 = 0;
  m_choices.efs.nextIndex = 0;
  // The path box goes with the choice: a folder still shown there would
  // promise that the next DownLoad writes it again.
  m_strEfsText.clear();
  m_choices.m_strEfsFilePath.clear();
  UpdateData(false);
}
