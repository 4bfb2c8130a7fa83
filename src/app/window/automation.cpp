#include "app/window/automation.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "app/window/main_window.h"

namespace vyo {
namespace {

// Opens the port through the window's own controls.
bool Connect(MainWindow& window, const QString& port, QString* error) {
  window.SelectPort(port);
  window.B_ConnectClick();
  if (window.IsOpen()) return true;
  const QStringList lines = window.logText().split('\n');
  if (error) *error = QStringLiteral("a porta %1 não abriu: %2").arg(port, lines.isEmpty() ? QString() : lines.last());
  return false;
}

QString Describe(Outcome o) {
  switch (o) {
    case Outcome::ReadFailed: return QStringLiteral("a leitura da configuração falhou (ERRO #0x04)");
    case Outcome::ReadNoConnection: return QStringLiteral("sem conexão durante a leitura (ERRO #0x03)");
    case Outcome::RecordInvalid: return QStringLiteral("o Vyo tem uma configuração inválida");
    case Outcome::OperationMode: return QStringLiteral("o Vyo está em modo de operação");
    case Outcome::ConnectionLost: return QStringLiteral("a conexão caiu");
    case Outcome::UploadFailed: return QStringLiteral("o envio falhou (ERRO #0x02)");
    case Outcome::UploadNoConnection: return QStringLiteral("sem conexão durante o envio (ERRO #0x01)");
    case Outcome::FirmwareRefused: return QStringLiteral("o firmware foi recusado");
    default: return QStringLiteral("resultado inesperado");
  }
}

class PaintCounter : public QObject {
 public:
  bool counting = false;
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (counting && event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

}  // namespace

bool ScreenshotAfterRead(MainWindow& window, const QString& port, const QString& file, int timeoutMs,
                         QString* error) {
  window.show();
  QEventLoop loop;
  bool ok = false;
  QString why = QStringLiteral("nenhuma leitura em %1 s").arg(timeoutMs / 1000.0);
  QTimer timeout;
  timeout.setSingleShot(true);
  QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
  const auto watch = QObject::connect(&window, &MainWindow::operationEnded, &loop, [&](int outcome, unsigned) {
    const Outcome o = Outcome(outcome);
    if (o == Outcome::ReadDone) {
      ok = true;
      // Let the window settle (layout timer, repaint of the read values).
      QTimer::singleShot(300, &loop, &QEventLoop::quit);
    } else if (o != Outcome::Identified && o != Outcome::UploadDone) {
      why = Describe(o);
      loop.quit();
    }
  });
  if (!Connect(window, port, error)) {
    QObject::disconnect(watch);
    return false;
  }
  timeout.start(timeoutMs);
  loop.exec();
  QObject::disconnect(watch);
  if (!ok) {
    if (error) *error = why;
    window.ClosePort();
    return false;
  }
  const QPixmap picture = window.grab();
  window.ClosePort();
  if (!picture.save(file)) {
    if (error) *error = QStringLiteral("não foi possível gravar %1").arg(file);
    return false;
  }
  return true;
}

UploadMeasurement MeasureFirmwareUpload(MainWindow& window, const QString& port, int timeoutMs) {
  UploadMeasurement m;
  window.show();
  auto* progress = window.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
  auto* fwTx = window.findChild<QPushButton*>(QStringLiteral("B_FwTx"));
  PaintCounter painter;
  progress->installEventFilter(&painter);

  QEventLoop loop;
  QElapsedTimer clock;
  clock.start();
  bool measuring = false;
  qint64 begin = 0, last = 0, longest = 0;
  auto start = [&] {
    measuring = true;
    painter.counting = true;
    begin = last = clock.nsecsElapsed();
  };

  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  probe.setInterval(16);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!measuring) return;
    const qint64 now = clock.nsecsElapsed();
    longest = std::max(longest, now - last);
    last = now;
    ++m.ticks;
  });

  QTimer timeout;
  timeout.setSingleShot(true);
  QObject::connect(&timeout, &QTimer::timeout, &loop, [&] {
    m.error = QStringLiteral("o envio não terminou em %1 s").arg(timeoutMs / 1000.0);
    loop.quit();
  });

  const auto watch = QObject::connect(&window, &MainWindow::operationEnded, &loop, [&](int outcome, unsigned type) {
    const Outcome o = Outcome(outcome);
    if (measuring) {
      if (o == Outcome::UploadDone && type == kTransferFirmware) {
        const qint64 end = clock.nsecsElapsed();
        measuring = painter.counting = false;
        m.completed = true;
        m.seconds = double(end - begin) / 1e9;
        m.longestGapMs = double(std::max(longest, end - last)) / 1e6;
        m.meanGapMs = m.ticks > 0 ? m.seconds * 1000.0 / m.ticks : 0;
        m.packets = window.controller().packetCount;
        loop.quit();
      } else if (o != Outcome::Identified) {
        measuring = false;
        m.error = Describe(o);
        loop.quit();
      }
      return;
    }
    if (o == Outcome::RecordInvalid) return;  // the defaults are written next
    if (o == Outcome::Identified) {
      // The version gate runs right after this: an old unit gets the
      // firmware at once.
      if (VersionGate(window.controller().unit().major, window.controller().unit().release,
                      window.controller().unit().build) == GateAction::UpdateFirmware)
        start();
    } else if (o == Outcome::ReadDone || (o == Outcome::UploadDone && type == kTransferConfig)) {
      // An up-to-date unit: its configuration is read (an invalid one is
      // replaced first), then the firmware is sent with the button.
      QTimer::singleShot(0, &loop, [&] {
        start();
        fwTx->click();
      });
    } else {
      m.error = Describe(o);
      loop.quit();
    }
  });

  if (!Connect(window, port, &m.error)) {
    QObject::disconnect(watch);
    return m;
  }
  probe.start();
  timeout.start(timeoutMs);
  loop.exec();
  QObject::disconnect(watch);
  progress->removeEventFilter(&painter);
  m.progressPaints = painter.paints;
  window.ClosePort();
  return m;
}

}  // namespace vyo
