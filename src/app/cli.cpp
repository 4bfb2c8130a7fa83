// vyotool-cli: the tool's road from a terminal or a script.
//
// stdout: each line the window would log, as logged (with --json, the log
// goes to stderr and stdout carries only the JSON document).
// stderr: each message box as "CAPTION: text", usage errors, the progress
// bar when stderr is a terminal.
// Exit codes: 0 done; 1 the operation failed; 2 usage; 3 no connection;
// 4 the unit is in operation mode; 5 no identification in time.

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/panel_json.h"
#include "app/qt_host.h"
#include "config/panel_names.h"
#include "serial/portlist.h"

namespace vyo {
namespace {

enum Exit { kDone = 0, kFailed = 1, kUsage = 2, kNoConnection = 3, kOperationMode = 4, kNoIdentification = 5 };

const char* const kUsageText =
    "Usage: vyotool-cli [--port PORT] [--wait SECONDS] COMMAND [options]\n"
    "\n"
    "Commands:\n"
    "  ports                      list the serial ports present\n"
    "  identify [--json]          wait for the unit's identification and show it\n"
    "  jump                       send the start command (leave update mode)\n"
    "  connect [--preset]         the window's road: identification, then firmware\n"
    "                             update or configuration read (an invalid record is\n"
    "                             replaced by the defaults or the preset and written)\n"
    "  read-config [--json]       read the configuration record and print it\n"
    "  write-config [--from FILE] [--set NAME=VALUE]... [--defaults|--preset]\n"
    "                             read the record, apply the profile and the values\n"
    "                             over it, validate and write it\n"
    "  flash [--image FILE]       upload the firmware (built-in image by default)\n"
    "  demo                       run connect against a simulated unit\n"
    "\n"
    "PORT is a device name (ttyACM0) or path. Without --port every port present is\n"
    "opened, with several --port those given, and the first unit that identifies\n"
    "itself within --wait (default 10 s) is used; nothing is written to a port\n"
    "whose unit has not identified itself.\n"
    "\n"
    "Names for --set and the JSON profile are the panel's control names: CB_PING\n"
    "(seconds), CB_A232 and CB_B232 (baud), ED_ACP ... ED_TBGL (integers), CB_BZ_*\n"
    "and CB_EV_* (true/false).\n"
    "\n"
    "Exit codes: 0 done, 1 operation failed, 2 usage, 3 no connection,\n"
    "4 unit in operation mode, 5 no identification.\n";

struct CliOptions {
  std::string command;
  std::vector<std::string> ports;
  int waitSeconds = 10;
  bool json = false, preset = false, defaults = false;
  std::string from, image;
  std::vector<std::string> sets;
};

void PrintLine(FILE* f, const std::string& text) {
  std::fputs(text.c_str(), f);
  std::fputc('\n', f);
  std::fflush(f);
}

// Splits a log entry or box text at its "\r\n".
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t p = text.find("\r\n", start);
    out.push_back(text.substr(start, p == std::string::npos ? std::string::npos : p - start));
    if (p == std::string::npos) return out;
    start = p + 2;
  }
}

class CliHost : public QtHost {
 public:
  CliHost(ControllerOptions options, std::string portName, bool preset, bool logToStderr)
      : QtHost(options), name(std::move(portName)), preset_(preset), logFile_(logToStderr ? stderr : stdout) {}

  std::string name;
  bool buffering = false;  // hold the log until this port is chosen
  bool silent = false;     // a port not chosen: drop its output
  PanelValues panel = DefaultPanel();
  std::function<void(CliHost&, Outcome, uint32_t)> onOutcome;

  void Flush() {
    buffering = false;
    for (const std::string& l : buffered_) PrintLine(logFile_, l);
    buffered_.clear();
  }

