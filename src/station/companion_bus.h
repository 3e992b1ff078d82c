// The companion interface: a test program beside the station starts runs and hears each port's
// result through one D-Bus signal, MergeRadMDL(int32 wParam, int32 lParam), interface
// org.mirk3.Station, path /org/mirk3/Station. The station broadcasts (port, 1) for a pass and
// (port, -1) for a fail; (0..8, 2) from any sender asks for a run. This class only carries the
// messages: whoever owns the run connects startRequested to its Start.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <string>

namespace mirk3 {

class CompanionBus : public QObject {
  Q_OBJECT

 public:
  // What the station says when it cannot reach the bus; what D-Bus said follows it.
  static constexpr const char* kRegistrationFailed =
      "The message to comunicate to the test program failed registration.";
  static constexpr int kPassed = 1;
  static constexpr int kFailed = -1;

  explicit CompanionBus(QObject* parent = nullptr);
  ~CompanionBus() override;
  CompanionBus(const CompanionBus&) = delete;
  CompanionBus& operator=(const CompanionBus&) = delete;

  // Joins the session bus (the system bus when `systemBus`) and listens for requests. False, with
  // `error` set, when the bus cannot be reached or refuses the match rule. Once connected, a
  // second call changes nothing.
  bool Connect(bool systemBus, std::string* error);
  // Tells every companion that `port` passed (kPassed) or failed (kFailed). Nothing else is sent:
  // a 2 would ask this station, and every other on the bus, for a run.
  void Broadcast(int port, int result);

 Q_SIGNALS:
  // A companion asked for a run, exactly as the Start button does.
  void startRequested();

 private Q_SLOTS:
  void OnMergeRadMdl(const QDBusMessage& message);

 private:
  QString name_;  // our own connection, so that closing it touches no one else's
  QDBusConnection bus_;
};

}  // namespace mirk3
