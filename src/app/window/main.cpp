// vyotool: the service tool's window.
//
//   vyotool [--port PATH] [--image FILE]
//   vyotool --port PATH --screenshot FILE [--timeout SECONDS]
//   vyotool --port PATH --measure [--timeout SECONDS]
//
// --screenshot and --measure run on the offscreen platform unless another
// one is chosen, so they need no display.

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>
#include <cstdio>
#include <cstring>

#include "app/window/automation.h"
#include "app/window/main_window.h"

namespace {

bool HasOption(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const bool unattended = HasOption(argc, argv, "--screenshot") || HasOption(argc, argv, "--measure");
  if (unattended && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !HasOption(argc, argv, "-platform"))
    qputenv("QT_QPA_PLATFORM", "offscreen");

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VyoTool"));
  QApplication::setApplicationVersion(QStringLiteral("2.42.C"));
  QApplication::setDesktopFileName(QStringLiteral("vyotool"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Ferramenta de serviço do Vyo."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Porta serial escolhida na lista."),
                                      QStringLiteral("PATH"));
  const QCommandLineOption imageOption(QStringLiteral("image"),
                                       QStringLiteral("Imagem de firmware no lugar da embutida."), QStringLiteral("FILE"));
  const QCommandLineOption shotOption(
      QStringLiteral("screenshot"),
      QStringLiteral("Abre a porta, espera a leitura da configuração, grava a imagem da janela em FILE e sai."),
      QStringLiteral("FILE"));
  const QCommandLineOption measureOption(
      QStringLiteral("measure"),
      QStringLiteral("Abre a porta, envia o firmware e mede o maior intervalo entre os eventos de um timer de 16 ms."));
  const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
                                         QStringLiteral("Limite para --screenshot e --measure (padrão 60 s)."),
                                         QStringLiteral("SECONDS"), QStringLiteral("60"));
  parser.addOptions({portOption, imageOption, shotOption, measureOption, timeoutOption});
  parser.process(app);

  QTextStream err(stderr);
  bool ok = false;
  const int timeoutSeconds = parser.value(timeoutOption).toInt(&ok);
  if (!ok || timeoutSeconds <= 0 || timeoutSeconds > 3600) {
    err << "vyotool: --timeout takes 1 to 3600 seconds\n";
    return 2;
  }
  if (unattended && !parser.isSet(portOption)) {
    err << "vyotool: --screenshot and --measure need --port\n";
    return 2;
  }
  if (parser.isSet(shotOption) && parser.isSet(measureOption)) {
    err << "vyotool: --screenshot and --measure exclude each other\n";
    return 2;
  }

  vyo::MainWindow window;
  if (unattended) {
    // No one is there to close a box: each one goes to stderr.
    window.setMessageHook([&err](const QString& caption, const QString& text, vyo::BoxIcon) {
      QString flat = text;
      flat.replace(QLatin1String("\r\n"), QLatin1String(" "));
      err << caption << ": " << flat << "\n";
      err.flush();
    });
  }
  if (parser.isSet(imageOption) && !window.LoadFirmwareFile(parser.value(imageOption))) return 1;

  const QString port = parser.value(portOption);
  if (parser.isSet(shotOption)) {
    QString error;
    if (!vyo::ScreenshotAfterRead(window, port, parser.value(shotOption), timeoutSeconds * 1000, &error)) {
      err << "vyotool: " << error << "\n";
      return 1;
    }
    return 0;
  }
  if (parser.isSet(measureOption)) {
    const vyo::UploadMeasurement m = vyo::MeasureFirmwareUpload(window, port, timeoutSeconds * 1000);
    if (!m.completed) {
      err << "vyotool: " << m.error << "\n";
      return 1;
    }
    QTextStream out(stdout);
    out << QString::asprintf(
        "firmware upload: %u packets in %.2f s\n"
        "16 ms timer: %d ticks, longest gap %.1f ms, mean gap %.1f ms\n"
        "progress bar painted %d times\n",
        m.packets, m.seconds, m.ticks, m.longestGapMs, m.meanGapMs, m.progressPaints);
    return 0;
  }

  if (!port.isEmpty()) window.SelectPort(port);
  window.show();
  return app.exec();
}