  void Log(const std::string& text, bool) override {
    if (silent) return;
    for (const std::string& l : Lines(text)) {
      if (buffering) buffered_.push_back(l);
      else PrintLine(logFile_, l);
    }
  }
  void ShowMessage(const std::string& caption, const std::string& text, BoxIcon) override {
    if (silent) return;
    ClearProgress();
    std::string joined;
    for (const std::string& l : Lines(text)) joined += (joined.empty() ? "" : "\n") + l;
    PrintLine(stderr, caption + ": " + joined);
  }
  void SetProgressMax(int max) override { max_ = max; }
  void SetProgress(int pos) override {
    if (silent || !stderrIsTerminal_) return;
    if (pos <= 0 || max_ <= 0) {
      ClearProgress();
      return;
    }
    const int width = 40, done = int(int64_t(pos) * width / max_);
    std::fprintf(stderr, "\r[%s%s] %d/%d", std::string(size_t(done), '#').c_str(),
                 std::string(size_t(width - done), '-').c_str(), pos, max_);
    std::fflush(stderr);
    drawn_ = true;
  }
  PanelValues ReadPanel() override { return panel; }
  void WritePanel(const PanelValues& v) override { panel = v; }
  void ClearPanelField(PanelField f) override {
    switch (f) {
      case PanelField::CB_PING: panel.CB_PING = -1; break;
      case PanelField::CB_A232: panel.CB_A232 = -1; break;
      case PanelField::CB_B232: panel.CB_B232 = -1; break;
      default: SetPanelValue(panel, PanelFieldName(f), "", nullptr); break;
    }
  }
  bool PresetChecked() override { return preset_; }
  bool AutoCloseChecked() override { return false; }
  void SetConfigControlsEnabled(bool) override {}
  void OperationEnded(Outcome o, uint32_t type) override {
    if (onOutcome) onOutcome(*this, o, type);
  }

 private:
  void ClearProgress() {
    if (drawn_) std::fputs("\r\033[K", stderr);
    drawn_ = false;
  }
  bool preset_;
  const bool stderrIsTerminal_ = isatty(STDERR_FILENO) != 0;
  FILE* logFile_;
  std::vector<std::string> buffered_;
  int max_ = 0;
  bool drawn_ = false;
};

QJsonObject UnitJson(const UnitInfo& u, const std::string& port) {
  QJsonObject o;
  o["port"] = QString::fromStdString(port);
  o["mode"] = u.mode;
  o["id"] = QJsonArray{QString::asprintf("%.8X", u.id[0]), QString::asprintf("%.8X", u.id[1]),
                       QString::asprintf("%.8X", u.id[2])};
  o["version"] = QString::fromStdString(u.VersionText());
  o["description"] = QString::fromStdString(u.Description());
  o["baseAddress"] = QString::asprintf("0x%.8X", u.baseAddress);
  return o;
}

class Runner {
 public:
  Runner(CliOptions opt) : opt_(std::move(opt)) {}

  bool followAfterFirmware = false;  // demo: go on when the unit restarts

  int Run() {
    if (!PrepareProfile()) return kUsage;
    ControllerOptions co;
    co.followGate = false;
    co.replaceInvalidRecord = opt_.command == "connect" || opt_.command == "demo";
    std::vector<std::string> ports = opt_.ports;
    if (ports.empty()) {
      try {
        EnumComPorts(ports);
      } catch (const EComPort& e) {
        PrintLine(stderr, std::string("vyotool-cli: ") + e.what());
        return kNoConnection;
      }
      if (ports.empty()) {
        PrintLine(stderr, "vyotool-cli: no serial port present; connect the unit or give --port");
        return kNoConnection;
      }
    }
    const bool scanning = ports.size() > 1 || opt_.ports.empty();
    for (const std::string& p : ports) {
      auto host = std::make_unique<CliHost>(co, p, opt_.preset, opt_.json);
      if (image_) host->controller().SetFirmware(*image_);
      host->buffering = scanning;
      host->onOutcome = [this](CliHost& h, Outcome o, uint32_t t) { OnOutcome(h, o, t); };
      std::string error;
      if (!host->OpenPort(p, &error)) {
        if (!scanning) {
          host->Flush();
          PrintLine(stderr, "vyotool-cli: " + p + ": " + error);
          return kNoConnection;
        }
        continue;
      }
      hosts_.push_back(std::move(host));
    }
    if (hosts_.empty()) {
      PrintLine(stderr, "vyotool-cli: none of the serial ports could be opened");
      return kNoConnection;
    }
    if (opt_.command == "jump" && !scanning) {
      hosts_[0]->controller().B_FwJumpClick();
      return kDone;
    }
    waitTimer_.setSingleShot(true);
    QObject::connect(&waitTimer_, &QTimer::timeout, [this] { OnWaitExpired(); });
    waitTimer_.start(opt_.waitSeconds * 1000);
    const int code = QCoreApplication::exec();
    for (auto& h : hosts_) {
      h->silent = h.get() != chosen_;
      h->ClosePort();
    }
    return finished_ ? exit_ : code;
  }

