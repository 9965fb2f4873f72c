// The service's end of the D-Bus session bus: it publishes the request object, owns the well-known
// name (one instance per session), and feeds every request, wire or typed, through one FIFO into one
// handler, so that requests are served one at a time in arrival order and never nest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "support/zbException.h"

namespace zb {

class EzbBusError : public EzbException {
 public:
  using EzbException::EzbException;
};

// One request as the handler sees it; Data is null when the sender sent an empty block.
struct TzbBusRequest {
  std::int32_t Code = 0;
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
};

// The value of a typed command call, one alternative per D-Bus basic type it may carry;
// monostate is the empty value (an empty structure "()" inside the variant).
using TzbBusValue = std::variant<std::monostate, bool, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
                                 std::uint32_t, std::int64_t, std::uint64_t, double, std::u16string>;

// The arguments of a typed method, already out of D-Bus.
struct TzbBusCall {
  std::u16string Text;
  std::int32_t X = 0;
  std::int32_t Y = 0;
  std::int32_t Command = 0;
  bool ShowUI = false;
  TzbBusValue Value;
};

// The argument shape of a typed method: (), (s), (ii) or (ibv); every one answers (i).
enum class TzbBusArgs { baNone, baText, baPoint, baCommand };

struct TzbBusMethod {
  std::string Name;
  TzbBusArgs Args = TzbBusArgs::baNone;
  std::int32_t Code = 0;
};

struct TzbBusNames {
  std::string BusName;
  std::string ObjectPath;
  std::string InterfaceName;
  std::u16string Title;      // the read-only property Title
  std::string InterfaceXml;  // introspection data holding InterfaceName; must describe every method served
};

class IzbBusHandler {
 public:
  virtual ~IzbBusHandler() = default;
  // Runs one request to its end and gives its answer. An exception becomes a D-Bus error for the
  // sender, after RequestFailed has seen it.
  virtual std::int32_t HandleRequest(const TzbBusRequest& ARequest) = 0;
  // The data block a typed method sends; raises EzbException when the block cannot carry the call.
  virtual std::vector<std::uint8_t> BuildBlock(const TzbBusMethod& AMethod, const TzbBusCall& ACall) = 0;
  virtual void RequestFailed(const std::exception& AError) = 0;
};

class TzbBusServer {
 public:
  // Connects to the session bus and publishes the object (not yet under the well-known name).
  // Raises EzbBusError when there is no session bus.
  TzbBusServer(TzbBusNames ANames, std::vector<TzbBusMethod> AMethods);
  ~TzbBusServer();
  TzbBusServer(const TzbBusServer&) = delete;
  TzbBusServer& operator=(const TzbBusServer&) = delete;

  // Asks for the well-known name without queueing; false when another process owns it.
  bool OwnName();
  // Gives the name back once every answer given so far has left; a new instance may start at once.
  void ReleaseName();

  // Requests that arrive before a handler is installed wait in the FIFO and are served once it is.
  void SetHandler(IzbBusHandler* AHandler);
  // From now on queued and new requests are refused with an error instead of being served.
  void Stop();

  std::size_t Queued() const;

  struct TImpl;

 private:
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace zb
