// The Create Resource Binary button: packs a chosen folder into the resource
// image and tells the operator how it went.
#include "FolderBrowser.h"
#include "ResourceBuilder.h"
#include "VelmoraDlg.h"

void CVelmoraDlg::OnCreateResourceBinary() {
  UpdateData(true);
  CFolderBrowser browser(m_host);
  if (!browser.Browse()) return;

  CResourceBuilder builder(m_dloadFile);
  const ResourceResult result = builder.Build(browser.GetPath());
  if (!result.Ok()) {
    m_host.MessageBox(result.message, MB_OK | MB_ICONHAND);
    return;
  }
  m_host.MessageBox(std::string("Resource Binary(") + CResourceBuilder::kImageName +
                        ")가 생성되었습니다.  ",
                    MB_OK);
}
