#include "app/window/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "app/window/app_icon.h"
#include "app/window/config_panel.h"
#include "app/window/service_panel.h"

namespace vyo {

namespace {

constexpr int kVersionMajor = 2;
constexpr int kVersionMinor = 42;
constexpr char kEdition = 'C';
constexpr int kLogMaxLines = 20000;

QPushButton* Button(const char* name, const QString& text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setAutoDefault(false);
  return b;
}

QMessageBox::Icon ToQt(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Warning: return QMessageBox::Warning;
    case BoxIcon::Error: return QMessageBox::Critical;
    case BoxIcon::Information: return QMessageBox::Information;
    case BoxIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

QString FromStd(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

QString WindowTitle() { return QString::asprintf("VyoTool v%d.%d.%c", kVersionMajor, kVersionMinor, kEdition); }

MainWindow::MainWindow(WindowOptions options, QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowIcon(AppIcon());

  portList_ = new PortComboBox(std::move(options.portLister), this);
  portList_->setObjectName(QStringLiteral("CB_Port"));

  auto* central = new QWidget(this);
  auto* root = new QVBoxLayout(central);
  root->setSpacing(6);

  auto* top = new QHBoxLayout;
  top->addWidget(BuildConnection());
  top->addWidget(BuildFirmware(), 1);
  root->addLayout(top);

  auto* middle = new QHBoxLayout;
  middle->addWidget(BuildConfiguration(), 0);
  log_ = new QTextEdit(central);
  log_->setObjectName(QStringLiteral("Log"));
  log_->setReadOnly(true);
  log_->setAcceptRichText(true);
  log_->setLineWrapMode(QTextEdit::WidgetWidth);
  log_->document()->setMaximumBlockCount(kLogMaxLines);
  log_->setMinimumWidth(340);
  auto* logBox = new QGroupBox(QStringLiteral("Mensagens"), central);
  logBox->setObjectName(QStringLiteral("GB_Log"));
  auto* logLayout = new QVBoxLayout(logBox);
  logLayout->addWidget(log_);
  middle->addWidget(logBox, 1);
  root->addLayout(middle, 1);

  setCentralWidget(central);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("L_Status"));
  status_->setContentsMargins(6, 0, 0, 0);
  auto* progressHolder = new QWidget(this);
  auto* progressLayout = new QHBoxLayout(progressHolder);
  progressLayout->setContentsMargins(0, 2, 9, 2);
  progress_ = new QProgressBar(progressHolder);
  progressLayout->addWidget(progress_);
  progress_->setObjectName(QStringLiteral("ProgressBar1"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setFormat(QStringLiteral("%v / %m"));
  progress_->setTextVisible(false);
  progress_->setFixedWidth(340);
  statusBar()->addWidget(status_, 1);
  statusBar()->addPermanentWidget(progressHolder);
  statusBar()->setSizeGripEnabled(false);

  service_ = new ServicePanel(this);
  auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I), this);
  shortcut->setObjectName(QStringLiteral("SC_ServicePanel"));
  connect(shortcut, &QShortcut::activated, this, &MainWindow::ShowServicePanel);

  // Start-up: the port list (the first port chosen only when the ports
  // could be listed), the panel's lists and defaults (built with the
  // panel), the title. The serial port's rate is set by the host; nothing
  // is sent before a port is opened.
  if (portList_->Refill() && portList_->count() > 0) portList_->setCurrentIndex(0);
  setWindowTitle(WindowTitle());

  // Once, after the window is laid out for the first time.
  timer5_ = new QTimer(this);
  timer5_->setObjectName(QStringLiteral("Timer5"));
  timer5_->setSingleShot(true);
  timer5_->setInterval(10);
  connect(timer5_, &QTimer::timeout, this, &MainWindow::Timer5Timer);
  timer5_->start();

  ShowFirmwareName();
  UpdateControls();
  UpdateStatus();
}

MainWindow::~MainWindow() = default;

QWidget* MainWindow::BuildConnection() {
  auto* box = new QGroupBox(QStringLiteral("Conexão"), this);
  box->setObjectName(QStringLiteral("GB_Connection"));
  auto* row = new QHBoxLayout(box);
  auto* label = new QLabel(QStringLiteral("Porta:"), box);
  label->setObjectName(QStringLiteral("L_Port"));
  label->setBuddy(portList_);
  portList_->setParent(box);
  connect_ = Button("B_Connect", QStringLiteral("Conectar"), box);
  connect_->setCheckable(true);
  connect_->setMinimumWidth(110);
  connect(connect_, &QPushButton::clicked, this, [this] { B_ConnectClick(); });
  row->addWidget(label);
  row->addWidget(portList_, 1);
  row->addWidget(connect_);
  return box;
}

QWidget* MainWindow::BuildFirmware() {
  auto* box = new QGroupBox(QStringLiteral("Firmware"), this);
  box->setObjectName(QStringLiteral("GB_Firmware"));
  auto* row = new QHBoxLayout(box);
  fwTx_ = Button("B_FwTx", QStringLiteral("FwUpload"), box);
  fwJump_ = Button("B_FwJump", QStringLiteral("FwJump"), box);
  fwTx_->setToolTip(QStringLiteral("Envia a imagem de firmware ao Vyo em modo de atualização"));
  fwJump_->setToolTip(QStringLiteral("Manda o Vyo sair do modo de atualização e iniciar a aplicação"));
  fwName_ = new QLabel(box);
  fwName_->setObjectName(QStringLiteral("L_Firmware"));
  fwName_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  fwFile_ = Button("B_FwFile", QStringLiteral("Escolher imagem..."), box);
  fwBuiltin_ = Button("B_FwBuiltin", QStringLiteral("Usar a embutida"), box);
  connect(fwTx_, &QPushButton::clicked, this, [this] { controller().B_FwTxClick(); UpdateControls(); });
  connect(fwJump_, &QPushButton::clicked, this, [this] { controller().B_FwJumpClick(); });
  connect(fwFile_, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Imagem de firmware"), QString(),
                                                      QStringLiteral("Imagens de firmware (*.bin);;Todos os arquivos (*)"));
    if (!path.isEmpty()) LoadFirmwareFile(path);
  });
  connect(fwBuiltin_, &QPushButton::clicked, this, [this] { UseBuiltinFirmware(); });
  row->addWidget(fwTx_);
  row->addWidget(fwJump_);
  row->addSpacing(12);
  row->addWidget(fwName_, 1);
  row->addWidget(fwFile_);
  row->addWidget(fwBuiltin_);
  return box;
}

QWidget* MainWindow::BuildConfiguration() {
  auto* box = new QGroupBox(QStringLiteral("Configuração"), this);
  box->setObjectName(QStringLiteral("GB_Config"));
  auto* layout = new QVBoxLayout(box);
  panel_ = new ConfigPanel(box);
  panel_->setObjectName(QStringLiteral("ConfigPanel"));
  layout->addWidget(panel_);

  auto* actions = new QHBoxLayout;
  getConfig_ = Button("B_GetConfig", QStringLiteral("GetConfig"), box);
  getConfig_->setToolTip(QStringLiteral("Lê a configuração gravada no Vyo"));
  setConfig_ = Button("B_SetConfig", QStringLiteral("CONFIGURAR"), box);
  setConfig_->setToolTip(QStringLiteral("Grava no Vyo os valores do painel"));
  QFont bold = setConfig_->font();
  bold.setBold(true);
  setConfig_->setFont(bold);
  setConfig_->setMinimumWidth(130);
  defaults_ = Button("B_Default", QStringLiteral("Padrão"), box);
  defaults_->setToolTip(QStringLiteral("Põe no painel a configuração padrão"));
  preset_ = Button("B_Preset", QStringLiteral("Plenaro"), box);
  preset_->setToolTip(QStringLiteral("Põe no painel a configuração Plenaro"));
  presetBox_ = new QCheckBox(QStringLiteral("Configuração Plenaro"), box);
  presetBox_->setObjectName(QStringLiteral("Cb_Preset"));
  presetBox_->setToolTip(
      QStringLiteral("Quando a configuração lida do Vyo é inválida, grava a configuração Plenaro em vez da padrão"));
  autoClose_ = new QCheckBox(QStringLiteral("Fechar após configurar"), box);
  autoClose_->setObjectName(QStringLiteral("Cb_COMAutoClose"));
  autoClose_->setToolTip(QStringLiteral("Fecha a porta quando a configuração termina de ser gravada"));
  connect(getConfig_, &QPushButton::clicked, this, [this] { controller().B_GetConfigClick(); UpdateControls(); });
  connect(setConfig_, &QPushButton::clicked, this, [this] { controller().B_SetConfigClick(); UpdateControls(); });
  connect(defaults_, &QPushButton::clicked, this, [this] { panel_->setValues(DefaultPanel()); });
  connect(preset_, &QPushButton::clicked, this, [this] { panel_->setValues(PresetPanel()); });
  actions->addWidget(getConfig_);
  actions->addWidget(setConfig_);
  actions->addSpacing(12);
  actions->addWidget(defaults_);
  actions->addWidget(preset_);
  actions->addStretch(1);
  auto* boxes = new QVBoxLayout;
  boxes->setSpacing(2);
  boxes->addWidget(presetBox_);
  boxes->addWidget(autoClose_);
  actions->addLayout(boxes);
  layout->addLayout(actions);
  return box;
}

// ---------------------------------------------------------------------------
// Handlers

void MainWindow::B_ConnectClick() {
  if (IsOpen()) {
    ClosePort();
  } else {
    const QString path = portList_->currentPath();
    if (path.isEmpty()) {
      Log("Nenhuma porta selecionada!", true);
    } else {
      OpenPort(path.toStdString());  // logs the outcome either way
    }
  }
  UpdateControls();
}

void MainWindow::Timer5Timer() {
  panel_->alignLabels();
  if (QLayout* l = centralWidget()->layout()) l->activate();
  const QSize hint = sizeHint();
  resize(std::max(width(), hint.width()), std::max(height(), hint.height()));
}

void MainWindow::SelectPort(const QString& path) { portList_->SelectPath(path); }

bool MainWindow::LoadFirmwareFile(const QString& path) {
  std::string error;
  std::optional<FirmwareImage> image = LoadFirmwareImage(path.toStdString(), &error);
  if (!image) {
    ShowMessage("Erro", error, BoxIcon::Warning);
    return false;
  }
  const size_t size = image->data.size();
  controller().SetFirmware(std::move(*image));
  firmwareFromFile_ = true;
  ShowFirmwareName();
  Log("Imagem de firmware: " + path.toStdString() + " (" + std::to_string(size) + " bytes)");
  UpdateControls();
  return true;
}

void MainWindow::UseBuiltinFirmware() {
  controller().SetFirmware(BuiltinFirmware());
  firmwareFromFile_ = false;
  ShowFirmwareName();
  Log("Imagem de firmware: embutida (" + std::to_string(BuiltinFirmware().data.size()) + " bytes)");
  UpdateControls();
}

void MainWindow::ShowFirmwareName() {
  const FirmwareImage& fw = controller().firmware();
  const QString name = firmwareFromFile_ ? QFileInfo(FromStd(fw.name)).fileName() : QStringLiteral("embutida");
  fwName_->setText(QStringLiteral("Imagem: %1 (%2 bytes)").arg(name).arg(fw.data.size()));
  fwName_->setToolTip(firmwareFromFile_ ? FromStd(fw.name) : QString());
}

void MainWindow::ShowServicePanel() {
  service_->show();
  service_->raise();
  service_->activateWindow();
}

// ---------------------------------------------------------------------------
// Controls

void MainWindow::UpdateControls() {
  const bool open = IsOpen();
  const bool busy = controller().Busy();
  portList_->setEnabled(!open);
  connect_->setChecked(open);
  connect_->setText(open ? QStringLiteral("Desconectar") : QStringLiteral("Conectar"));
  fwTx_->setEnabled(open && !busy);
  fwJump_->setEnabled(open && !busy);
  // The record's address comes with the identification: reading before
  // it would read the wrong place and take it for an invalid record.
  getConfig_->setEnabled(open && !busy && controller().identified());
  setConfig_->setEnabled(open && !busy && configReady_);
  fwFile_->setEnabled(!busy);
  fwBuiltin_->setEnabled(!busy && firmwareFromFile_);
}

void MainWindow::UpdateStatus() {
  QStringList parts;
  parts << (connectedPath_.isEmpty() ? QStringLiteral("Desconectado") : QStringLiteral("Conectado em ") + connectedPath_);
  if (!unitText_.isEmpty()) parts << unitText_;
  if (!activity_.isEmpty()) parts << activity_;
  status_->setText(parts.join(QStringLiteral("  ·  ")));
}

QString MainWindow::statusText() const { return status_->text(); }

QString MainWindow::logText() const { return log_->toPlainText(); }

void MainWindow::ConnectionChanged(bool open) {
  connectedPath_ = open ? FromStd(port().DevicePath()) : QString();
  if (open) {
    configReady_ = false;  // a new unit may be behind the port: read it first
    unitText_.clear();
    activity_ = QStringLiteral("aguardando a identificação do Vyo");
  } else {
    activity_.clear();
  }
  UpdateControls();
  UpdateStatus();
  emit connectionChanged(open);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (controller().Busy()) {
    const QString text = QStringLiteral(
        "Uma transferência está em andamento.\nInterrompê-la pode deixar o Vyo sem firmware ou sem "
        "configuração.\n\nDeseja sair mesmo assim?");
    const bool leave = confirmHook_ ? confirmHook_(text)
                                    : QMessageBox::question(this, QStringLiteral("Sair"), text) == QMessageBox::Yes;
    if (!leave) {
      event->ignore();
      return;
    }
  }
  closing_ = true;
  service_->hide();
  ClosePort();
  event->accept();
}

// ---------------------------------------------------------------------------
// Host

void MainWindow::Log(const std::string& text, bool red) {
  QString all = FromStd(text);
  all.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  QTextCharFormat format;
  format.setForeground(red ? QBrush(Qt::red) : log_->palette().text());
  QTextCursor cursor(log_->document());
  for (const QString& line : all.split('\n')) {
    cursor.movePosition(QTextCursor::End);
    // The document starts with one empty block: the first line goes there.
    if (logStarted_) cursor.insertBlock();
    logStarted_ = true;
    cursor.insertText(line, format);
  }
  log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
}

void MainWindow::ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) {
  UpdateControls();
  QString body = FromStd(text);
  if (closing_) {
    // The technician chose to leave mid-transfer: the interrupted
    // transfer's box would only hold the window up.
    Log(caption + ": " + text, true);
    return;
  }
  if (messageHook_) {
    messageHook_(FromStd(caption), body, icon);
    return;
  }
  body.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  QMessageBox box(ToQt(icon), FromStd(caption), body, QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("MessageBox"));
  box.exec();
}

