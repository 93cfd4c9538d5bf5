#include "core/platform/sysfs_provider.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

namespace qmx {

namespace fs = std::filesystem;

namespace {

struct UsbId {
  std::uint32_t vendor = 0;
  std::uint32_t product = 0;
};

// Parses up to four hex digits; nullopt when there are none.
std::optional<std::uint32_t> ParseHex(const char* first, const char* last) {
  std::uint32_t value = 0;
  const auto [end, ec] = std::from_chars(first, last, value, 16);
  if (ec != std::errc() || end == first || end - first > 4) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> HexAfter(const std::string& upper, const std::string& tag) {
  const auto at = upper.find(tag);
  if (at == std::string::npos) return std::nullopt;
  const char* first = upper.data() + at + tag.size();
  const char* last = upper.data() + upper.size();
  const char* digitsEnd = std::find_if(
      first, last, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) == 0; });
  return ParseHex(first, digitsEnd);
}

// "VID_7E51&PID_0A16", either case.
std::optional<UsbId> ParseIdentifier(const std::string& identifier) {
  std::string upper = identifier;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto vendor = HexAfter(upper, "VID_");
  const auto product = HexAfter(upper, "PID_");
  if (!vendor || !product) return std::nullopt;
  return UsbId{*vendor, *product};
}

// The first line without trailing whitespace; nullopt when unreadable or empty.
std::optional<std::string> ReadFirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  if (line.empty()) return std::nullopt;
  return line;
}

std::optional<std::uint32_t> ReadHexFile(const fs::path& file) {
  const auto text = ReadFirstLine(file);
  if (!text) return std::nullopt;
  return ParseHex(text->data(), text->data() + text->size());
}

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

// Entry names of a directory in natural order; none when it cannot be read.
std::vector<std::string> ListNames(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  return names;
}

std::string DisplayName(const std::string& product, const std::string& tty) {
  return product + " (" + tty + ")";
}

// The ttys of one interface: "tty/<name>" (current kernels), "tty:<name>"
// (older ones) and "<port>/tty/<name>" (usb-serial drivers).
void CollectInterfaceTtys(const fs::path& intf, std::vector<std::string>& ttys) {
  for (const std::string& name : ListNames(intf / "tty")) ttys.push_back(name);
  for (const std::string& name : ListNames(intf)) {
    if (name.rfind("tty:", 0) == 0 && name.size() > 4) {
      ttys.push_back(name.substr(4));
    } else if (name != "tty" && IsDirectory(intf / name / "tty")) {
      for (const std::string& sub : ListNames(intf / name / "tty")) ttys.push_back(sub);
    }
  }
}

// Interfaces are the subdirectories named "<dev>:<config>.<interface>".
std::vector<std::string> UsbDeviceTtys(const fs::path& device) {
  std::vector<std::string> ttys;
  for (const std::string& name : ListNames(device)) {
    if (name.find(':') != std::string::npos && IsDirectory(device / name)) {
      CollectInterfaceTtys(device / name, ttys);
    }
  }
  std::sort(ttys.begin(), ttys.end(), NaturalLess);
  ttys.erase(std::unique(ttys.begin(), ttys.end()), ttys.end());
  return ttys;
}

std::vector<std::string> UsbInstanceNames(const fs::path& devicesDir, const UsbId& id) {
  std::vector<std::string> names;
  for (const std::string& dev : ListNames(devicesDir)) {
    const fs::path device = devicesDir / dev;
    if (ReadHexFile(device / "idVendor") != id.vendor) continue;
    if (ReadHexFile(device / "idProduct") != id.product) continue;
    const auto product = ReadFirstLine(device / "product");
    const auto ttys = UsbDeviceTtys(device);
    if (ttys.empty()) {
      names.push_back(product.value_or(std::string()));
      continue;
    }
    for (const std::string& tty : ttys) {
      names.push_back(product ? DisplayName(*product, tty) : std::string());
    }
  }
  return names;
}

// The USB device a tty's device belongs to: the nearest directory at or above
// it with an idVendor (interface -> device, usb-serial port -> interface -> device).
std::optional<fs::path> OwningUsbDevice(const fs::path& device) {
  fs::path at = device;
  for (int level = 0; level < 3 && at.has_relative_path(); ++level, at = at.parent_path()) {
    if (Exists(at / "idVendor")) return at;
  }
  return std::nullopt;
}

std::string PresentName(const fs::path& ttyEntry, const std::string& tty) {
  std::error_code ec;
  const fs::path device = fs::canonical(ttyEntry / "device", ec);
  if (!ec) {
    if (const auto usb = OwningUsbDevice(device)) {
      if (const auto product = ReadFirstLine(*usb / "product")) return DisplayName(*product, tty);
    }
    const fs::path driver = fs::canonical(device / "driver", ec);
    if (!ec && !driver.filename().empty()) return DisplayName(driver.filename().string(), tty);
  }
  return DisplayName("Serial port", tty);
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
  const auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t iEnd = i;
      std::size_t jEnd = j;
      while (iEnd < a.size() && isDigit(a[iEnd])) ++iEnd;
      while (jEnd < b.size() && isDigit(b[jEnd])) ++jEnd;
      // Compare by value without converting: skip leading zeros, then length, then digits.
      std::size_t iSig = i;
      std::size_t jSig = j;
      while (iSig + 1 < iEnd && a[iSig] == '0') ++iSig;
      while (jSig + 1 < jEnd && b[jSig] == '0') ++jSig;
      if (iEnd - iSig != jEnd - jSig) return iEnd - iSig < jEnd - jSig;
      const int cmp = a.compare(iSig, iEnd - iSig, b, jSig, jEnd - jSig);
      if (cmp != 0) return cmp < 0;
      i = iEnd;
      j = jEnd;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  if (i != a.size() || j != b.size()) return j != b.size();
  return a < b;  // equal by value ("ttyS01" vs "ttyS1"): fall back to a total order
}

SysfsDeviceListProvider::SysfsDeviceListProvider(std::string root) : root_(std::move(root)) {}

std::vector<std::string> SysfsDeviceListProvider::InstanceNames(const std::string& identifier) {
  try {
    const auto id = ParseIdentifier(identifier);
    if (!id) return {};
    return UsbInstanceNames(fs::path(root_) / "bus" / "usb" / "devices", *id);
  } catch (...) {  // allocation failure: report nothing found rather than unwind into callers
    return {};
  }
}

std::vector<std::pair<std::string, std::string>> SysfsDeviceListProvider::SerialPortMap() {
  try {
    const fs::path ttyClass = fs::path(root_) / "class" / "tty";
    std::vector<std::pair<std::string, std::string>> map;
    // Virtual consoles and ptys have no device link; a broken link counts as none.
    for (const std::string& name : ListNames(ttyClass)) {
      if (Exists(ttyClass / name / "device")) map.emplace_back(name, name);
    }
    return map;
  } catch (...) {
    return {};
  }
}

std::vector<std::string> SysfsDeviceListProvider::PresentDeviceNames() {
  try {
    const fs::path ttyClass = fs::path(root_) / "class" / "tty";
    std::vector<std::string> names;
    for (const auto& entry : SerialPortMap()) {
      names.push_back(PresentName(ttyClass / entry.first, entry.first));
    }
    return names;
  } catch (...) {
    return {};
  }
}

}  // namespace qmx
