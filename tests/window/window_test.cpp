// The window without a unit: start-up, the port list, the panel's controls
// and their mapping to the panel values, the log, message boxes, the
// service panel and the choice of a firmware image.

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryFile>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include "app/window/config_panel.h"
#include "app/window/service_panel.h"
#include "app/window/updown.h"
#include "config/panel_names.h"
#include "window_support.h"

namespace vyo {
namespace {

using test::TestWindow;

class WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureApplication(); }

  template <class T = QWidget>
  static T* Find(const QWidget& w, const char* name) {
    T* found = w.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
};

std::vector<PortInfo> TwoPorts() { return {{"/dev/ttyACM0", "Vyo USB (S/N 1234)"}, {"/dev/ttyUSB0", ""}}; }

WindowOptions Lister(std::function<std::vector<PortInfo>()> f) {
  WindowOptions o;
  o.portLister = std::move(f);
  return o;
}

TEST_F(WindowTest, StartUpSetsTitleRateListsAndDefaultsAndSendsNothing) {
  TestWindow t(Lister(TwoPorts));
  MainWindow& w = t.w;
  EXPECT_EQ(w.windowTitle(), QStringLiteral("VyoTool v2.42.C"));
  EXPECT_EQ(w.port().CustomBaudRate(), 3686400);
  EXPECT_FALSE(w.IsOpen());

  auto* ports = Find<QComboBox>(w, "CB_Port");
  ASSERT_EQ(ports->count(), 2);
  EXPECT_EQ(ports->currentIndex(), 0);
  EXPECT_EQ(ports->itemText(0), QStringLiteral("ttyACM0  —  Vyo USB (S/N 1234)"));
  EXPECT_EQ(ports->itemData(0).toString(), QStringLiteral("/dev/ttyACM0"));
  EXPECT_EQ(ports->itemText(1), QStringLiteral("ttyUSB0"));

  QStringList ping, rs232;
  for (int i = 0; i < Find<QComboBox>(w, "CB_PING")->count(); ++i) ping << Find<QComboBox>(w, "CB_PING")->itemText(i);
  for (int i = 0; i < Find<QComboBox>(w, "CB_A232")->count(); ++i) rs232 << Find<QComboBox>(w, "CB_A232")->itemText(i);
  EXPECT_EQ(ping.join(','), QStringLiteral("5,10,15,30,45,60,90,120,180,300"));
  EXPECT_EQ(rs232.join(','), QStringLiteral("9600,19200,57600,115200"));
  EXPECT_EQ(Find<QComboBox>(w, "CB_B232")->count(), 4);
  EXPECT_EQ(w.ReadPanel(), DefaultPanel());

  for (const char* name : {"B_FwTx", "B_FwJump", "B_GetConfig", "B_SetConfig"})
    EXPECT_FALSE(Find<QPushButton>(w, name)->isEnabled()) << name << " needs an open port";
  EXPECT_EQ(Find<QPushButton>(w, "B_FwTx")->text(), QStringLiteral("FwUpload"));
  EXPECT_EQ(Find<QPushButton>(w, "B_FwJump")->text(), QStringLiteral("FwJump"));
  EXPECT_EQ(Find<QPushButton>(w, "B_GetConfig")->text(), QStringLiteral("GetConfig"));
  EXPECT_EQ(Find<QPushButton>(w, "B_SetConfig")->text(), QStringLiteral("CONFIGURAR"));
  EXPECT_EQ(Find<QCheckBox>(w, "Cb_COMAutoClose")->text(), QStringLiteral("Fechar após configurar"));

  auto* timer5 = Find<QTimer>(w, "Timer5");
  EXPECT_TRUE(timer5->isSingleShot());
  EXPECT_EQ(timer5->interval(), 10);
  EXPECT_TRUE(w.logText().isEmpty());
  EXPECT_TRUE(t.boxes.empty());
}

TEST_F(WindowTest, PortListFailuresAreSilentAndOnlyAStartUpListingSelects) {
  bool fail = true;
  std::vector<PortInfo> present = TwoPorts();
  TestWindow t(Lister([&] {
    if (fail) throw EComPort(kComErrEnum, 2, "sem lista");
    return present;
  }));
  PortComboBox* ports = t.w.portList();
  EXPECT_EQ(ports->count(), 0);
  EXPECT_EQ(ports->currentIndex(), -1);

  // Dropping the list down refills it; no port is chosen for the user.
  fail = false;
  ports->showPopup();
  ports->hidePopup();
  EXPECT_EQ(ports->count(), 2);
  EXPECT_EQ(ports->currentIndex(), -1);

  // A chosen port stays chosen while present; a failing listing leaves
  // the list as it was, and nothing is logged or shown.
  ports->setCurrentIndex(1);
  present = {{"/dev/ttyACM1", ""}, {"/dev/ttyUSB0", ""}};
  ports->showPopup();
  ports->hidePopup();
  EXPECT_EQ(ports->currentPath(), QStringLiteral("/dev/ttyUSB0"));
  fail = true;
  ports->showPopup();
  ports->hidePopup();
  EXPECT_EQ(ports->count(), 2);
  EXPECT_TRUE(t.w.logText().isEmpty());
  EXPECT_TRUE(t.boxes.empty());

  // A path given by hand (a pseudo-terminal) survives refills.
  fail = false;
  t.w.SelectPort(QStringLiteral("/dev/pts/7"));
  ports->showPopup();
  ports->hidePopup();
  EXPECT_EQ(ports->currentPath(), QStringLiteral("/dev/pts/7"));
  EXPECT_EQ(ports->count(), 3);
  // A bare name is the device under /dev: the listed item is chosen.
  t.w.SelectPort(QStringLiteral("ttyUSB0"));
  EXPECT_EQ(ports->currentPath(), QStringLiteral("/dev/ttyUSB0"));
  EXPECT_EQ(ports->count(), 3);
}

TEST_F(WindowTest, EveryPanelValueHasItsNamedControlAndRoundTrips) {
  TestWindow t(Lister([] { return std::vector<PortInfo>{}; }));
  MainWindow& w = t.w;
  for (const std::string& name : PanelValueNames()) {
    QWidget* c = w.configPanel()->control(QString::fromStdString(name));
    ASSERT_NE(c, nullptr) << name;
    if (name.rfind("ED_", 0) == 0) {
      auto* edit = qobject_cast<QLineEdit*>(c);
      ASSERT_NE(edit, nullptr) << name;
      auto* ud = w.findChild<UpDown*>(QString::fromStdString("UD_" + name.substr(3)));
      ASSERT_NE(ud, nullptr) << name;
      EXPECT_EQ(ud->buddy(), edit);
    }
  }
  for (const char* speed : {"UD_VMX", "UD_VCH"}) {
    EXPECT_EQ(Find<UpDown>(w, speed)->minimum(), 1);
    EXPECT_EQ(Find<UpDown>(w, speed)->maximum(), 250);
  }

  w.WritePanel(PresetPanel());
  EXPECT_EQ(w.ReadPanel(), PresetPanel());
  PanelValues odd = DefaultPanel();
  odd.CB_B232 = -1;
  odd.ED_TBGL = "x1";
  odd.CB_EV_ACN = false;
  w.WritePanel(odd);
  EXPECT_EQ(w.ReadPanel(), odd);

  w.ClearPanelField(PanelField::ED_RBGL);
  w.ClearPanelField(PanelField::CB_PING);
  EXPECT_TRUE(Find<QLineEdit>(w, "ED_RBGL")->text().isEmpty());
  EXPECT_EQ(Find<QComboBox>(w, "CB_PING")->currentIndex(), -1);

  // The buttons put the two named sets on the panel.
  Find<QPushButton>(w, "B_Preset")->click();
  EXPECT_EQ(w.ReadPanel(), PresetPanel());
  Find<QPushButton>(w, "B_Default")->click();
  EXPECT_EQ(w.ReadPanel(), DefaultPanel());
}

TEST_F(WindowTest, UpDownStepsWithinItsRangeAndLeavesTypingFree) {
  QLineEdit edit;
  UpDown ud(&edit, 1, 250, 1);
  edit.setText("120");
  ud.stepBy(1);
  EXPECT_EQ(edit.text(), QStringLiteral("121"));
  ud.stepBy(-2);
  EXPECT_EQ(edit.text(), QStringLiteral("119"));
  edit.setText("250");
  ud.stepBy(1);
  EXPECT_EQ(edit.text(), QStringLiteral("250"));
  edit.setText("1");
  ud.stepBy(-1);
  EXPECT_EQ(edit.text(), QStringLiteral("1"));
  // Not a number: from the bottom going up, from the top going down.
  edit.setText("");
  ud.stepBy(1);
  EXPECT_EQ(edit.text(), QStringLiteral("1"));
  edit.setText("abc");
  ud.stepBy(-1);
  EXPECT_EQ(edit.text(), QStringLiteral("250"));
  // Out of range: brought back into it.
  edit.setText("400");
  ud.stepBy(1);
  EXPECT_EQ(edit.text(), QStringLiteral("250"));
  // Typing stays free: the check belongs to the record.
  edit.setText("151");
  EXPECT_EQ(edit.text(), QStringLiteral("151"));
  QTest::keyClick(&edit, Qt::Key_Up);
  EXPECT_EQ(edit.text(), QStringLiteral("152"));
  QTest::keyClick(&edit, Qt::Key_PageDown);
  EXPECT_EQ(edit.text(), QStringLiteral("142"));

  QLineEdit rpm;
  UpDown step(&rpm, 1000, 9900, 100);
  rpm.setText("4500");
  step.findChild<QToolButton*>(QStringLiteral("up"))->click();
  EXPECT_EQ(rpm.text(), QStringLiteral("4600"));
}

TEST_F(WindowTest, LogSplitsLinesAndColoursRedOnes) {
  TestWindow t(Lister([] { return std::vector<PortInfo>{}; }));
  t.w.Log("Vyo v4.0.2.42\r\nId: 00000001 00000002 00000003");
  t.w.Log("Configuração inválida!", true);
  EXPECT_EQ(t.w.logText(), QStringLiteral("Vyo v4.0.2.42\nId: 00000001 00000002 00000003\nConfiguração inválida!"));
  auto* log = Find<QTextEdit>(t.w, "Log");
  EXPECT_TRUE(log->isReadOnly());
  QTextBlock block = log->document()->begin();
  std::vector<QColor> colours;
  for (; block.isValid(); block = block.next()) colours.push_back(block.begin().fragment().charFormat().foreground().color());
  ASSERT_EQ(colours.size(), 3u);
  EXPECT_NE(colours[0], QColor(Qt::red));
  EXPECT_EQ(colours[2], QColor(Qt::red));
}

TEST_F(WindowTest, MessageBoxesCarryCaptionTextAndIcon) {
  MainWindow w(Lister([] { return std::vector<PortInfo>{}; }));
  w.show();
  struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
  };
  std::vector<Seen> seen;
  // The real box is modal: a timer reads and closes it.
  auto closeNext = [&] {
    QTimer::singleShot(0, [&] {
      const bool shown = QTest::qWaitFor(
          [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; }, 5000);
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!shown || !box) return;
      seen.push_back({box->windowTitle(), box->text(), box->icon()});
      box->accept();
    });
  };
  closeNext();
  w.ShowMessage("ERRO #0x01", "Não há conexão ativa!", BoxIcon::None);
  closeNext();
  w.ShowMessage("Erro", "Parâmetro inválido!\r\n[Velocidade]", BoxIcon::Warning);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].title, QStringLiteral("ERRO #0x01"));
  EXPECT_EQ(seen[0].text, QStringLiteral("Não há conexão ativa!"));
  EXPECT_EQ(seen[0].icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen[1].title, QStringLiteral("Erro"));
  EXPECT_EQ(seen[1].text, QStringLiteral("Parâmetro inválido!\n[Velocidade]"));
  EXPECT_EQ(seen[1].icon, QMessageBox::Warning);
}

