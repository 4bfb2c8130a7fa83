// The main window: connection, firmware, configuration panel, log and
// progress on one screen, over the same controller as the command line.
// Everything runs on the window thread; long transfers advance from timer
// ticks and received data, so the event loop keeps running throughout.
#pragma once

#include <QMainWindow>
#include <QString>
#include <functional>

#include "app/qt_host.h"
#include "app/window/port_combo.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QTimer;

namespace vyo {

class ConfigPanel;
class ServicePanel;

// "VyoTool v2.42.C"
QString WindowTitle();

struct WindowOptions {
  // Lists the serial ports for the port list; throws EComPort on failure.
  PortComboBox::Lister portLister = [] { return DescribeComPorts(); };
};

class MainWindow : public QMainWindow, public QtHost {
  Q_OBJECT
 public:
  explicit MainWindow(WindowOptions options = {}, QWidget* parent = nullptr);
  ~MainWindow() override;

  // How message boxes are presented. By default a modal QMessageBox with
  // the caption as its title and the given icon; a hook replaces it.
  using MessageHook = std::function<void(const QString& caption, const QString& text, BoxIcon icon)>;
  void setMessageHook(MessageHook hook) { messageHook_ = std::move(hook); }
  // Asked before the window closes while a transfer runs; by default a
  // question box. Returns whether to close anyway.
  using ConfirmHook = std::function<bool(const QString& text)>;
  void setConfirmHook(ConfirmHook hook) { confirmHook_ = std::move(hook); }

  // Event handlers of the controls the controller does not own.
  void B_ConnectClick();
  void Timer5Timer();
  // Chooses a port by path in the port list (a path the listing omits,
  // such as a pseudo-terminal, is added).
  void SelectPort(const QString& path);
  // Replaces the firmware image sent by "FwUpload"; on a file that cannot
  // be used a box says why and the image in use stays. Returns success.
  bool LoadFirmwareFile(const QString& path);
  void UseBuiltinFirmware();
  void ShowServicePanel();

  ConfigPanel* configPanel() const { return panel_; }
  ServicePanel* servicePanel() const { return service_; }
  PortComboBox* portList() const { return portList_; }
  // The log as plain text, one line per entry line.
  QString logText() const;
  QString statusText() const;

  // Host
  void Log(const std::string& text, bool red = false) override;
  void ShowMessage(const std::string& caption, const std::string& text, BoxIcon icon) override;
  void SetProgressMax(int max) override;
  void SetProgress(int position) override;
  PanelValues ReadPanel() override;
  void WritePanel(const PanelValues& values) override;
  void ClearPanelField(PanelField field) override;
  bool PresetChecked() override;
  bool AutoCloseChecked() override;
  void SetConfigControlsEnabled(bool enabled) override;
  void UnitIdentified(const UnitInfo& unit) override;
  void OperationEnded(Outcome outcome, uint32_t transferType) override;

 signals:
  // After each operation the controller reports (Outcome as int).
  void operationEnded(int outcome, unsigned transferType);
  void connectionChanged(bool open);

 protected:
  void ConnectionChanged(bool open) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QWidget* BuildConnection();
  QWidget* BuildFirmware();
  QWidget* BuildConfiguration();
  void UpdateControls();
  void UpdateStatus();
  void ShowFirmwareName();

  PortComboBox* portList_;
  QPushButton* connect_;
  QPushButton* fwTx_;
  QPushButton* fwJump_;
  QPushButton* fwFile_;
  QPushButton* fwBuiltin_;
  QLabel* fwName_;
  QPushButton* getConfig_;
  QPushButton* setConfig_;
  QPushButton* defaults_;
  QPushButton* preset_;
  QCheckBox* presetBox_;
  QCheckBox* autoClose_;
  ConfigPanel* panel_;
  QTextEdit* log_;
  QProgressBar* progress_;
  QLabel* status_;
  QTimer* timer5_;
  ServicePanel* service_;

  MessageHook messageHook_;
  ConfirmHook confirmHook_;
  bool configReady_ = false;  // a read succeeded or a write ended
  bool firmwareFromFile_ = false;
  bool logStarted_ = false;
  bool closing_ = false;
  QString connectedPath_;
  QString unitText_;
  QString activity_;
};

}  // namespace vyo
