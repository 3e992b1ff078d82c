#include "station/bus_probe.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "base/file.h"
#include "base/text.h"

namespace mirk3 {
namespace {

struct SocketAddress {
  std::string name;
  bool abstract = false;
};

std::string Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      out += static_cast<char>(std::strtol(value.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

// The first unix address of a D-Bus address list ("unix:path=/run/x,guid=...;tcp:...").
std::optional<SocketAddress> UnixSocketOf(const std::string& addresses) {
  size_t start = 0;
  while (start <= addresses.size()) {
    const size_t end = std::min(addresses.find(';', start), addresses.size());
    const std::string entry = addresses.substr(start, end - start);
    start = end + 1;
    if (entry.rfind("unix:", 0) != 0) continue;
    for (size_t from = 5; from <= entry.size();) {
      const size_t comma = std::min(entry.find(',', from), entry.size());
      const std::string pair = entry.substr(from, comma - from);
      from = comma + 1;
      if (pair.rfind("path=", 0) == 0) return SocketAddress{Unescape(pair.substr(5)), false};
      if (pair.rfind("abstract=", 0) == 0) return SocketAddress{Unescape(pair.substr(9)), true};
    }
  }
  return std::nullopt;
}

std::string AddressOf(bool systemBus) {
  const char* named =
      std::getenv(systemBus ? "DBUS_SYSTEM_BUS_ADDRESS" : "DBUS_SESSION_BUS_ADDRESS");
  if (named && *named) return named;
  if (systemBus) return "unix:path=/var/run/dbus/system_bus_socket";
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && *runtime ? std::string("unix:path=") + runtime + "/bus" : "";
}

// A connected socket, or none when nobody listens there.
UniqueFd ConnectTo(const SocketAddress& address) {
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  const size_t offset = address.abstract ? 1 : 0;
  if (address.name.size() + offset >= sizeof sa.sun_path) return UniqueFd();
  std::memcpy(sa.sun_path + offset, address.name.data(), address.name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                             address.name.size() + (address.abstract ? 0 : 1));
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) return fd;
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&sa), length) != 0 &&
      errno != EINPROGRESS && errno != EAGAIN) {
    return UniqueFd();
  }
  return fd;
}

// The greeting's first line: a NUL, then an authentication by the process's user id.
std::string AuthLine() {
  std::string hex;
  for (const char c : std::to_string(::getuid()))
    hex += Format("%02x", static_cast<unsigned char>(c));
  return std::string(1, '\0') + "AUTH EXTERNAL " + hex + "\r\n";
}

}  // namespace

BusProbeResult ProbeBus(bool systemBus, std::chrono::milliseconds limit, int stopFd) {
  BusProbeResult result;
  result.address = AddressOf(systemBus);
  const std::optional<SocketAddress> address = UnixSocketOf(result.address);
  if (!address) return result;
  const UniqueFd fd = ConnectTo(*address);
  if (!fd) return result;
  const std::string greeting = AuthLine();
  bool sent = false;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.outcome = BusProbe::Silent;
      return result;
    }
    pollfd fds[2] = {{fd.Get(), static_cast<short>(sent ? POLLIN : POLLOUT), 0},
                     {stopFd, POLLIN, 0}};
    const int n = ::poll(fds, stopFd >= 0 ? 2 : 1, static_cast<int>(left.count()) + 1);
    if (n < 0 && errno != EINTR) return result;
    if (n <= 0) continue;
    if (stopFd >= 0 && (fds[1].revents & POLLIN)) {
      result.outcome = BusProbe::Stopped;
      return result;
    }
    if (fds[0].revents & (POLLERR | POLLHUP)) return result;  // left to the library to word
    if (!sent && (fds[0].revents & POLLOUT)) {
      // A few bytes: a fresh socket's buffer takes them in one write.
      sent = ::send(fd.Get(), greeting.data(), greeting.size(), MSG_NOSIGNAL) ==
             static_cast<ssize_t>(greeting.size());
      if (!sent) return result;
    } else if (fds[0].revents & POLLIN) {
      return result;  // any answer: the bus speaks
    }
  }
}

}  // namespace mirk3
