#include "app/window/config_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <vector>

#include "app/window/updown.h"
#include "config/panel_names.h"

namespace vyo {
namespace {

struct EditDef {
  const char* name;   // "ED_VMX"; its up/down control is "UD_VMX"
  const char* label;
  const char* hint;   // tooltip: the name the validation uses and the range
  int min, max, step;
};

// Box slots: buzzer on entry, on exit, during; event on entry, on exit.
// An empty name leaves the slot out.
struct GroupDef {
  const char* name;  // "GB_VMX"
  const char* title;
  std::vector<EditDef> edits;
  const char* boxes[5];
  const char* note = nullptr;
};

const std::vector<GroupDef>& Groups() {
  static const std::vector<GroupDef> groups = {
      {"GB_VMX", "Velocidade",
       {{"ED_VMX", "Velocidade (km/h)", "[Velocidade] até 150 km/h", 1, 250, 1},
        {"ED_TVMX", "Tempo validação (s)", "[Tempo validação Velocidade] até 60 s", 0, 60, 1}},
       {"CB_BZ_VMX_IN", "CB_BZ_VMX_OUT", "CB_BZ_VMX_WH", "CB_EV_VMX_IN", "CB_EV_VMX_OUT"}},
      {"GB_VCH", "Velocidade na Chuva",
       {{"ED_VCH", "Velocidade (km/h)", "[Velocidade na Chuva] até 150 km/h", 1, 250, 1},
        {"ED_TVCH", "Tempo validação (s)", "[Tempo validação Velocidade na Chuva] até 60 s", 0, 60, 1}},
       {"CB_BZ_VCH_IN", "CB_BZ_VCH_OUT", "CB_BZ_VCH_WH", "CB_EV_VCH_IN", "CB_EV_VCH_OUT"}},
      {"GB_RPX", "Rotação do Motor",
       {{"ED_RPX", "Rotação (rpm)", "[Rotação do Motor] a partir de 1000 rpm", 1000, 9900, 100},
        {"ED_TRPX", "Tempo validação (s)", "[Tempo validação Rotação] até 60 s", 0, 60, 1}},
       {"CB_BZ_RPX_IN", "CB_BZ_RPX_OUT", "CB_BZ_RPX_WH", "CB_EV_RPX_IN", "CB_EV_RPX_OUT"}},
      {"GB_OSC", "Ociosidade",
       {{"ED_TOSC", "Tempo ociosidade (min)", "[Tempo osciosidade] a partir de 1 min", 1, 255, 1},
        {"ED_XOSC", "Tempo exceção manobra (s)", "[Tempo excessão manobra] até 60 s", 0, 60, 1}},
       {"CB_BZ_OSC_IN", "CB_BZ_OSC_OUT", "CB_BZ_OSC_WH", "CB_EV_OSC_IN", "CB_EV_OSC_OUT"}},
      {"GB_BGL", "Banguela",
       {{"ED_VBGL", "Velocidade min. (km/h)", "[Velocidade min. Banguela] a partir de 1 km/h", 1, 250, 1},
        {"ED_RBGL", "Rotação max. (rpm)", "[Rotação max. Banguela] de 300 a 1000 rpm", 300, 1000, 50},
        {"ED_TBGL", "Tempo validação (s)", "[Tempo validação Banguela] até 30 s", 0, 30, 1}},
       {"CB_BZ_BGL_IN", "CB_BZ_BGL_OUT", "CB_BZ_BGL_WH", "CB_EV_BGL_IN", "CB_EV_BGL_OUT"}},
      {"GB_EBK", "Freio motor",
       {{"ED_VEBK", "Velocidade min. (km/h)", "Velocidade mínima do freio motor", 1, 250, 1},
        {"ED_TEBK", "Tempo validação (s)", "Tempo de validação do freio motor", 0, 60, 1},
        {"ED_REBK", "Rotação min. (rpm)", "Rotação mínima do freio motor", 300, 9900, 100}},
       {"CB_BZ_EBK_IN", "CB_BZ_EBK_OUT", "", "CB_EV_EBK_IN", "CB_EV_EBK_OUT"},
       "O freio motor não faz parte do registro de configuração: estes valores não são gravados no Vyo."},
      {"GB_ACP", "Aceleração",
       {{"ED_ACP", "Limite (km/h/s)", "[Aceleração] até 255 km/h por segundo", 0, 255, 1}},
       {"CB_BZ_ACP", "", "", "CB_EV_ACP", ""}},
      {"GB_ACN", "Desaceleração",
       {{"ED_ACN", "Limite (km/h/s)", "[Desaceleração] até 255 km/h por segundo", 0, 255, 1}},
       {"CB_BZ_ACN", "", "", "CB_EV_ACN", ""}},
  };
  return groups;
}

QLineEdit* AddEdit(QGridLayout* grid, int row, const EditDef& def, QWidget* parent, QList<QLabel*>& labels) {
  auto* label = new QLabel(QString::fromUtf8(def.label), parent);
  QString labelName = QString::fromLatin1(def.name);
  label->setObjectName(labelName.replace(0, 3, QStringLiteral("L_")));
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(def.name));
  edit->setToolTip(QString::fromUtf8(def.hint));
  edit->setMaxLength(6);
  edit->setAlignment(Qt::AlignRight);
  edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 14);
  label->setBuddy(edit);
  auto* ud = new UpDown(edit, def.min, def.max, def.step, parent);
  QString udName = QString::fromLatin1(def.name);
  ud->setObjectName(udName.replace(0, 3, QStringLiteral("UD_")));
  grid->addWidget(label, row, 0);
  auto* pair = new QHBoxLayout;
  pair->setSpacing(1);
  pair->addWidget(edit);
  pair->addWidget(ud);
  pair->addStretch(1);
  grid->addLayout(pair, row, 1, 1, 3);
  labels.append(label);
  return edit;
}

