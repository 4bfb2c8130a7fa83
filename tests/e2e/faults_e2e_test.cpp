// A unit that vanishes mid-transfer, ports in use, missing or forbidden:
// the tool reports each, reports no success, and can open a port again.
#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "app/qt_host.h"
#include "serial/comport.h"

namespace vyo::e2e {
// The programs under test sit beside the test program.
inline std::string ProgramPath(const char* name) {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}
}  // namespace vyo::e2e

#define VYOTOOL_SIM ::vyo::e2e::ProgramPath("vyotool-sim")
#include "process.h"
#include "sim/state_file.h"

namespace vyo::e2e {
namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

Result Cli(std::vector<std::string> args, int timeoutS = 60) {
  args.insert(args.begin(), ProgramPath("vyotool-cli"));
  return Run(args, timeoutS);
}

// A pseudo-terminal nobody answers on; the master side keeps it alive.
struct QuietPort {
  QuietPort() {
    int slave = -1;
    char buf[128];
    if (openpty(&master, &slave, buf, nullptr, nullptr) == 0) {
      path = buf;
      close(slave);
    }
  }
  ~QuietPort() {
    if (master >= 0) close(master);
  }
  int master = -1;
  std::string path;
};

QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "test_faults_e2e";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

// The host the window and the command line share, recording what it shows.
class RecordingHost : public QtHost {
 public:
  std::vector<std::string> log, boxes;
  std::vector<Outcome> outcomes;

  void Log(const std::string& text, bool) override { log.push_back(text); }
  void ShowMessage(const std::string& caption, const std::string& text, BoxIcon) override {
    boxes.push_back(caption + ": " + text);
  }
  void SetProgressMax(int) override {}
  void SetProgress(int) override {}
  PanelValues ReadPanel() override { return DefaultPanel(); }
  void WritePanel(const PanelValues&) override {}
  void ClearPanelField(PanelField) override {}
  bool PresetChecked() override { return false; }
  bool AutoCloseChecked() override { return false; }
  void SetConfigControlsEnabled(bool) override {}
  void OperationEnded(Outcome o, uint32_t) override { outcomes.push_back(o); }

  bool Saw(Outcome o) const { return std::find(outcomes.begin(), outcomes.end(), o) != outcomes.end(); }
  bool Logged(const std::string& part) const {
    for (const std::string& l : log)
      if (Has(l, part)) return true;
    return false;
  }
};

// Runs the event loop until `done` or `ms` have passed.
bool RunUntil(const std::function<bool()>& done, int ms) {
  QTimer tick;  // wakes the loop now and then to look at `done`
  tick.start(20);
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST(FaultsE2E, UnitVanishingMidUploadEndsInNoConnectionAndNoSuccess) {
  struct Case {
    std::vector<std::string> unit, command;
  };
  const std::vector<Case> cases = {
      {{"--version", "4.0.1.99", "--record-defaults", "--vanish-after", "300"}, {"flash"}},
      {{"--record-defaults", "--vanish-after", "20"}, {"write-config", "--set", "ED_VMX=99"}},
  };
  const Bytes record = BuildRecord(DefaultPanel());
  for (const Case& c : cases) {
    const std::string state = TempPath("unit.state");
    std::vector<std::string> unit = {"--state", state};
    unit.insert(unit.end(), c.unit.begin(), c.unit.end());
    Sim sim(unit);
    std::vector<std::string> args = {"--port", sim.path()};
    args.insert(args.end(), c.command.begin(), c.command.end());
    const Result r = Cli(args);
    EXPECT_EQ(r.exitCode, 3) << c.command[0] << "\n" << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "ERRO #0x01: Não há conexão ativa!")) << r.err;
    EXPECT_FALSE(Has(r.out, "sucesso")) << r.out;
    EXPECT_TRUE(Has(r.out, "O aparelho foi desconectado da porta " + sim.path() + ".\nConexão fechada...\n")) << r.out;
    EXPECT_LT(r.seconds, 10) << "the loss is noticed at once, not after the retries";
    EXPECT_EQ(sim.Wait(), 3);
    const std::string s = ReadFile(state);
    EXPECT_EQ(StateValue(s, "firmware-last"), "none");
    EXPECT_TRUE(StateValue(s, "record") == sim::ToHex(record.data(), record.size())) << "the unit keeps its old record";
  }
}