void MainWindow::SetProgressMax(int max) {
  progress_->setMaximum(std::max(1, max));
  progress_->setTextVisible(false);
  // Called when a session starts.
  if (controller().UploadRunning())
    activity_ = controller().transferType == kTransferFirmware ? QStringLiteral("enviando firmware...")
                                                               : QStringLiteral("gravando configuração...");
  else if (controller().DownloadRunning())
    activity_ = QStringLiteral("lendo configuração...");
  UpdateControls();
  UpdateStatus();
}

void MainWindow::SetProgress(int position) {
  progress_->setValue(std::clamp(position, 0, progress_->maximum()));
  progress_->setTextVisible(position > 0);
}

PanelValues MainWindow::ReadPanel() { return panel_->values(); }

void MainWindow::WritePanel(const PanelValues& values) { panel_->setValues(values); }

void MainWindow::ClearPanelField(PanelField field) { panel_->clearField(field); }

bool MainWindow::PresetChecked() { return presetBox_->isChecked(); }

bool MainWindow::AutoCloseChecked() { return autoClose_->isChecked(); }

void MainWindow::SetConfigControlsEnabled(bool enabled) {
  configReady_ = enabled;
  UpdateControls();
}

void MainWindow::UnitIdentified(const UnitInfo& unit) {
  service_->AddUnit(unit);
  unitText_ = QStringLiteral("Vyo v%1  Id %2").arg(FromStd(unit.VersionText()), FromStd(unit.IdText()));
  activity_.clear();
  UpdateControls();
  UpdateStatus();
}

void MainWindow::OperationEnded(Outcome outcome, uint32_t transferType) {
  switch (outcome) {
    case Outcome::UploadDone:
      activity_ = transferType == kTransferFirmware ? QStringLiteral("firmware enviado")
                                                    : QStringLiteral("configuração gravada");
      break;
    case Outcome::ReadDone: activity_ = QStringLiteral("configuração lida"); break;
    case Outcome::RecordInvalid: activity_ = QStringLiteral("configuração inválida"); break;
    case Outcome::UploadFailed:
    case Outcome::UploadNoConnection: activity_ = QStringLiteral("envio não concluído"); break;
    case Outcome::ReadFailed:
    case Outcome::ReadNoConnection: activity_ = QStringLiteral("leitura não concluída"); break;
    case Outcome::OperationMode: activity_ = QStringLiteral("Vyo em modo de operação"); break;
    case Outcome::ParameterInvalid: activity_ = QStringLiteral("parâmetro inválido"); break;
    case Outcome::Identified:
    case Outcome::FirmwareRefused:
    case Outcome::ConnectionLost: break;
  }
  UpdateControls();
  UpdateStatus();
  emit operationEnded(int(outcome), transferType);
}

}  // namespace vyo
