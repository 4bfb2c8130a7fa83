// The window against the simulated unit on a pseudo-terminal: the typical
// road (identification, read, change, write of 44 packets), an invalid
// value that sends nothing, the connection's other endings, and the
// window's responsiveness during a whole firmware upload.

#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "app/window/automation.h"
#include "config/panel_names.h"
#include "window_support.h"

#ifdef VYOTOOL_SIM_PATH

namespace vyo {
namespace {

using test::LogHas;
using test::Sim;
using test::TestWindow;
using test::WaitFor;

class RoadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureApplication(); }

  static WindowOptions NoPorts() {
    WindowOptions o;
    o.portLister = [] { return std::vector<PortInfo>{}; };
    return o;
  }

  // A unit whose record holds the preset, so a read visibly changes the
  // panel from its defaults.
  static QString PresetRecordFile(const QTemporaryDir& dir) {
    const Bytes record = BuildRecord(PresetPanel());
    const QString path = dir.filePath(QStringLiteral("preset.rec"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(record.data()), qint64(record.size()));
    return path;
  }

  static QPushButton* Button(const MainWindow& w, const char* name) {
    return w.findChild<QPushButton*>(QString::fromLatin1(name));
  }

  // Opens the unit's port with the connect button and waits for the read.
  static void ConnectAndRead(TestWindow& t, const Sim& sim) {
    t.w.SelectPort(sim.path());
    Button(t.w, "B_Connect")->click();
    ASSERT_TRUE(t.w.IsOpen()) << t.w.logText().toStdString();
    EXPECT_TRUE(Button(t.w, "B_Connect")->isChecked());
    EXPECT_FALSE(t.w.portList()->isEnabled());
    // Nothing is read before the unit has said where its record is.
    EXPECT_FALSE(Button(t.w, "B_GetConfig")->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return LogHas(t.w, QStringLiteral("Leitura da configuração interna concluída!")); }))
        << t.w.logText().toStdString();
  }
};

// The panel after reading a record that holds the preset: engine braking
// has no place in the record and keeps what the panel showed.
PanelValues PresetAsRead() {
  PanelValues v = PresetPanel();
  const PanelValues d = DefaultPanel();
  v.ED_VEBK = d.ED_VEBK, v.ED_TEBK = d.ED_TEBK, v.ED_REBK = d.ED_REBK;
  v.CB_BZ_EBK_IN = d.CB_BZ_EBK_IN, v.CB_BZ_EBK_OUT = d.CB_BZ_EBK_OUT;
  v.CB_EV_EBK_IN = d.CB_EV_EBK_IN, v.CB_EV_EBK_OUT = d.CB_EV_EBK_OUT;
  return v;
}

std::string Hex(const Bytes& b) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (uint8_t c : b) s += {digits[c >> 4], digits[c & 15]};
  return s;
}

