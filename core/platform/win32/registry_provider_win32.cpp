#include "core/platform/registry_provider.h"

// windows.h first: setupapi.h relies on its types.
#include <windows.h>

#include <setupapi.h>

#include <cstring>

namespace qmx {

namespace {

constexpr const char* kUsbEnumKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
// Key names are at most 255 characters; names and texts read here fit too.
constexpr DWORD kTextSize = 256;

// One open key below HKEY_LOCAL_MACHINE, closed on every way out.
class Key {
 public:
  explicit Key(const std::string& path) {
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~Key() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  bool IsOpen() const { return key_ != nullptr; }

  std::vector<std::string> SubkeyNames() const {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
      char name[kTextSize] = {};
      DWORD length = kTextSize;
      const LONG rc = ::RegEnumKeyExA(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      // A name too long for the buffer cannot be any instance of ours: skip it.
      if (rc == ERROR_SUCCESS) names.emplace_back(name, length);
    }
    return names;
  }

  std::vector<std::string> ValueNames() const {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
      char name[kTextSize] = {};
      DWORD length = kTextSize;
      const LONG rc = ::RegEnumValueA(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_SUCCESS) names.emplace_back(name, length);
    }
    return names;
  }

  // The value's text up to its first zero byte; "" when it cannot be read.
  // Its type is not examined.
  std::string Text(const char* valueName) const {
    char text[kTextSize + 1] = {};
    DWORD length = kTextSize;
    if (::RegQueryValueExA(key_, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &length) !=
        ERROR_SUCCESS) {
      return {};
    }
    return std::string(text, ::strnlen(text, kTextSize));
  }

 private:
  HKEY key_ = nullptr;
};

bool DeviceText(HDEVINFO list, SP_DEVINFO_DATA& device, DWORD property, std::string& out) {
  char text[kTextSize + 1] = {};
  if (!::SetupDiGetDeviceRegistryPropertyA(list, &device, property, nullptr, reinterpret_cast<BYTE*>(text),
                                           kTextSize, nullptr)) {
    return false;
  }
  out.assign(text, ::strnlen(text, kTextSize));
  return true;
}

}  // namespace

std::vector<std::string> RegistryDeviceListProvider::InstanceNames(const std::string& identifier) {
  try {
    const std::string base = kUsbEnumKey + identifier;
    std::vector<std::string> instances;
    {
      const Key key(base);
      if (!key.IsOpen()) return {};
      instances = key.SubkeyNames();
    }
    std::vector<std::string> names;
    for (const std::string& instance : instances) {
      const Key key(base + "\\" + instance);
      if (key.IsOpen()) names.push_back(key.Text("FriendlyName"));
    }
    return names;
  } catch (...) {  // allocation failure: report nothing found rather than unwind into callers
    return {};
  }
}

std::vector<std::pair<std::string, std::string>> RegistryDeviceListProvider::SerialPortMap() {
  try {
    const Key key(kSerialCommKey);
    if (!key.IsOpen()) return {};
    std::vector<std::pair<std::string, std::string>> map;
    for (std::string& name : key.ValueNames()) {
      std::string port = key.Text(name.c_str());
      map.emplace_back(std::move(name), std::move(port));
    }
    return map;
  } catch (...) {
    return {};
  }
}

std::vector<std::string> RegistryDeviceListProvider::PresentDeviceNames() {
  const HDEVINFO list = ::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (list == INVALID_HANDLE_VALUE) return {};
  std::vector<std::string> names;
  try {
    for (DWORD index = 0;; ++index) {
      SP_DEVINFO_DATA device{};
      device.cbSize = sizeof device;
      if (!::SetupDiEnumDeviceInfo(list, index, &device)) break;
      std::string name;
      if (DeviceText(list, device, SPDRP_FRIENDLYNAME, name) || DeviceText(list, device, SPDRP_DEVICEDESC, name)) {
        names.push_back(std::move(name));
      }
    }
  } catch (...) {
    names.clear();
  }
  ::SetupDiDestroyDeviceInfoList(list);
  return names;
}

}  // namespace qmx
