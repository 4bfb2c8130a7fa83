// Port enumeration over a made-up sysfs tree.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/portlist.h"

namespace vyo {
namespace {

namespace fs = std::filesystem;

class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vyo-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    fs::create_directories(root_ / "class" / "tty");
  }
  void TearDown() override { fs::remove_all(root_); }

  static void WriteFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
  }

  // A device directory under devices/, created as needed.
  fs::path Device(const std::string& rel) {
    const fs::path dir = root_ / "devices" / rel;
    fs::create_directories(dir);
    return dir;
  }

  // A tty class entry; with a device link when `device` is given.
  fs::path Tty(const std::string& name, const fs::path& device = {}) {
    const fs::path entry = root_ / "class" / "tty" / name;
    fs::create_directories(entry);
    if (!device.empty()) fs::create_directory_symlink(device, entry / "device");
    return entry;
  }

  fs::path root_;
};

TEST_F(FakeSysfs, ListsPortsWithHardwareSortedAsText) {
  Tty("ttyUSB2", Device("pci0000:00/usb1/1-2/1-2:1.0/ttyUSB2"));
  Tty("ttyUSB10", Device("pci0000:00/usb1/1-3/1-3:1.0/ttyUSB10"));
  Tty("ttyACM0", Device("pci0000:00/usb1/1-1/1-1:1.0"));
  Tty("tty0");     // virtual console: no device
  Tty("console");  // no device
  Tty("ttyACM9", root_ / "devices" / "vanished");  // dangling link

  // Legacy 8250 ports: only those with a UART behind them count.
  const fs::path platform = Device("platform/serial8250");
  const fs::path drv8250 = root_ / "bus" / "platform" / "drivers" / "serial8250";
  fs::create_directories(drv8250);
  fs::create_directory_symlink(drv8250, platform / "driver");
  WriteFile(Tty("ttyS1", platform) / "type", "0");
  Tty("ttyS2", platform);  // no type attribute at all
  const fs::path pnp = Device("pnp0/00:05");
  const fs::path drvSerial = root_ / "bus" / "pnp" / "drivers" / "serial";
  fs::create_directories(drvSerial);
  fs::create_directory_symlink(drvSerial, pnp / "driver");
  WriteFile(Tty("ttyS0", pnp) / "type", "4");
  WriteFile(Tty("ttyS3", Device("pci0000:00/0000:00:1f.3")) / "type", "0");  // not the placeholder device
  WriteFile(Tty("ttyS4", platform) / "type", "4");  // a real UART on the platform device

  std::vector<std::string> list{"old"};
  EnumComPorts(list, root_.string());
  EXPECT_EQ(list, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS3", "/dev/ttyS4",
                                            "/dev/ttyUSB10", "/dev/ttyUSB2"}));
}

TEST_F(FakeSysfs, DescriptionComesFromTheUsbDevice) {
  const fs::path acmUsb = Device("pci0000:00/usb1/1-1");
  WriteFile(acmUsb / "product", "Vyo VCP");
  WriteFile(acmUsb / "serial", "0001A7");
  WriteFile(acmUsb / "1-1:1.0" / "interface", "CDC ACM");
  Tty("ttyACM0", acmUsb / "1-1:1.0");

  const fs::path ftdi = Device("pci0000:00/usb1/1-2");
  WriteFile(ftdi / "product", "USB Serial");
  Tty("ttyUSB0", Device("pci0000:00/usb1/1-2/1-2:1.0/ttyUSB0"));

  Tty("ttyS0", Device("pnp0/00:05"));

  const std::vector<PortInfo> ports = DescribeComPorts(root_.string());
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].path, "/dev/ttyACM0");
  EXPECT_EQ(ports[0].description, "Vyo VCP (S/N 0001A7)");
  EXPECT_EQ(ports[1].path, "/dev/ttyS0");
  EXPECT_EQ(ports[1].description, "");
  EXPECT_EQ(ports[2].path, "/dev/ttyUSB0");
  EXPECT_EQ(ports[2].description, "USB Serial");
}

TEST_F(FakeSysfs, NoPortsGivesAnEmptyList) {
  Tty("tty0");
  std::vector<std::string> list{"old"};
  EnumComPorts(list, root_.string());
  EXPECT_TRUE(list.empty());
}

TEST_F(FakeSysfs, UnreadableTreeThrowsAndKeepsTheList) {
  std::vector<std::string> list{"/dev/ttyACM0"};
  for (const fs::path& bad : {root_ / "missing", root_ / "class"}) {  // no class/tty below either
    try {
      EnumComPorts(list, bad.string());
      FAIL() << "no error for " << bad;
    } catch (const EComPort& e) {
      EXPECT_EQ(e.code(), 23);
      EXPECT_EQ(e.code(), kComErrEnum);
      EXPECT_NE(e.osError(), 0);
    }
    EXPECT_EQ(list, std::vector<std::string>{"/dev/ttyACM0"});
  }
  EXPECT_THROW(DescribeComPorts((root_ / "missing").string()), EComPort);
}

}  // namespace
}  // namespace vyo
