#include "FolderBrowser.h"

#include "DialogHost.h"

CFolderBrowser::CFolderBrowser(IDialogHost& owner) : m_owner(owner) {}

bool CFolderBrowser::Browse() {
  m_strPath.clear();
  std::optional<std::string> chosen = m_owner.BrowseFolder();
  if (!chosen || chosen->empty()) return false;
  m_strPath = *chosen;
  return true;
}
