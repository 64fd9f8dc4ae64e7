// The folder selection used by the EFS2 button and the resource image
// builder: asks the operator for a folder through the dialog's host.
#pragma once

#include <string>

class IDialogHost;

class CFolderBrowser {
 public:
  /// `owner` shows the folder dialog; it must outlive the browser.
  explicit CFolderBrowser(IDialogHost& owner);
  virtual ~CFolderBrowser() = default;

  /// Empties the chosen path and shows the folder dialog. True when a
  /// folder with a non-empty path was picked; false on Cancel.
  bool Browse();

  /// The folder picked by the last Browse (empty unless it succeeded).
  const std::string& GetPath() const { return m_strPath; }

 private:
  IDialogHost& m_owner;
  std::string m_strPath;
};