QCheckBox* AddBox(const char* name, const QString& text, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

QGroupBox* BuildGroup(const GroupDef& def, QWidget* parent, QList<QLabel*>& labels) {
  auto* group = new QGroupBox(QString::fromUtf8(def.title), parent);
  group->setObjectName(QString::fromLatin1(def.name));
  if (def.note) group->setToolTip(QString::fromUtf8(def.note));
  auto* grid = new QGridLayout(group);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(3);
  int row = 0;
  for (const EditDef& e : def.edits) AddEdit(grid, row++, e, group, labels);

  const bool twoBoxes = !*def.boxes[1] && !*def.boxes[2] && !*def.boxes[4];
  if (twoBoxes) {
    // One buzzer and one event box: a single row.
    auto* line = new QHBoxLayout;
    line->addWidget(AddBox(def.boxes[0], QStringLiteral("Buzzer"), group));
    line->addWidget(AddBox(def.boxes[3], QStringLiteral("Evento"), group));
    line->addStretch(1);
    grid->addLayout(line, row++, 0, 1, 4);
  } else {
    static const char* const kTexts[5] = {"Entrada", "Saída", "Durante", "Entrada", "Saída"};
    for (int kind = 0; kind < 2; ++kind) {
      auto* label = new QLabel(kind == 0 ? QStringLiteral("Buzzer:") : QStringLiteral("Evento:"), group);
      grid->addWidget(label, row, 0);
      labels.append(label);
      auto* line = new QHBoxLayout;
      for (int slot = kind * 3; slot < (kind == 0 ? 3 : 5); ++slot)
        if (*def.boxes[slot]) line->addWidget(AddBox(def.boxes[slot], QString::fromUtf8(kTexts[slot]), group));
      line->addStretch(1);
      grid->addLayout(line, row++, 1, 1, 3);
    }
  }
  grid->setRowStretch(row, 1);
  grid->setColumnStretch(3, 1);
  return group;
}

QComboBox* AddList(QGridLayout* grid, int row, const char* name, const QString& label, const int* values,
                   int count, QWidget* parent, QList<QLabel*>& labels) {
  auto* l = new QLabel(label, parent);
  l->setObjectName(QString::fromLatin1(name).replace(0, 3, QStringLiteral("L_")));
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::fromLatin1(name));
  for (int i = 0; i < count; ++i) list->addItem(QString::number(values[i]));
  l->setBuddy(list);
  grid->addWidget(l, row, 0);
  grid->addWidget(list, row, 1);
  labels.append(l);
  return list;
}

}  // namespace

