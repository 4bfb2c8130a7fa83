#include "app/window/service_panel.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vyo {
namespace {
enum Column { kId, kVersion, kTime, kDescription, kColumns };

// The identification texts are fixed-width fields that may be padded with
// zeros or hold other control bytes: show only what prints.
QString Printable(const std::string& text) {
  QString out;
  for (const QChar c : QString::fromStdString(text))
    if (c.isPrint()) out += c;
  return out.simplified();
}
}  // namespace

ServicePanel::ServicePanel(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ServicePanel"));
  setWindowTitle(QStringLiteral("Vyos identificados"));
  auto* layout = new QVBoxLayout(this);
  auto* hint = new QLabel(QStringLiteral("Unidades identificadas desde que o programa foi aberto:"), this);
  layout->addWidget(hint);
  table_ = new QTableWidget(0, kColumns, this);
  table_->setObjectName(QStringLiteral("TW_Units"));
  table_->setHorizontalHeaderLabels(
      {QStringLiteral("Identificador"), QStringLiteral("Versão"), QStringLiteral("Hora"), QStringLiteral("Descrição")});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setAlternatingRowColors(true);
  layout->addWidget(table_);
  auto* buttons = new QHBoxLayout;
  auto* copy = new QPushButton(QStringLiteral("Copiar lista"), this);
  copy->setObjectName(QStringLiteral("B_CopyUnits"));
  auto* close = new QPushButton(QStringLiteral("Fechar"), this);
  close->setObjectName(QStringLiteral("B_CloseUnits"));
  buttons->addStretch(1);
  buttons->addWidget(copy);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  connect(copy, &QPushButton::clicked, this, &ServicePanel::CopyList);
  connect(close, &QPushButton::clicked, this, &QDialog::hide);
  resize(640, 300);
}

void ServicePanel::AddUnit(const UnitInfo& unit, const QDateTime& when) {
  const QString id = QString::fromStdString(unit.IdText());
  const QString version = QString::fromStdString(unit.VersionText());
  int row = 0;
  while (row < table_->rowCount() &&
         !(table_->item(row, kId)->text() == id && table_->item(row, kVersion)->text() == version))
    ++row;
  if (row == table_->rowCount()) {
    table_->insertRow(row);
    table_->setItem(row, kId, new QTableWidgetItem(id));
    table_->setItem(row, kVersion, new QTableWidgetItem(version));
    table_->setItem(row, kTime, new QTableWidgetItem);
    table_->setItem(row, kDescription, new QTableWidgetItem);
  }
  table_->item(row, kTime)->setText(when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")));
  table_->item(row, kDescription)->setText(Printable(unit.Description()));
  table_->resizeColumnsToContents();
}

int ServicePanel::count() const { return table_->rowCount(); }

QString ServicePanel::ListText() const {
  QStringList lines;
  QStringList header;
  for (int c = 0; c < kColumns; ++c) header << table_->horizontalHeaderItem(c)->text();
  lines << header.join('\t');
  for (int r = 0; r < table_->rowCount(); ++r) {
    QStringList cells;
    for (int c = 0; c < kColumns; ++c) cells << table_->item(r, c)->text();
    lines << cells.join('\t');
  }
  return lines.join('\n') + '\n';
}

void ServicePanel::CopyList() const { QApplication::clipboard()->setText(ListText()); }

}  // namespace vyo
