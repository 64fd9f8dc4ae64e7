// Port Search on Windows: the serial device map the serial drivers keep in
// the registry, one value per port present.
#include "platform/PortDiscovery.h"

#include "platform/PortMap.h"
#include "platform/WinApi.h"

namespace {

constexpr const wchar_t* kDeviceMapKey = L"HARDWARE\\DEVICEMAP\\SERIALCOMM\\";

/// n of "COMn" (all its digits: COM12 is 12), 0 for anything else.
int ComNumber(const std::string& data) {
  if (data.size() < 4 || data.size() > 6 || data.compare(0, 3, "COM") != 0 || data[3] == '0') return 0;
  int n = 0;
  for (size_t i = 3; i < data.size(); ++i) {
    if (data[i] < '0' || data[i] > '9') return 0;
    n = n * 10 + (data[i] - '0');
  }
  return n;
}

}  // namespace

std::vector<std::string> CPortDiscovery::Find() const {
  std::vector<std::string> paths;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeviceMapKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return paths;
  DWORD values = 0, longestName = 0, longestData = 0;
  // A key that cannot be read is one without values.
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longestName,
                         &longestData, nullptr, nullptr) != ERROR_SUCCESS)
    values = 0;
  std::wstring name(longestName + 1, L'\0');
  std::wstring data(longestData / sizeof(wchar_t) + 2, L'\0');
  auto trace = [this](const std::string& line) {
    if (m_options.trace) m_options.trace(line);
  };
  for (DWORD j = 0; j < values; ++j) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataBytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    DWORD type = 0;
    // A value that changed under the scan (a port coming or going) is
    // passed over; the next search sees it.
    if (::RegEnumValueW(key, j, name.data(), &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                        &dataBytes) != ERROR_SUCCESS)
      continue;
    if (type != REG_SZ) continue;
    DWORD dataLength = dataBytes / sizeof(wchar_t);
    while (dataLength > 0 && data[dataLength - 1] == L'\0') --dataLength;
    PortIdentity identity;
    identity.kernelName = Utf8FromWide(name.data(), nameLength);
    const std::string port = Utf8FromWide(data.data(), dataLength);
    if (identity.kernelName.size() > MAX_PORT_NAME_LENGTH || port.size() > MAX_PORT_NAME_LENGTH) {
      Skip(identity.kernelName.size() > MAX_PORT_NAME_LENGTH ? identity.kernelName : port);
      continue;
    }
    if (!PortIdentityMatches(identity, m_options.fragments)) continue;
    const int number = ComNumber(port);
    if (number < 1 || number > MAX_COM_PORT) {
      trace("Serial device skipped, port name not COM1..COM" + std::to_string(MAX_COM_PORT) + ": " +
            identity.kernelName + " = " + port + "\n");
      continue;
    }
    paths.push_back("\\\\.\\COM" + std::to_string(number));
  }
  ::RegCloseKey(key);
  return paths;
}
