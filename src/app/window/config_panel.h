// The configuration panel: one group box per monitored item with its edit
// boxes, up/down controls and buzzer and event boxes, and the PING and
// RS232 lists. Every control carries its control name as objectName, and
// values move between the widgets and PanelValues by those names.
#pragma once

#include <QWidget>

#include "config/panel.h"
#include "config/record.h"

class QGroupBox;
class QLabel;

namespace vyo {

class ConfigPanel : public QWidget {
  Q_OBJECT
 public:
  explicit ConfigPanel(QWidget* parent = nullptr);

  PanelValues values() const;
  void setValues(const PanelValues& values);
  // Empties an edit box or unselects a list, and puts the focus there.
  void clearField(PanelField field);
  // The control of that name (ED_VMX, UD_VMX, CB_PING, CB_BZ_VMX_IN, ...).
  QWidget* control(const QString& name) const;

  // Gives the field labels of all groups one width, so the edit boxes of
  // the groups in a column line up.
  void alignLabels();

 private:
  QList<QLabel*> fieldLabels_;
  QList<QList<QGroupBox*>> columns_;
};

}  // namespace vyo
