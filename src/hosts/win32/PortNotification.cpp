#include "WinUi.h"

#include "PortNotification.h"

#include <cstddef>
#include <cwctype>
#include <string>

bool PortNotificationFromSystem(const void* header, DevBroadcastPort& out) {
  const auto* hdr = static_cast<const DEV_BROADCAST_HDR*>(header);
  if (hdr == nullptr || hdr->dbch_devicetype != DBT_DEVTYP_PORT) return false;
  const auto* port = static_cast<const DEV_BROADCAST_PORT_W*>(header);
  // The name ends where the notification ends, if no null comes first.
  const size_t room = hdr->dbch_size > offsetof(DEV_BROADCAST_PORT_W, dbcp_name)
                          ? (hdr->dbch_size - offsetof(DEV_BROADCAST_PORT_W, dbcp_name)) / sizeof(wchar_t)
                          : 0;
  std::wstring name;
  for (size_t k = 0; k < room && port->dbcp_name[k] != L'\0'; ++k) name.push_back(port->dbcp_name[k]);
  if (name.rfind(L"\\\\.\\", 0) == 0) name.erase(0, 4);
  if (name.size() < 4 || std::towupper(name[0]) != L'C' || std::towupper(name[1]) != L'O' ||
      std::towupper(name[2]) != L'M')
    return false;
  int number = 0;
  for (size_t k = 3; k < name.size(); ++k) {
    if (name[k] < L'0' || name[k] > L'9' || number > 9999) return false;
    number = number * 10 + (name[k] - L'0');
  }
  if (number <= 0) return false;
  out = DevBroadcastPort();
  out.dbch_devicetype = DBT_DEVTYP_PORT;
  const std::string narrow = Utf8FromWide(name);
  narrow.copy(out.dbcp_name, sizeof out.dbcp_name - 1);
  out.number = number;
  return true;
}
