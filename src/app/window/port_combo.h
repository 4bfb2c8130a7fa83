// The port list: refilled from the serial ports present each time it drops
// down. Each item shows the port's name and, beside it, its description;
// the device path is the item's data.
#pragma once

#include <QComboBox>
#include <functional>
#include <vector>

#include "serial/portlist.h"

namespace vyo {

class PortComboBox : public QComboBox {
  Q_OBJECT
 public:
  // Lists the ports present; throws EComPort when they cannot be listed.
  using Lister = std::function<std::vector<PortInfo>()>;

  explicit PortComboBox(Lister lister, QWidget* parent = nullptr);

  // Refills the list. A failure to list the ports is swallowed and leaves
  // the list as it was; returns whether the listing succeeded. The chosen
  // port stays chosen while it is still present.
  bool Refill();
  // The device path of the chosen item, empty when none.
  QString currentPath() const;
  // Chooses `path` ("ttyACM0" stands for /dev/ttyACM0), adding it to the
  // list when it is not there (a port given by path, such as a
  // pseudo-terminal, that the listing omits).
  void SelectPath(const QString& path);

  static QString ItemText(const PortInfo& port);

  void showPopup() override;

 private:
  Lister lister_;
  QStringList extra_;  // paths chosen by hand, kept across refills
};

}  // namespace vyo