TEST_F(RoadTest, ReadChangeAndWriteTheConfiguration) {
  QTemporaryDir dir;
  Sim unit({QStringLiteral("--record"), PresetRecordFile(dir)});
  ASSERT_FALSE(unit.path().isEmpty());
  TestWindow t(NoPorts());
  ConnectAndRead(t, unit);

  const QStringList lines = t.w.logText().split('\n');
  EXPECT_EQ(lines.first(), QStringLiteral("Conexão aberta..."));
  EXPECT_TRUE(lines.contains(QStringLiteral("O Vyo está atualizado!")));
  EXPECT_TRUE(lines.contains(QStringLiteral("Buscando configuração interna...")));
  EXPECT_EQ(t.w.ReadPanel(), PresetAsRead());
  EXPECT_TRUE(Button(t.w, "B_SetConfig")->isEnabled());
  EXPECT_TRUE(t.w.statusText().contains(QStringLiteral("Vyo v4.0.2.42")));

  auto* speed = t.w.findChild<QLineEdit*>(QStringLiteral("ED_VMX"));
  speed->clear();
  QTest::keyClicks(speed, QStringLiteral("100"));
  Button(t.w, "B_SetConfig")->click();
  // While the record travels nothing can start another transfer.
  if (t.w.controller().Busy()) {
    for (const char* name : {"B_SetConfig", "B_GetConfig", "B_FwTx", "B_FwJump"})
      EXPECT_FALSE(Button(t.w, name)->isEnabled()) << name;
  }
  ASSERT_TRUE(WaitFor([&] { return LogHas(t.w, QStringLiteral("Atualização concluída com sucesso!")); }))
      << t.w.logText().toStdString();
  EXPECT_TRUE(LogHas(t.w, QStringLiteral("Iniciando atualização...")));
  EXPECT_TRUE(LogHas(t.w, QStringLiteral("Atualizando configuração...")));
  EXPECT_EQ(t.w.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"))->value(), 0);
  EXPECT_EQ(t.w.controller().packetCount, 44u);
  EXPECT_TRUE(Button(t.w, "B_SetConfig")->isEnabled());
  EXPECT_TRUE(t.boxes.empty());
  EXPECT_TRUE(t.w.IsOpen());  // "Fechar após configurar" is off

  t.w.ClosePort();
  unit.Stop();
  auto state = unit.State();
  EXPECT_EQ(state["stats.packets"], "44");
  EXPECT_EQ(state["stats.acks"], "44");
  EXPECT_EQ(state["stats.transfers"], "1");
  PanelValues written = PresetAsRead();
  written.ED_VMX = "100";
  EXPECT_EQ(state["record"], Hex(BuildRecord(written)));
}

TEST_F(RoadTest, AnInvalidSpeedShowsTheErrorAndSendsNothing) {
  Sim unit({QStringLiteral("--record-defaults")});
  ASSERT_FALSE(unit.path().isEmpty());
  TestWindow t(NoPorts());
  ConnectAndRead(t, unit);

  auto* speed = t.w.findChild<QLineEdit*>(QStringLiteral("ED_VMX"));
  speed->setText(QStringLiteral("151"));
  Button(t.w, "B_SetConfig")->click();
  ASSERT_EQ(t.boxes.size(), 1u);
  EXPECT_EQ(t.boxes[0].caption, QStringLiteral("Erro"));
  EXPECT_EQ(t.boxes[0].text, QStringLiteral("Parâmetro inválido!\r\n[Velocidade]"));
  EXPECT_EQ(t.boxes[0].icon, BoxIcon::Warning);
  EXPECT_TRUE(speed->text().isEmpty());
  EXPECT_FALSE(t.w.controller().Busy());
  EXPECT_TRUE(Button(t.w, "B_SetConfig")->isEnabled());
  EXPECT_FALSE(LogHas(t.w, QStringLiteral("Iniciando atualização...")));

  // A second read is a barrier: the unit handles the line in order, so
  // once it has answered, anything sent before has been seen.
  Button(t.w, "B_GetConfig")->click();
  ASSERT_TRUE(WaitFor([&] {
    return t.w.logText().count(QStringLiteral("Leitura da configuração interna concluída!")) == 2;
  })) << t.w.logText().toStdString();
  t.w.ClosePort();
  unit.Stop();
  auto state = unit.State();
  EXPECT_EQ(state["stats.packets"], "0");
  EXPECT_EQ(state["stats.transfers"], "0");
  EXPECT_EQ(state["stats.reads"], "10");
  EXPECT_EQ(state["record"], Hex(BuildRecord(DefaultPanel())));
}

TEST_F(RoadTest, AutoCloseAfterConfiguringClosesThePort) {
  Sim unit({QStringLiteral("--record-defaults")});
  TestWindow t(NoPorts());
  ConnectAndRead(t, unit);
  t.w.findChild<QCheckBox*>(QStringLiteral("Cb_COMAutoClose"))->setChecked(true);
  Button(t.w, "B_SetConfig")->click();
  ASSERT_TRUE(WaitFor([&] { return !t.w.IsOpen(); })) << t.w.logText().toStdString();
  EXPECT_EQ(t.w.logText().split('\n').last(), QStringLiteral("Conexão fechada..."));
  EXPECT_FALSE(Button(t.w, "B_Connect")->isChecked());
  EXPECT_TRUE(t.w.portList()->isEnabled());
  EXPECT_FALSE(Button(t.w, "B_SetConfig")->isEnabled());
}

TEST_F(RoadTest, AUnitInOperationModeGetsTheInstructionsAndThePortCloses) {
  Sim unit({QStringLiteral("--mode"), QStringLiteral("operation")});
  TestWindow t(NoPorts());
  t.w.SelectPort(unit.path());
  Button(t.w, "B_Connect")->click();
  ASSERT_TRUE(WaitFor([&] { return LogHas(t.w, QStringLiteral("Conexão fechada...")); })) << t.w.logText().toStdString();
  const QStringList lines = t.w.logText().split('\n');
  const int at = lines.indexOf(QStringLiteral("O Vyo foi detectado em modo de operação!"));
  ASSERT_GE(at, 0);
  EXPECT_EQ(lines.mid(at + 1, 4),
            QStringList({QStringLiteral("1-Desconectar todos os chicotes"), QStringLiteral("2-Conectar apenas o cabo USB"),
                         QStringLiteral("3-Aguardar o Windows criar a porta (5 segundos)"),
                         QStringLiteral("4-Rodar o VyoTool e abrir a porta COM criada")}));
  EXPECT_FALSE(t.w.IsOpen());
  EXPECT_FALSE(Button(t.w, "B_Connect")->isChecked());
}

TEST_F(RoadTest, AUnitThatGoesAwayBringsTheControlsBackToClosed) {
  auto unit = std::make_unique<Sim>(QStringList{QStringLiteral("--record-defaults")});
  TestWindow t(NoPorts());
  ConnectAndRead(t, *unit);
  unit->Kill();
  ASSERT_TRUE(WaitFor([&] { return !t.w.IsOpen(); })) << t.w.logText().toStdString();
  EXPECT_TRUE(LogHas(t.w, QStringLiteral("Conexão fechada...")));
  EXPECT_FALSE(Button(t.w, "B_Connect")->isChecked());
  EXPECT_TRUE(t.w.portList()->isEnabled());
  for (const char* name : {"B_SetConfig", "B_GetConfig", "B_FwTx", "B_FwJump"})
    EXPECT_FALSE(Button(t.w, name)->isEnabled()) << name;
}

TEST_F(RoadTest, TheWindowKeepsAnsweringDuringAFirmwareUpload) {
  Sim unit({QStringLiteral("--version"), QStringLiteral("4.0.2.30"), QStringLiteral("--record-defaults")});
  TestWindow t(NoPorts());
  const UploadMeasurement m = MeasureFirmwareUpload(t.w, unit.path(), 90000);
  ASSERT_TRUE(m.completed) << m.error.toStdString() << "\n" << t.w.logText().toStdString();
  EXPECT_EQ(m.packets, 1870u);
  EXPECT_TRUE(LogHas(t.w, QStringLiteral("Atualização concluída com sucesso!")));
  // Ticks every 16 ms all along; a stall would show as one long gap.
  EXPECT_LT(m.longestGapMs, 250.0) << m.ticks << " ticks in " << m.seconds << " s";
  EXPECT_GT(m.ticks, int(m.seconds * 1000 / 16 / 2));
  EXPECT_GT(m.progressPaints, 10);
  std::printf("firmware upload: %u packets in %.2f s; 16 ms timer: %d ticks, longest gap %.1f ms; %d repaints\n",
              m.packets, m.seconds, m.ticks, m.longestGapMs, m.progressPaints);
  unit.Stop();
  auto state = unit.State();
  EXPECT_EQ(state["firmware-last"], "89676");
}

TEST_F(RoadTest, ClosingDuringAnUploadAsksFirstAndThenLeavesWithoutBoxes) {
  Sim unit({QStringLiteral("--version"), QStringLiteral("4.0.2.30"), QStringLiteral("--record-defaults")});
  TestWindow t(NoPorts());
  std::vector<QString> asked;
  bool leave = false;
  t.w.setConfirmHook([&](const QString& text) {
    asked.push_back(text);
    return leave;
  });
  t.w.show();
  t.w.SelectPort(unit.path());
  Button(t.w, "B_Connect")->click();
  ASSERT_TRUE(WaitFor([&] { return t.w.controller().UploadRunning(); })) << t.w.logText().toStdString();

  EXPECT_FALSE(t.w.close());
  EXPECT_EQ(asked.size(), 1u);
  EXPECT_TRUE(t.w.isVisible());
  EXPECT_TRUE(t.w.IsOpen());

  leave = true;
  EXPECT_TRUE(t.w.close());
  EXPECT_FALSE(t.w.IsOpen());
  // The interrupted upload ends on its next step without holding the
  // window up with a box.
  ASSERT_TRUE(WaitFor([&] { return !t.w.controller().Busy(); }));
  EXPECT_TRUE(t.boxes.empty());
  EXPECT_TRUE(LogHas(t.w, QStringLiteral("ERRO #0x01: Não há conexão ativa!"))) << t.w.logText().toStdString();
}

TEST_F(RoadTest, TheProgramTakesItsOwnScreenshotAfterARead) {
  Sim unit({QStringLiteral("--record-defaults")});
  const QString file = unit.dir(QStringLiteral("shot.png"));
  QProcess program;
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  program.start(QStringLiteral(VYOTOOL_PATH),
                {QStringLiteral("--port"), unit.path(), QStringLiteral("--screenshot"), file,
                 QStringLiteral("--timeout"), QStringLiteral("30")});
  ASSERT_TRUE(program.waitForFinished(40000));
  EXPECT_EQ(program.exitCode(), 0);
  QImage image(file);
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(image.width(), 800);
  EXPECT_GT(image.height(), 400);
}

}  // namespace
}  // namespace vyo

#endif  // VYOTOOL_SIM_PATH
