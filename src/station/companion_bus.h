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
#include <chrono>
#include <string>

#include "base/result.h"

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

  // How long a bus that accepted the connection may stay silent before it is given up.
  static constexpr std::chrono::milliseconds kAnswerLimit{5000};

  // Joins the session bus (the system bus when `systemBus`) and listens for requests. Fails, with
  // why, when the bus cannot be reached, does not answer within kAnswerLimit, or refuses the
  // match rule. A readable `stopFd` (the station's stop signals) ends the wait at once, with
  // `*stopped` set. Once connected, a second call changes nothing.
  Status Connect(bool systemBus, int stopFd = -1, bool* stopped = nullptr);
  bool IsConnected() const { return bus_.isConnected(); }
  // Tells every companion that `port` passed (kPassed) or failed (kFailed). Nothing else is sent:
  // a 2 would ask this station, and every other on the bus, for a run. A bus that was joined and
  // is gone (its daemon died) is joined again first; fails, with why, when the broadcast could
  // not be sent. Without a Connect there is nothing to tell, and nothing is lost.
  Status Broadcast(int port, int result);

 Q_SIGNALS:
  // A companion asked for a run, exactly as the Start button does.
  void startRequested();

 private Q_SLOTS:
  void OnMergeRadMdl(const QDBusMessage& message);

 private:
  // Lets the connection go, the request hook first.
  void Leave();
  Status Join(bool systemBus, std::chrono::milliseconds limit, int stopFd, bool* stopped);

  QString name_;  // our own connection, so that closing it touches no one else's
  QDBusConnection bus_;
  bool joined_ = false;  // a Connect succeeded: a bus gone since then is a loss
  bool systemBus_ = false;
};

}  // namespace mirk3
