// The companion interface on D-Bus: one connection of our own, a match rule without a sender
// so that any program (dbus-send included) can ask for a run, and the result broadcasts.
#include "station/companion_bus.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QtGlobal>
#include <atomic>

#include "station/bus_probe.h"

namespace mirk3 {
namespace {

constexpr const char* kPath = "/org/mirk3/Station";
constexpr const char* kInterface = "org.mirk3.Station";
constexpr const char* kMember = "MergeRadMDL";
constexpr int kRunRequest = 2;
constexpr int kHighestRequestPort = 8;
constexpr std::chrono::milliseconds kRejoinLimit{500};

// Each bus object gets a connection name of its own; Qt shares connections by name.
QString UniqueConnectionName() {
  static std::atomic<int> next{0};
  return QStringLiteral("mirk3-companion-%1").arg(next++);
}

// The session bus named by DBUS_SESSION_BUS_ADDRESS is opened by that address, read now: the
// bus library reads the variable only once per process, and a station (or a test) may point it
// elsewhere before connecting.
QDBusConnection OpenBus(bool systemBus, const QString& name) {
  if (!systemBus) {
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty()) return QDBusConnection::connectToBus(address, name);
  }
  return QDBusConnection::connectToBus(
      systemBus ? QDBusConnection::SystemBus : QDBusConnection::SessionBus, name);
}

std::string Failure(const QString& said) {
  std::string text = CompanionBus::kRegistrationFailed;
  if (!said.isEmpty()) text += " " + said.toStdString();
  return text;
}

std::string LimitText(std::chrono::milliseconds limit) {
  if (limit.count() % 1000 == 0) return std::to_string(limit.count() / 1000) + " s";
  return std::to_string(limit.count()) + " ms";
}

}  // namespace

CompanionBus::CompanionBus(QObject* parent)
    : QObject(parent), name_(UniqueConnectionName()), bus_(name_) {}

CompanionBus::~CompanionBus() { Leave(); }

void CompanionBus::Leave() {
  // The hook goes first, on this thread: a connection torn down later by the bus library's own
  // thread must find nothing of this object to unhook while it is being destroyed.
  if (joined_) {
    bus_.disconnect(QString(), kPath, kInterface, kMember, this, SLOT(OnMergeRadMdl(QDBusMessage)));
  }
  QDBusConnection::disconnectFromBus(name_);
  bus_ = QDBusConnection(name_);
}

Status CompanionBus::Connect(bool systemBus, int stopFd, bool* stopped) {
  if (bus_.isConnected()) return {};  // a second match rule would double every request
  return Join(systemBus, kAnswerLimit, stopFd, stopped);
}

Status CompanionBus::Join(bool systemBus, std::chrono::milliseconds limit, int stopFd,
                          bool* stopped) {
  const BusProbeResult probe = ProbeBus(systemBus, limit, stopFd);
  if (probe.outcome != BusProbe::Answered) {
    if (stopped) *stopped = probe.outcome == BusProbe::Stopped;
    return Fail(Failure(QString::fromStdString(
        "The bus at " + probe.address + " does not answer within " + LimitText(limit) + ".")));
  }
  bus_ = OpenBus(systemBus, name_);
  // An empty service leaves the sender out of the match rule. The slot takes the whole message:
  // a slot of (int, int) would also be handed "iii" and "iis", whose first two match.
  if (bus_.isConnected() && bus_.connect(QString(), kPath, kInterface, kMember, this,
                                         SLOT(OnMergeRadMdl(QDBusMessage)))) {
    joined_ = true;
    systemBus_ = systemBus;
    return {};
  }
  Status refused = Fail(Failure(bus_.lastError().message()));
  QDBusConnection::disconnectFromBus(name_);
  return refused;
}

Status CompanionBus::Broadcast(int port, int result) {
  if (!joined_ || (result != kPassed && result != kFailed)) return {};
  if (!bus_.isConnected()) {
    // The old connection is dead for good: Qt keeps it under our name until it is let go.
    Leave();
    // A short wait: the station's main thread is waiting here, in the middle of a run.
    if (const Status rejoined = Join(systemBus_, kRejoinLimit, -1, nullptr); !rejoined) {
      return Fail("the companion bus is gone and cannot be joined again: " + rejoined.error().text);
    }
  }
  QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, kMember);
  signal << port << result;
  if (bus_.send(signal)) return {};
  return Fail("a result could not be sent on the companion bus: " +
              bus_.lastError().message().toStdString());
}

void CompanionBus::OnMergeRadMdl(const QDBusMessage& message) {
  // Only exactly two int32 arguments are a request.
  if (message.signature() != QLatin1String("ii")) return;
  const QList<QVariant> args = message.arguments();
  const int wParam = args.at(0).toInt();
  const int lParam = args.at(1).toInt();
  if (wParam >= 0 && wParam <= kHighestRequestPort && lParam == kRunRequest) {
    Q_EMIT startRequested();
  }
}

}  // namespace mirk3