 private:
  bool PrepareProfile() {
    std::string error;
    if (!opt_.from.empty()) {
      QFile f(QString::fromStdString(opt_.from));
      if (!f.open(QIODevice::ReadOnly)) {
        PrintLine(stderr, "vyotool-cli: cannot read " + opt_.from);
        return false;
      }
      profile_ = f.readAll();
      PanelValues probe = DefaultPanel();
      if (!PanelFromJson(profile_, probe, &error)) {
        PrintLine(stderr, "vyotool-cli: " + opt_.from + ": " + error);
        return false;
      }
    }
    for (const std::string& s : opt_.sets) {
      const size_t eq = s.find('=');
      PanelValues probe = DefaultPanel();
      if (eq == std::string::npos) {
        PrintLine(stderr, "vyotool-cli: --set expects NAME=VALUE, got '" + s + "'");
        return false;
      }
      if (!SetPanelValue(probe, s.substr(0, eq), s.substr(eq + 1), &error)) {
        PrintLine(stderr, "vyotool-cli: --set " + s + ": " + error);
        return false;
      }
    }
    if (!opt_.image.empty()) {
      image_ = LoadFirmwareImage(opt_.image, &error);
      if (!image_) {
        PrintLine(stderr, "vyotool-cli: " + error);
        return false;
      }
    }
    return true;
  }

  // The file's values and then the --set values, over `base`.
  PanelValues ApplyProfile(PanelValues base) {
    if (!profile_.isEmpty()) PanelFromJson(profile_, base, nullptr);
    for (const std::string& s : opt_.sets) {
      const size_t eq = s.find('=');
      SetPanelValue(base, s.substr(0, eq), s.substr(eq + 1), nullptr);
    }
    return base;
  }

  void Finish(int code) {
    if (finished_) return;
    finished_ = true;
    exit_ = code;
    waitTimer_.stop();
    QTimer::singleShot(0, [code] { QCoreApplication::exit(code); });
  }

  void OnWaitExpired() {
    if (chosen_ && waitingRestart_) {
      PrintLine(stderr, "vyotool-cli: the unit did not identify itself again after the update");
      Finish(kDone);
      return;
    }
    PrintLine(stderr, "vyotool-cli: no identification within " + std::to_string(opt_.waitSeconds) + " s");
    Finish(kNoIdentification);
  }

  void Choose(CliHost& h) {
    chosen_ = &h;
    waitTimer_.stop();
    h.Flush();
    for (auto& other : hosts_)
      if (other.get() != &h) {
        other->silent = true;
        other->ClosePort();
      }
  }