TEST_F(WindowTest, ConnectFailureLeavesTheButtonUpAndLogsWhy) {
  TestWindow t(Lister([] { return std::vector<PortInfo>{}; }));
  auto* button = Find<QPushButton>(t.w, "B_Connect");
  // Nothing chosen: said so, nothing opened.
  button->click();
  EXPECT_FALSE(t.w.IsOpen());
  EXPECT_FALSE(button->isChecked());
  EXPECT_TRUE(test::LogHas(t.w, QStringLiteral("Nenhuma porta selecionada!")));

  t.w.SelectPort(QStringLiteral("/nonexistent/ttyVYO"));
  button->click();
  EXPECT_FALSE(t.w.IsOpen());
  EXPECT_FALSE(button->isChecked());
  EXPECT_EQ(button->text(), QStringLiteral("Conectar"));
  EXPECT_TRUE(t.w.portList()->isEnabled());
  const QStringList lines = t.w.logText().split('\n');
  EXPECT_FALSE(lines.contains(QStringLiteral("Conexão aberta...")));
  EXPECT_TRUE(lines.last().contains(QStringLiteral("/nonexistent/ttyVYO"))) << lines.last().toStdString();
  EXPECT_TRUE(t.boxes.empty());
}

TEST_F(WindowTest, ServicePanelListsUnitsOnceEachAndCopiesTheList) {
  TestWindow t(Lister([] { return std::vector<PortInfo>{}; }));
  ServicePanel* panel = t.w.servicePanel();
  EXPECT_FALSE(panel->isVisible());

  UnitInfo unit;
  unit.id = {0x0041002A, 0x33325117, 0x34383632};
  unit.major = 4, unit.release = 2, unit.build = 30;
  unit.text1 = "VYO";
  unit.text2 = std::string("SIM\0\0", 5);
  t.w.UnitIdentified(unit);
  t.w.UnitIdentified(unit);
  EXPECT_EQ(panel->count(), 1);
  unit.build = 42;  // the same unit after its update
  t.w.UnitIdentified(unit);
  EXPECT_EQ(panel->count(), 2);
  const QStringList lines = panel->ListText().split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Identificador\tVersão\tHora")));
  EXPECT_TRUE(lines[1].startsWith(QStringLiteral("0041002A 33325117 34383632\t4.0.2.30\t")));
  EXPECT_TRUE(lines[2].startsWith(QStringLiteral("0041002A 33325117 34383632\t4.0.2.42\t")));
  EXPECT_FALSE(panel->ListText().contains(QChar(0)));

  // The key combination opens it.
  t.w.show();
  t.w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&t.w));
  QTest::keyClick(&t.w, Qt::Key_I, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_TRUE(panel->isVisible());

  Find<QPushButton>(*panel, "B_CopyUnits")->click();
  EXPECT_EQ(QApplication::clipboard()->text(), panel->ListText());
  panel->hide();
}

