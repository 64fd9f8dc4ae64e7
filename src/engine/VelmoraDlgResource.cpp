// The Create Resource Binary button: packs a chosen folder into the resource
// image and tells the operator how it went.
#include "DloadFile.h"
#include "FolderBrowser.h"
#include "ResourceBuilder.h"
#include "VelmoraDlg.h"

void CVelmoraDlg::OnCreateResourceBinary() {
  UpdateData(true);
  CFolderBrowser browser(m_host);
  if (!browser.Browse()) return;

  // The button works during a run, so the builder measures with a reader of
  // its own: the dialog's reader is the one every running entry reads its
  // next block from.
  CDloadFile measurer(&m_host);
  CResourceBuilder builder(measurer);
  const ResourceResult result = builder.Build(browser.GetPath());
  if (!result.Ok()) {
    m_host.MessageBox(result.message, MB_OK | MB_ICONHAND);
    return;
  }
  m_host.MessageBox(std::string("Resource Binary(") + CResourceBuilder::kImageName +
                        ")가 생성되었습니다.  ",
                    MB_OK);
}
