// Builds the parts of a Linux sysfs tree that discovery reads, in a temporary
// directory, with the kernel's relative symlinks.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace qmx::test {

namespace fs = std::filesystem;

// A fresh directory under the system temp dir, removed with its contents.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "qmx-disc-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

class FakeSysfs {
 public:
  // Current kernels put an interface's ttys in "<intf>/tty/<name>"; older ones
  // linked "<intf>/tty:<name>" to the class entry.
  enum class TtyLayout { TtyDirectory, TtyColonLink };

  std::string Root() const { return dir_.Path().string(); }

  void Write(const std::string& rel, const std::string& content) {
    fs::create_directories((dir_.Path() / rel).parent_path());
    std::ofstream(dir_.Path() / rel) << content;
  }

  // A relative symlink at `rel` pointing at `targetRel`, as sysfs makes them.
  void Link(const std::string& rel, const std::string& targetRel) {
    const fs::path link = dir_.Path() / rel;
    fs::create_directories(link.parent_path());
    fs::create_directory_symlink((dir_.Path() / targetRel).lexically_relative(link.parent_path()),
                                 link);
  }

  // A USB device "<dev>" with one interface "<dev>:1.0" bound to cdc_acm that
  // carries `ttys`. `productFile` is the raw file content; no file when nullopt.
  void AddUsbDevice(const std::string& dev, const std::string& vid, const std::string& pid,
                    const std::optional<std::string>& productFile,
                    const std::vector<std::string>& ttys,
                    TtyLayout layout = TtyLayout::TtyDirectory) {
    const std::string device = "devices/pci0000:00/usb1/" + dev;
    const std::string intf = device + "/" + dev + ":1.0";
    Write(device + "/idVendor", vid + "\n");
    Write(device + "/idProduct", pid + "\n");
    if (productFile) Write(device + "/product", *productFile);
    fs::create_directories(dir_.Path() / "bus/usb/drivers/cdc_acm");
    Link(intf + "/driver", "bus/usb/drivers/cdc_acm");
    Link("bus/usb/devices/" + dev, device);
    for (const std::string& tty : ttys) {
      if (layout == TtyLayout::TtyDirectory) {
        Link(intf + "/tty/" + tty + "/device", intf);
        Link("class/tty/" + tty, intf + "/tty/" + tty);
      } else {
        Link("class/tty/" + tty + "/device", intf);
        Link(intf + "/tty:" + tty, "class/tty/" + tty);
      }
    }
    ttysOf_[dev] = ttys;
  }

  void SetProduct(const std::string& dev, const std::string& productFile) {
    Write("devices/pci0000:00/usb1/" + dev + "/product", productFile);
  }

  // A tty on a platform device, bound to `driver` unless that is empty.
  void AddPlatformTty(const std::string& tty, const std::string& device,
                      const std::string& driver) {
    const std::string path = "devices/platform/" + device;
    fs::create_directories(dir_.Path() / path);
    if (!driver.empty()) {
      fs::create_directories(dir_.Path() / "bus/platform/drivers" / driver);
      Link(path + "/driver", "bus/platform/drivers/" + driver);
    }
    Link("class/tty/" + tty + "/device", path);
  }

  // Virtual consoles and ptys: a class entry with no device behind it.
  void AddVirtualTty(const std::string& tty) { Write("class/tty/" + tty + "/dev", "4:0\n"); }

  // Everything the kernel removes when the device goes.
  void Unplug(const std::string& dev) {
    RemoveDeviceOnly(dev);
    fs::remove(dir_.Path() / "bus/usb/devices" / dev);
    for (const std::string& tty : ttysOf_[dev]) fs::remove_all(dir_.Path() / "class/tty" / tty);
  }

  // Only the device directory, leaving dangling links as a removal in progress does.
  void RemoveDeviceOnly(const std::string& dev) {
    fs::remove_all(dir_.Path() / "devices/pci0000:00/usb1" / dev);
  }

 private:
  TempDir dir_;
  std::map<std::string, std::vector<std::string>> ttysOf_;
};

}  // namespace qmx::test
