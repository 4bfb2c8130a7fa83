// The service panel, hidden from the technician's view: the units
// identified since the program started (identifier, version, time), with a
// button that copies the list to the clipboard.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QList>

#include "protocol/identification.h"

class QTableWidget;

namespace vyo {

class ServicePanel : public QDialog {
  Q_OBJECT
 public:
  explicit ServicePanel(QWidget* parent = nullptr);

  // A unit identified itself. The same identifier with the same version is
  // listed once, with the time it was last seen.
  void AddUnit(const UnitInfo& unit, const QDateTime& when = QDateTime::currentDateTime());
  int count() const;
  // The list as text: a header line, then one line per unit, columns
  // separated by tabs.
  QString ListText() const;
  // Puts ListText() on the clipboard.
  void CopyList() const;

 private:
  QTableWidget* table_;
};

}  // namespace vyo