TEST_F(WindowTest, FirmwareImageCanBeReplacedAndRestored) {
  TestWindow t(Lister([] { return std::vector<PortInfo>{}; }));
  const size_t builtin = BuiltinFirmware().data.size();
  EXPECT_FALSE(t.w.LoadFirmwareFile(QStringLiteral("/nonexistent/image.bin")));
  ASSERT_EQ(t.boxes.size(), 1u);
  EXPECT_EQ(t.boxes[0].caption, QStringLiteral("Erro"));
  EXPECT_EQ(t.boxes[0].icon, BoxIcon::Warning);
  EXPECT_EQ(t.w.controller().firmware().data.size(), builtin);
  EXPECT_FALSE(Find<QPushButton>(t.w, "B_FwBuiltin")->isEnabled());

  QTemporaryFile file;
  ASSERT_TRUE(file.open());
  const QByteArray bytes(1000, '\x5A');
  file.write(bytes);
  file.flush();
  ASSERT_TRUE(t.w.LoadFirmwareFile(file.fileName()));
  EXPECT_EQ(t.w.controller().firmware().data, Bytes(bytes.begin(), bytes.end()));
  EXPECT_TRUE(Find<QLabel>(t.w, "L_Firmware")->text().contains(QStringLiteral("1000 bytes")));
  auto* builtinButton = Find<QPushButton>(t.w, "B_FwBuiltin");
  EXPECT_TRUE(builtinButton->isEnabled());
  builtinButton->click();
  EXPECT_EQ(t.w.controller().firmware().data.size(), builtin);
  EXPECT_FALSE(builtinButton->isEnabled());
}

}  // namespace
}  // namespace vyo
