#include "serial/portlist.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "serial/messages.h"

namespace vyo {
namespace {

namespace fs = std::filesystem;

// First line of a sysfs attribute, without trailing blanks; empty when the
// attribute is absent or unreadable.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\r' || line.back() == '\t'))
    line.pop_back();
  return line;
}

bool IsPlaceholder(const fs::path& entry, const std::string& name) {
  // The 8250 driver registers a fixed number of ttyS ports whether or not
  // there is a UART behind them; those without one report type 0 and hang
  // off the driver's platform device.
  if (name.rfind("ttyS", 0) != 0) return false;
  const std::string type = ReadAttribute(entry / "type");
  if (!type.empty() && type != "0") return false;
  std::error_code ec;
  const fs::path driver = fs::read_symlink(entry / "device" / "driver", ec);
  if (ec) return false;
  if (driver.filename() == "serial8250") return true;
  const fs::path device = fs::read_symlink(entry / "device", ec);
  return !ec && device.filename().string().rfind("serial8250", 0) == 0;
}

// Walks up from the port's device to the USB device that carries a product
// name or serial number, a few levels at most.
std::string UsbDescription(const fs::path& entry) {
  std::error_code ec;
  fs::path dir = fs::canonical(entry / "device", ec);
  if (ec) return {};
  for (int level = 0; level < 6 && dir.has_relative_path(); ++level, dir = dir.parent_path()) {
    const std::string product = ReadAttribute(dir / "product");
    const std::string serial = ReadAttribute(dir / "serial");
    if (product.empty() && serial.empty()) continue;
    std::string text = product;
    if (!serial.empty()) text += (text.empty() ? "S/N " : " (S/N ") + serial + (text.empty() ? "" : ")");
    return text;
  }
  return {};
}

std::vector<PortInfo> ListPorts(const std::string& sysfsRoot, bool describe) {
  const fs::path classDir = fs::path(sysfsRoot) / "class" / "tty";
  std::vector<PortInfo> ports;
  std::error_code ec;
  fs::directory_iterator it(classDir, ec);
  if (ec) throw commsg::EnumFailed(classDir.string(), ec.value());
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    const fs::path entry = it->path();
    const std::string name = entry.filename().string();
    std::error_code linkEc;
    // Only ports with hardware behind them have a device link.
    if (!fs::exists(entry / "device", linkEc) || IsPlaceholder(entry, name)) continue;
    ports.push_back({"/dev/" + name, describe ? UsbDescription(entry) : std::string()});
  }
  if (ec) throw commsg::EnumFailed(classDir.string(), ec.value());
  std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) { return a.path < b.path; });
  return ports;
}

}  // namespace

void EnumComPorts(std::vector<std::string>& list, const std::string& sysfsRoot) {
  const std::vector<PortInfo> ports = ListPorts(sysfsRoot, false);
  std::vector<std::string> paths;
  paths.reserve(ports.size());
  for (const PortInfo& p : ports) paths.push_back(p.path);
  list = std::move(paths);
}

std::vector<PortInfo> DescribeComPorts(const std::string& sysfsRoot) { return ListPorts(sysfsRoot, true); }

}  // namespace vyo
