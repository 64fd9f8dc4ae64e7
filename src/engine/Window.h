// The dialog's window vocabulary, shared by the engine and its hosts: the
// messages it is sent, the device-change notification, message boxes, and
// what the receive thread and the image reader need of the window. Message
// numbers and box flags keep the values the handsets' tool has always used,
// so logs and traces read the same on every platform.
#pragma once

#include <cstdint>
#include <string>

#include "link/LinkEvents.h"

// Window messages.
constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_COMMAND = 0x0111;
constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_DEVICECHANGE = 0x0219;

// Entry-indexed messages: number = base + entry index (0..19); both
// parameters are always 0.
constexpr uint32_t WM_ENTRY_PACKET = WM_USER + 0x143;
constexpr uint32_t WM_SLIDER_CHANGED = WM_USER + 0x166;
constexpr uint32_t WM_ENTRY_RXEND = WM_USER + 0x190;
constexpr uint32_t WM_ENTRY_LOG = WM_USER + 0x1AE;
/// The links a DownLoad opens side by side are all open (or failed);
/// wParam tells which DownLoad, lParam is 0.
constexpr uint32_t WM_LINKS_OPENED = WM_USER + 0x1D0;

/// Every message the engine is sent by itself and its threads lies in
/// [WM_ENGINE_FIRST, WM_ENGINE_END): above the dialog manager's own
/// WM_USER + 0..2, below WM_APP. A host that hands such messages on tests the
/// range, not a list that would go stale with the next message.
constexpr uint32_t WM_ENGINE_FIRST = WM_USER + 0x100;
constexpr uint32_t WM_ENGINE_END = 0x8000;
static_assert(WM_ENGINE_FIRST <= WM_ENTRY_PACKET && WM_LINKS_OPENED < WM_ENGINE_END);

constexpr int MAX_ENTRIES = 20;

// Device-change notification codes (WM_DEVICECHANGE wParam) and the one
// device type the dialog reacts to.
constexpr uintptr_t DBT_DEVICEARRIVAL = 0x8000;
constexpr uintptr_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr uint32_t DBT_DEVTYP_PORT = 3;

/// The notification a WM_DEVICECHANGE carries in lParam (a pointer to it,
/// valid for the duration of the dispatch only). A host that knows the port's
/// number hands it over as it is; one that has only the system's name (as a
/// Windows host will) leaves `number` 0 and the dialog reads the name.
struct DevBroadcastPort {
  uint32_t dbch_devicetype = DBT_DEVTYP_PORT;
  char dbcp_name[32] = {};  ///< port name, "COM<n>"; read only when number is 0
  int number = 0;           ///< the COM number, 0 when only the name is known
};

// Message box buttons, icons and answers.
constexpr uint32_t MB_OK = 0x0000;
constexpr uint32_t MB_YESNO = 0x0004;
constexpr uint32_t MB_ICONHAND = 0x0010;         ///< stop icon
constexpr uint32_t MB_ICONQUESTION = 0x0020;
constexpr uint32_t MB_ICONEXCLAMATION = 0x0030;  ///< warning icon
constexpr uint32_t MB_ICONINFORMATION = 0x0040;
constexpr uint32_t MB_DEFBUTTON2 = 0x0100;      ///< the second button (No) is the default
constexpr uint32_t MB_SYSTEMMODAL = 0x1000;
constexpr uint32_t MB_BUTTONMASK = 0x000F;
constexpr uint32_t MB_ICONMASK = 0x00F0;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

/// The dialog's window as the receive thread and the image reader see it.
/// A link reports to it too: its news becomes the entry's messages.
class IWindow : public ILinkEvents {
 public:
  virtual ~IWindow() = default;

  /// Queues a message for the dialog's thread. Safe to call from any thread;
  /// never blocks. Returns false when the message could not be queued.
  virtual bool PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) = 0;

  /// Shows a modal message box on the dialog's thread. `type` combines one
  /// MB_ button set with one MB_ icon (and MB_DEFBUTTON2, MB_SYSTEMMODAL); the answer is
  /// IDOK, IDYES or IDNO (closing a Yes/No box answers IDNO).
  virtual int MessageBox(const std::string& text, uint32_t type) = 0;

  // What a link reports, as the entry messages the dialog handles. An entry
  // outside 0..19 has no message: nothing is posted for it.
  void PacketWaiting(int entry) final { PostEntryMessage(WM_ENTRY_PACKET, entry); }
  void LogLinesWaiting(int entry) final { PostEntryMessage(WM_ENTRY_LOG, entry); }
  void ShowMessage(const std::string& text) final { MessageBox(text, MB_OK); }

 private:
  void PostEntryMessage(uint32_t base, int entry) {
    if (entry >= 0 && entry < MAX_ENTRIES) PostMessage(base + static_cast<uint32_t>(entry), 0, 0);
  }
};