  void OnOutcome(CliHost& h, Outcome o, uint32_t type) {
    if (finished_) return;
    if (chosen_ && &h != chosen_) return;
    Controller& ctl = h.controller();
    switch (o) {
      case Outcome::Identified:
        if (!chosen_) Choose(h);
        waitingRestart_ = false;
        waitTimer_.stop();
        StartCommand(h);
        break;
      case Outcome::OperationMode:
        if (!chosen_) Choose(h);
        Finish(kOperationMode);
        break;
      case Outcome::UploadDone:
        if (type == kTransferFirmware && followAfterFirmware) {
          waitingRestart_ = true;
          waitTimer_.start(opt_.waitSeconds * 1000);
          break;
        }
        Finish(kDone);
        break;
      case Outcome::ReadDone:
        if (opt_.command == "read-config") {
          PrintValues(h.panel);
          Finish(kDone);
        } else if (opt_.command == "write-config") {
          h.panel = ApplyProfile(opt_.defaults ? DefaultPanel() : opt_.preset ? PresetPanel() : h.panel);
          ctl.B_SetConfigClick();
        } else {
          Finish(kDone);
        }
        break;
      case Outcome::RecordInvalid:
        if (opt_.command == "write-config") {
          h.panel = ApplyProfile(opt_.preset ? PresetPanel() : DefaultPanel());
          ctl.B_SetConfigClick();
        } else if (opt_.command == "read-config") {
          Finish(kFailed);
        }  // connect: the controller writes the defaults itself
        break;
      case Outcome::UploadFailed:
      case Outcome::ReadFailed:
      case Outcome::ParameterInvalid:
      case Outcome::FirmwareRefused:
        Finish(kFailed);
        break;
      case Outcome::UploadNoConnection:
      case Outcome::ReadNoConnection:
      case Outcome::ConnectionLost:
        Finish(kNoConnection);
        break;
    }
  }

  void StartCommand(CliHost& h) {
    Controller& ctl = h.controller();
    const std::string& c = opt_.command;
    if (c == "identify") {
      if (opt_.json) PrintLine(stdout, QJsonDocument(UnitJson(ctl.unit(), h.name)).toJson(QJsonDocument::Indented).trimmed().toStdString());
      Finish(kDone);
    } else if (c == "jump") {
      ctl.B_FwJumpClick();
      Finish(kDone);
    } else if (c == "connect" || c == "demo") {
      if (VersionGate(ctl.unit().major, ctl.unit().release, ctl.unit().build) == GateAction::LogOnly) {
        Finish(kDone);
        return;
      }
      ctl.FollowGate();
    } else if (c == "read-config" || c == "write-config") {
      ctl.B_GetConfigClick();
    } else if (c == "flash") {
      ctl.B_FwTxClick();
    }
  }

  void PrintValues(const PanelValues& v) {
    if (opt_.json) {
      PrintLine(stdout, QJsonDocument(PanelToJson(v)).toJson(QJsonDocument::Indented).trimmed().toStdString());
      return;
    }
    for (const std::string& name : PanelValueNames())
      PrintLine(stdout, name + "=" + GetPanelValue(v, name).value_or(""));
  }

  CliOptions opt_;
  std::vector<std::unique_ptr<CliHost>> hosts_;
  CliHost* chosen_ = nullptr;
  QTimer waitTimer_;
  bool finished_ = false, waitingRestart_ = false;
  int exit_ = 0;
  QByteArray profile_;
  std::optional<FirmwareImage> image_;
};

int ListPorts() {
  std::vector<PortInfo> ports;
  try {
    ports = DescribeComPorts();
  } catch (const EComPort& e) {
    PrintLine(stderr, std::string("vyotool-cli: ") + e.what());
    return kNoConnection;
  }
  for (const PortInfo& p : ports) PrintLine(stdout, p.description.empty() ? p.path : p.path + "\t" + p.description);
  return kDone;
}

// Finds vyotool-sim beside this program (installed) or in the build tree.
QString SimulatorPath() {
  const QByteArray env = qgetenv("VYOTOOL_SIM");
  if (!env.isEmpty()) return QString::fromLocal8Bit(env);
  const QDir dir(QCoreApplication::applicationDirPath());
  for (const QString& rel : {QStringLiteral("vyotool-sim"), QStringLiteral("../sim/vyotool-sim")})
    if (QFileInfo(dir.filePath(rel)).isExecutable()) return dir.filePath(rel);
  return {};
}

