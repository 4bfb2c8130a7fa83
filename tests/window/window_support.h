// Support for the window's tests: the application object on the offscreen
// platform, waiting on the event loop for a condition, and the simulated
// unit as a child process with its state file.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <string>

#include "app/window/main_window.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace vyo::test {

inline void EnsureApplication() {
  if (QApplication::instance()) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "test_window";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

// Runs the event loop until `condition` holds or `ms` pass.
template <class F>
bool WaitFor(F condition, int ms = 15000) {
  return QTest::qWaitFor(condition, ms);
}

inline bool LogHas(const MainWindow& w, const QString& line) {
  return w.logText().split('\n').contains(line);
}

struct Box {
  QString caption, text;
  BoxIcon icon;
};

// A window whose message boxes are recorded instead of shown.
struct TestWindow {
  explicit TestWindow(WindowOptions options = {}) : w(std::move(options)) {
    w.setMessageHook([this](const QString& c, const QString& t, BoxIcon i) { boxes.push_back({c, t, i}); });
  }
  MainWindow w;
  std::vector<Box> boxes;
};

#ifdef VYOTOOL_SIM_PATH
// vyotool-sim on a new pseudo-terminal, stopped at the end of the test.
class Sim {
 public:
  explicit Sim(QStringList args) {
    statePath_ = dir_.filePath(QStringLiteral("unit.state"));
    args << QStringLiteral("--state") << statePath_ << QStringLiteral("--quiet");
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc_.start(QStringLiteral(VYOTOOL_SIM_PATH), args);
    if (!proc_.waitForStarted(5000)) return;
    while (!proc_.canReadLine() && proc_.waitForReadyRead(5000)) {
    }
    path_ = QString::fromLocal8Bit(proc_.readLine()).trimmed();
  }
  ~Sim() { Stop(); }

  QString path() const { return path_; }
  QString dir(const QString& name) const { return dir_.filePath(name); }

  // Stops the unit; its state file then holds this run's counters.
  void Stop() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.terminate();
    if (!proc_.waitForFinished(5000)) proc_.kill();
    proc_.waitForFinished(2000);
  }
  void Kill() {
    proc_.kill();
    proc_.waitForFinished(2000);
  }

  // "key value..." lines of the state file; the stats line split into
  // "stats.NAME" entries.
  std::map<std::string, std::string> State() const {
    std::map<std::string, std::string> out;
    QFile f(statePath_);
    if (!f.open(QIODevice::ReadOnly)) return out;
    for (const QByteArray& raw : f.readAll().split('\n')) {
      const QList<QByteArray> words = raw.trimmed().split(' ');
      if (words.size() < 2 || words[0].startsWith('#')) continue;
      if (words[0] == "stats") {
        for (int i = 1; i < words.size(); ++i) {
          const QList<QByteArray> kv = words[i].split('=');
          if (kv.size() == 2) out["stats." + kv[0].toStdString()] = kv[1].toStdString();
        }
      } else {
        out[words[0].toStdString()] = words[1].toStdString();
      }
    }
    return out;
  }

 private:
  QTemporaryDir dir_;
  QString statePath_;
  QProcess proc_;
  QString path_;
};
#endif

}  // namespace vyo::test
