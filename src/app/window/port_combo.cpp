#include "app/window/port_combo.h"

namespace vyo {

PortComboBox::PortComboBox(Lister lister, QWidget* parent) : QComboBox(parent), lister_(std::move(lister)) {
  setSizeAdjustPolicy(QComboBox::AdjustToContents);
  setMinimumContentsLength(14);
}

QString PortComboBox::ItemText(const PortInfo& port) {
  QString name = QString::fromStdString(port.path);
  if (name.startsWith(QLatin1String("/dev/")) && name.indexOf('/', 5) < 0) name = name.mid(5);
  if (port.description.empty()) return name;
  return name + QStringLiteral("  —  ") + QString::fromStdString(port.description);
}

bool PortComboBox::Refill() {
  std::vector<PortInfo> ports;
  try {
    ports = lister_();
  } catch (const EComPort&) {
    return false;  // the list stays as it was
  }
  const QString chosen = currentPath();
  for (const PortInfo& p : ports) extra_.removeAll(QString::fromStdString(p.path));
  QSignalBlocker block(this);
  clear();
  for (const PortInfo& p : ports) addItem(ItemText(p), QString::fromStdString(p.path));
  for (const QString& path : extra_) addItem(ItemText({path.toStdString(), {}}), path);
  const int index = chosen.isEmpty() ? -1 : findData(chosen);
  setCurrentIndex(index);
  return true;
}

QString PortComboBox::currentPath() const { return currentIndex() < 0 ? QString() : currentData().toString(); }

void PortComboBox::SelectPath(const QString& given) {
  // A bare device name ("ttyACM0") is the device under /dev.
  const QString path = given.contains('/') ? given : QStringLiteral("/dev/") + given;
  int index = findData(path);
  if (index < 0) {
    extra_.append(path);
    addItem(ItemText({path.toStdString(), {}}), path);
    index = count() - 1;
  }
  setCurrentIndex(index);
}

void PortComboBox::showPopup() {
  Refill();
  QComboBox::showPopup();
}

}  // namespace vyo