ConfigPanel::ConfigPanel(QWidget* parent) : QWidget(parent) {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(6);

  auto* com = new QGroupBox(QStringLiteral("Comunicação"), this);
  com->setObjectName(QStringLiteral("GB_COM"));
  auto* comGrid = new QGridLayout(com);
  comGrid->setVerticalSpacing(3);
  AddList(comGrid, 0, "CB_PING", QStringLiteral("PING (s)"), kPingSeconds, kPingCount, com, fieldLabels_);
  AddList(comGrid, 1, "CB_A232", QStringLiteral("RS232-A (bps)"), kRs232Baud, kRs232Count, com, fieldLabels_);
  AddList(comGrid, 2, "CB_B232", QStringLiteral("RS232-B (bps)"), kRs232Baud, kRs232Count, com, fieldLabels_);
  comGrid->setRowStretch(3, 1);
  comGrid->setColumnStretch(2, 1);

  // Three columns: the speeds and engine speed, idling and coasting, then
  // communication, engine braking and the harsh manoeuvres.
  QGroupBox* g[8];
  for (size_t i = 0; i < Groups().size(); ++i) g[i] = BuildGroup(Groups()[i], this, fieldLabels_);
  grid->addWidget(g[0], 0, 0);  // VMX
  grid->addWidget(g[1], 1, 0);  // VCH
  grid->addWidget(g[2], 2, 0);  // RPX
  grid->addWidget(g[3], 0, 1);  // OSC
  grid->addWidget(g[4], 1, 1);  // BGL
  grid->addWidget(g[5], 2, 1);  // EBK
  grid->addWidget(com, 0, 2);
  auto* harsh = new QVBoxLayout;
  harsh->setSpacing(6);
  harsh->addWidget(g[6]);  // ACP
  harsh->addWidget(g[7]);  // ACN
  grid->addLayout(harsh, 1, 2, 2, 1);
  columns_ = {{g[0], g[1], g[2]}, {g[3], g[4], g[5]}, {com, g[6], g[7]}};

  setValues(DefaultPanel());
}

QWidget* ConfigPanel::control(const QString& name) const { return findChild<QWidget*>(name); }

PanelValues ConfigPanel::values() const {
  PanelValues v;  // lists unselected, boxes empty, checkboxes off
  for (const std::string& name : PanelValueNames()) {
    QWidget* w = control(QString::fromStdString(name));
    std::string text;
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      text = edit->text().toStdString();
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
      text = box->isChecked() ? "true" : "false";
    } else if (auto* list = qobject_cast<QComboBox*>(w)) {
      if (list->currentIndex() < 0) continue;
      text = list->currentText().toStdString();
    } else {
      continue;
    }
    SetPanelValue(v, name, text, nullptr);
  }
  return v;
}

void ConfigPanel::setValues(const PanelValues& values) {
  for (const std::string& name : PanelValueNames()) {
    QWidget* w = control(QString::fromStdString(name));
    const std::optional<std::string> value = GetPanelValue(values, name);
    const QString text = value ? QString::fromStdString(*value) : QString();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      edit->setText(text);
      edit->setModified(false);
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
      box->setChecked(text == QLatin1String("true"));
    } else if (auto* list = qobject_cast<QComboBox*>(w)) {
      list->setCurrentIndex(value ? list->findText(text) : -1);
    }
  }
}

void ConfigPanel::clearField(PanelField field) {
  QWidget* w = control(QString::fromLatin1(PanelFieldName(field)));
  if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->clear();
  else if (auto* list = qobject_cast<QComboBox*>(w)) list->setCurrentIndex(-1);
  if (w) w->setFocus(Qt::OtherFocusReason);
}

void ConfigPanel::alignLabels() {
  for (const QList<QGroupBox*>& column : columns_) {
    QList<QLabel*> labels;
    for (QGroupBox* g : column)
      for (QLabel* l : g->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
        if (fieldLabels_.contains(l)) labels.append(l);
    int widest = 0;
    for (QLabel* l : labels) widest = std::max(widest, l->sizeHint().width());
    for (QLabel* l : labels) l->setMinimumWidth(widest);
  }
}

}  // namespace vyo
