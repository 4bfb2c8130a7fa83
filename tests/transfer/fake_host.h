// A host for the controller with a virtual clock: timers fire and received
// bytes arrive in the order of their virtual times, and nothing sleeps.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "config/presets.h"
#include "config/record.h"
#include "transfer/controller.h"

namespace vyo::test {

struct Box {
  std::string caption, text;
  BoxIcon icon;
};

class FakeHost : public Host {
 public:
  Controller* ctl = nullptr;
  uint64_t now = 0;
  bool open = true;
  std::vector<std::pair<uint64_t, Bytes>> writes;  // time, frame
  std::vector<std::string> logs;
  std::vector<std::string> redLogs;
  std::vector<Box> boxes;
  std::vector<Outcome> outcomes;
  std::vector<UnitInfo> units;
  PanelValues panel = DefaultPanel();
  bool preset = false, autoClose = false, configEnabled = true;
  int progressMax = 0, progress = 0;
  int disconnects = 0;
  std::vector<PanelField> cleared;
  // Called for each frame the tool writes (the unit's side in tests).
  std::function<void(const Bytes&)> onWrite;
  int messageDepth = 0, maxMessageDepth = 0;
  // ProcessMessages delivers received bytes that are due (as a real event
  // loop would); off to model a unit slower than the handlers.
  bool deliverInProcessMessages = true;
  // The next writes fail: nothing goes out and 0 is returned.
  int failWrites = 0;

  // Bytes arriving as one receive event at `at` (default: now).
  void Deliver(Bytes bytes, uint64_t at) { rx_.push_back({at, std::move(bytes)}); SortRx(); }
  void Deliver(Bytes bytes) { Deliver(std::move(bytes), now); }

  // Runs timers and deliveries up to now + ms, in time order.
  void Advance(uint64_t ms) {
    const uint64_t target = now + ms;
    for (;;) {
      uint64_t t = target + 1;
      int which = -1;  // -1 none, 0..2 timer, 3 rx
      for (int i = 0; i < kTimerCount; ++i)
        if (enabled_[i] && next_[i] < t) { t = next_[i]; which = i; }
      if (!rx_.empty() && rx_.front().first <= t && rx_.front().first <= target) { t = rx_.front().first; which = 3; }
      if (which < 0 || t > target) break;
      now = std::max(now, t);
      if (which == 3) DeliverFront();
      else Fire(which);
    }
    now = target;
  }

  // Runs until no timer is enabled and nothing is due, or `limitMs` passes.
  void RunUntilIdle(uint64_t limitMs = 120000) {
    const uint64_t end = now + limitMs;
    while (now < end && (AnyTimer() || !rx_.empty())) Advance(10);
  }

  bool AnyTimer() const { return enabled_[0] || enabled_[1] || enabled_[2]; }
  size_t WriteCount() const { return writes.size(); }
  bool Logged(const std::string& s) const { return std::find(logs.begin(), logs.end(), s) != logs.end(); }

  // Host
  bool PortOpen() override { return open; }
  size_t PortWrite(const uint8_t* d, size_t n) override {
    if (failWrites > 0) {
      --failWrites;
      return 0;
    }
    Bytes b(d, d + n);
    writes.push_back({now, b});
    if (onWrite) onWrite(b);
    return n;
  }
  size_t PortRead(uint8_t* buf, size_t n) override {
    const size_t k = std::min(n, readBuf_.size());
    std::copy(readBuf_.begin(), readBuf_.begin() + k, buf);
    readBuf_.erase(readBuf_.begin(), readBuf_.begin() + k);
    return k;
  }
  void Disconnect() override {
    open = false;
    ++disconnects;
    logs.push_back("Conexão fechada...");
  }
  uint64_t NowMs() override { return now; }
  void SetTimer(TimerId id, bool on) override {
    const int i = int(id);
    if (on && !enabled_[i]) next_[i] = now + kTimerIntervalMs[i];
    enabled_[i] = on;
  }
  bool TimerEnabled(TimerId id) override { return enabled_[int(id)]; }
  void ProcessMessages() override {
    ++messageDepth;
    maxMessageDepth = std::max(maxMessageDepth, messageDepth);
    if (deliverInProcessMessages)
      while (!rx_.empty() && rx_.front().first <= now) DeliverFront();
    --messageDepth;
  }
  void Log(const std::string& text, bool red) override {
    logs.push_back(text);
    if (red) redLogs.push_back(text);
  }
  void ShowMessage(const std::string& c, const std::string& t, BoxIcon i) override { boxes.push_back({c, t, i}); }
  void SetProgressMax(int m) override { progressMax = m; }
  void SetProgress(int p) override { progress = p; }
  PanelValues ReadPanel() override { return panel; }
  void WritePanel(const PanelValues& v) override { panel = v; }
  void ClearPanelField(PanelField f) override { cleared.push_back(f); }
  bool PresetChecked() override { return preset; }
  bool AutoCloseChecked() override { return autoClose; }
  void SetConfigControlsEnabled(bool e) override { configEnabled = e; }
  void UnitIdentified(const UnitInfo& u) override { units.push_back(u); }
  void OperationEnded(Outcome o, uint32_t) override { outcomes.push_back(o); }

 private:
  void SortRx() {
    std::stable_sort(rx_.begin(), rx_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  void DeliverFront() {
    Bytes b = std::move(rx_.front().second);
    rx_.pop_front();
    readBuf_.insert(readBuf_.end(), b.begin(), b.end());
    if (ctl && open) ctl->VCPRxChar(int(readBuf_.size()));
  }
  void Fire(int i) {
    next_[i] += kTimerIntervalMs[i];
    if (!ctl) return;
    if (i == 0) ctl->Timer1Timer();
    else if (i == 1) ctl->Timer2Timer();
    else ctl->Timer3Timer();
  }

  bool enabled_[kTimerCount] = {};
  uint64_t next_[kTimerCount] = {};
  std::deque<std::pair<uint64_t, Bytes>> rx_;
  Bytes readBuf_;
};

// Frames the unit sends.
inline Bytes UnitFrame(uint8_t code, const Bytes& payload) { return BuildFrame(code, payload, kUnitAddress); }
inline Bytes AckFrame(uint32_t packet) {
  Bytes p;
  PutBE16(p, packet);
  return UnitFrame(kCodeAck, p);
}
inline Bytes NackFrame() { return UnitFrame(kCodeNack, Bytes{0, 0}); }

inline UnitInfo MakeUnit(uint8_t major, uint8_t minor, uint8_t release, uint8_t build, uint8_t mode = 1) {
  UnitInfo u;
  u.mode = mode;
  u.id = {0x11223344, 0x55667788, 0x99AABBCC};
  u.text1 = "VYO";
  u.text2 = "BOOT";
  u.major = major;
  u.minor = minor;
  u.release = release;
  u.build = build;
  u.baseAddress = 0x0803F000;
  return u;
}
inline Bytes IdentFrame(const UnitInfo& u) { return UnitFrame(kCodeIdentification, BuildIdentification(u)); }

// Fields of an upload packet frame written by the tool.
struct Packet {
  uint8_t code = 0;
  uint32_t token = 0, number = 0, count = 0;
  Bytes data;
};
inline Packet ParsePacket(const Bytes& f) {
  Packet p;
  p.code = f[2];
  const size_t len = GetBE16(&f[3]);
  p.token = GetBE16(&f[5]);
  p.number = GetBE16(&f[7]);
  p.count = GetBE16(&f[9]);
  p.data.assign(f.begin() + 11, f.begin() + 5 + len);
  return p;
}

}  // namespace vyo::test