int RunDemo(CliOptions opt) {
  const QString sim = SimulatorPath();
  if (sim.isEmpty()) {
    PrintLine(stderr, "vyotool-cli: vyotool-sim not found beside vyotool-cli (set VYOTOOL_SIM)");
    return kFailed;
  }
  // An old unit with a blank configuration: the demo shows the firmware
  // update, the restart, the read of an invalid record and the write of
  // the defaults.
  QProcess proc;
  proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  proc.start(sim, {"--version", "4.0.2.30", "--reidentify", "4.0.2.42", "--record-blank", "--quiet"});
  if (!proc.waitForStarted(5000) || !proc.waitForReadyRead(5000)) {
    PrintLine(stderr, "vyotool-cli: the simulated unit did not start");
    return kFailed;
  }
  while (!proc.canReadLine() && proc.waitForReadyRead(5000)) {}
  const std::string path = proc.readLine().trimmed().toStdString();
  PrintLine(stderr, "Unidade simulada em " + path);
  opt.ports = {path};
  opt.command = "demo";
  Runner runner(opt);
  runner.followAfterFirmware = true;
  const int code = runner.Run();
  proc.terminate();
  if (!proc.waitForFinished(3000)) proc.kill();
  return code;
}

int Usage(const std::string& why) {
  if (!why.empty()) PrintLine(stderr, "vyotool-cli: " + why);
  std::fputs(kUsageText, stderr);
  return kUsage;
}

}  // namespace
}  // namespace vyo

int main(int argc, char** argv) {
  using namespace vyo;
  QCoreApplication app(argc, argv);
  CliOptions opt;
  const QStringList args = app.arguments();
  auto value = [&](int& i) -> std::optional<std::string> {
    if (i + 1 >= args.size()) return std::nullopt;
    return args[++i].toStdString();
  };
  for (int i = 1; i < args.size(); ++i) {
    const QString a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsageText, stdout);
      return kDone;
    }
    if (a == "--port" || a == "--wait" || a == "--from" || a == "--set" || a == "--image") {
      const std::optional<std::string> v = value(i);
      if (!v) return Usage(a.toStdString() + " needs a value");
      if (a == "--port") opt.ports.push_back(*v);
      else if (a == "--from") opt.from = *v;
      else if (a == "--set") opt.sets.push_back(*v);
      else if (a == "--image") opt.image = *v;
      else {
        bool ok = false;
        opt.waitSeconds = QString::fromStdString(*v).toInt(&ok);
        if (!ok || opt.waitSeconds <= 0 || opt.waitSeconds > 3600) return Usage("--wait takes 1 to 3600 seconds");
      }
    } else if (a == "--json") {
      opt.json = true;
    } else if (a == "--preset") {
      opt.preset = true;
    } else if (a == "--defaults") {
      opt.defaults = true;
    } else if (a.startsWith("-")) {
      return Usage("unknown option " + a.toStdString());
    } else if (opt.command.empty()) {
      opt.command = a.toStdString();
    } else {
      return Usage("unexpected argument " + a.toStdString());
    }
  }
  static const std::vector<std::string> commands = {"ports", "identify", "jump", "connect", "read-config",
                                                     "write-config", "flash", "demo"};
  if (opt.command.empty()) return Usage("no command given");
  if (std::find(commands.begin(), commands.end(), opt.command) == commands.end())
    return Usage("unknown command " + opt.command);
  if (opt.defaults && opt.preset) return Usage("--defaults and --preset exclude each other");
  if (opt.json && opt.command != "identify" && opt.command != "read-config")
    return Usage("--json goes with identify and read-config");
  if ((!opt.from.empty() || !opt.sets.empty() || opt.defaults) && opt.command != "write-config")
    return Usage("--from, --set and --defaults go with write-config");
  if (opt.preset && opt.command != "write-config" && opt.command != "connect" && opt.command != "demo")
    return Usage("--preset goes with connect and write-config");
  if (!opt.image.empty() && opt.command != "flash") return Usage("--image goes with flash");

  if (opt.command == "ports") return ListPorts();
  if (opt.command == "demo") return RunDemo(opt);
  return Runner(opt).Run();
}
