// The serial ports present on the machine, read from sysfs.
#pragma once

#include <string>
#include <vector>

#include "serial/errors.h"

namespace vyo {

struct PortInfo {
  std::string path;         // "/dev/ttyACM0"
  std::string description;  // USB product and serial number where known, else empty
};

// Fills `list` with the device paths of the serial ports present, sorted as
// text. Throws EComPort (kComErrEnum) when the tty class directory under
// `sysfsRoot` cannot be read; `list` is then left as it was.
void EnumComPorts(std::vector<std::string>& list, const std::string& sysfsRoot = "/sys");

// The same ports, in the same order, with a description for the port list.
std::vector<PortInfo> DescribeComPorts(const std::string& sysfsRoot = "/sys");

}  // namespace vyo