TEST(FaultsE2E, HostReportsTheVanishedUnitAndOpensAnotherPortAfterwards) {
  App();
  RecordingHost host;  // follows the version gate: an old unit gets the firmware
  const int descriptors = OpenDescriptors();

  Sim gone({"--version", "4.0.1.99", "--vanish-after", "500"});
  ASSERT_TRUE(host.OpenPort(gone.path()));
  ASSERT_TRUE(RunUntil([&] { return host.Saw(Outcome::ConnectionLost); }, 30000));
  EXPECT_TRUE(host.Saw(Outcome::UploadNoConnection));
  EXPECT_FALSE(host.Saw(Outcome::UploadDone));
  EXPECT_FALSE(host.IsOpen());
  EXPECT_EQ(host.port().Handle(), -1);
  EXPECT_FALSE(host.controller().Busy());
  EXPECT_EQ(host.boxes, std::vector<std::string>{"ERRO #0x01: Não há conexão ativa!"});
  EXPECT_TRUE(host.Logged("O aparelho foi desconectado da porta " + gone.path()));
  EXPECT_FALSE(host.Logged("sucesso"));
  EXPECT_EQ(gone.Wait(), 3);
  EXPECT_EQ(OpenDescriptors(), descriptors) << "the lost port's descriptors are all closed";

  // The vanished port is gone for good: a clear refusal, not a crash.
  std::string error;
  EXPECT_FALSE(host.OpenPort(gone.path(), &error));
  EXPECT_TRUE(Has(error, "não existe") || Has(error, "não responde")) << error;

  // Another unit on another port: the same host opens it and finishes.
  const std::string state = TempPath("unit.state");
  Sim next({"--version", "4.0.1.99", "--state", state});
  host.outcomes.clear();
  host.boxes.clear();
  ASSERT_TRUE(host.OpenPort(next.path(), &error)) << error;
  ASSERT_TRUE(RunUntil([&] { return host.Saw(Outcome::UploadDone) || host.Saw(Outcome::UploadFailed); }, 60000));
  EXPECT_TRUE(host.Saw(Outcome::UploadDone));
  EXPECT_TRUE(host.boxes.empty());
  host.ClosePort();
  next.Stop();
  EXPECT_EQ(StateValue(ReadFile(state), "firmware-last"), "89676 ok");
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(FaultsE2E, PortInUseIsRefusedNamingWhoHoldsIt) {
  QuietPort port;
  ASSERT_FALSE(port.path.empty());
  const std::string self = "(pid " + std::to_string(getpid()) + ")";

  // Held by a serial port object of this process: the command line is refused.
  {
    TCustomComPort holder([](std::function<void()>) {});
    holder.SetPort(port.path);
    holder.SetCustomBaudRate(3686400);
    holder.Open();
    const Result r = Cli({"--port", port.path, "--wait", "2", "identify"});
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "A porta " + port.path + " está ocupada: o programa ")) << r.err;
    EXPECT_TRUE(Has(r.err, self + " está com ela aberta; feche-o e tente de novo.")) << r.err;
    EXPECT_TRUE(holder.Connected()) << "the holder keeps its port";
  }

  // Held by a command line waiting for a unit: another opener is refused,
  // and gets the port once the first is gone.
  int outFd, errFd;
  const pid_t first = Spawn({ProgramPath("vyotool-cli"), "--port", port.path, "--wait", "30", "identify"}, &outFd, &errFd);
  std::string out;
  char c;
  pollfd p{outFd, POLLIN, 0};
  while (!Has(out, "Conexão aberta...") && poll(&p, 1, 10000) > 0 && read(outFd, &c, 1) == 1) out.push_back(c);
  ASSERT_TRUE(Has(out, "Conexão aberta...")) << out;

  const Result second = Cli({"--port", port.path, "--wait", "2", "identify"});
  EXPECT_EQ(second.exitCode, 3);
  EXPECT_TRUE(Has(second.err, "vyotool-cli (pid " + std::to_string(first) + ") está com ela aberta")) << second.err;

  TCustomComPort other([](std::function<void()>) {});
  other.SetPort(port.path);
  other.SetCustomBaudRate(3686400);
  try {
    other.Open();
    ADD_FAILURE() << "opened a port in use";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.code(), kComErrOpen);
    EXPECT_TRUE(Has(e.what(), "está ocupada")) << e.what();
  }
  EXPECT_FALSE(other.Connected());

  kill(first, SIGTERM);
  int status;
  waitpid(first, &status, 0);
  close(outFd);
  close(errFd);
  EXPECT_NO_THROW(other.Open());
  EXPECT_TRUE(other.Connected());
}

TEST(FaultsE2E, MissingPortIsExitThreeWithAClearText) {
  const Result r = Cli({"--port", "/dev/vyo-no-such-port", "identify"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_TRUE(Has(r.err, "A porta /dev/vyo-no-such-port não existe; verifique se o aparelho está conectado")) << r.err;
  EXPECT_TRUE(r.out.find("sucesso") == std::string::npos);
}

// Runs the command line as user `uid` (root drops to it first), its output
// in a file; returns its exit code, 126 when the user could not be taken.
int RunAs(uid_t uid, gid_t gid, const std::vector<std::string>& argv, std::string* output) {
  const std::string file = TempPath("output.txt");
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) _exit(126);
    dup2(fd, 1);
    dup2(fd, 2);
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  for (int i = 0; i < 3000 && waitpid(pid, &status, WNOHANG) == 0; ++i) usleep(10000);
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  *output = ReadFile(file);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(FaultsE2E, PortWithoutPermissionSaysHowToFixIt) {
  QuietPort port;
  ASSERT_FALSE(port.path.empty());
  // Root opens anything: the command line then runs as nobody on a port
  // only root may open. Anyone else is simply refused a port without rights.
  ASSERT_EQ(chmod(port.path.c_str(), geteuid() == 0 ? 0600 : 0), 0);
  std::string output;
  const int code = RunAs(65534, 65534, {ProgramPath("vyotool-cli"), "--port", port.path, "identify"}, &output);
  if (code == 126) GTEST_SKIP() << "cannot run as the unprivileged user here";
  if (code == 127) GTEST_SKIP() << "the unprivileged user cannot run " << ProgramPath("vyotool-cli");
  EXPECT_EQ(code, 3) << output;
  EXPECT_TRUE(Has(output, "Sem permissão para abrir a porta " + port.path +
                              "; adicione seu usuário ao grupo dialout (sudo usermod -aG dialout $USER) "
                              "e entre de novo na sessão."))
      << output;
}

}  // namespace
}  // namespace vyo::e2e
