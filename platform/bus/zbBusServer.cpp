#include "platform/bus/zbBusServer.h"

#include <unistd.h>

#include <utility>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "support/zbUnicode.h"

namespace zb {

namespace {

constexpr const char* DBusName = "org.freedesktop.DBus";
constexpr const char* DBusPath = "/org/freedesktop/DBus";
constexpr guint32 NameFlagDoNotQueue = 4;
constexpr guint32 NamePrimaryOwner = 1;
constexpr guint32 NameAlreadyOwner = 4;
// Unique names are never reused on a bus, so the uid of a sender can be remembered; the bound
// only keeps a long-lived service from collecting every client it ever saw.
constexpr std::size_t UidCacheLimit = 256;

// The D-Bus in-signature of each argument shape.
const char* ArgsSignature(TzbBusArgs AArgs) {
  switch (AArgs) {
    case TzbBusArgs::baNone: return "";
    case TzbBusArgs::baText: return "s";
    case TzbBusArgs::baPoint: return "ii";
    case TzbBusArgs::baCommand: return "ibv";
  }
  return "";
}

std::string Signature(GDBusArgInfo** AArgs) {
  std::string signature;
  for (GDBusArgInfo** arg = AArgs; arg && *arg; ++arg) signature += (*arg)->signature;
  return signature;
}

// The published description and the methods the program serves must be the same, or callers would
// be promised what is not there.
void CheckInterface(const GDBusInterfaceInfo& AInterface, const std::vector<TzbBusMethod>& AMethods) {
  const auto expect = [&](const std::string& AName, const char* AIn) {
    GDBusMethodInfo* method =
        g_dbus_interface_info_lookup_method(const_cast<GDBusInterfaceInfo*>(&AInterface), AName.c_str());
    if (!method || Signature(method->in_args) != AIn || Signature(method->out_args) != "i")
      throw EzbBusError(u"Die Schnittstellenbeschreibung beschreibt die Methode %s nicht", {Utf8ToUtf16(AName)});
  };
  expect("Request", "iay");
  for (const auto& m : AMethods) expect(m.Name, ArgsSignature(m.Args));
  std::size_t described = 0;
  for (GDBusMethodInfo** m = AInterface.methods; m && *m; ++m) ++described;
  if (described != AMethods.size() + 1)
    throw EzbBusError(std::u16string(u"Die Schnittstellenbeschreibung nennt Methoden, die der Dienst nicht bedient"));
  if (!g_dbus_interface_info_lookup_property(const_cast<GDBusInterfaceInfo*>(&AInterface), "Title"))
    throw EzbBusError(std::u16string(u"Der Schnittstellenbeschreibung fehlt die Eigenschaft Title"));
}

TzbBusValue ValueFromVariant(GVariant* AValue) {
  const GVariantType* t = g_variant_get_type(AValue);
  if (g_variant_type_equal(t, G_VARIANT_TYPE_BOOLEAN)) return bool(g_variant_get_boolean(AValue));
  if (g_variant_type_equal(t, G_VARIANT_TYPE_BYTE)) return std::uint8_t(g_variant_get_byte(AValue));
  if (g_variant_type_equal(t, G_VARIANT_TYPE_INT16)) return std::int16_t(g_variant_get_int16(AValue));
  if (g_variant_type_equal(t, G_VARIANT_TYPE_UINT16)) return std::uint16_t(g_variant_get_uint16(AValue));
  if (g_variant_type_equal(t, G_VARIANT_TYPE_INT32)) return std::int32_t(g_variant_get_int32(AValue));
  if (g_variant_type_equal(t, G_VARIANT_TYPE_UINT32)) return std::uint32_t(g_variant_get_uint32(AValue));
  if (g_variant_type_equal(t, G_VARIANT_TYPE_INT64)) return std::int64_t(g_variant_get_int64(AValue));
  if (g_variant_type_equal(t, G_VARIANT_TYPE_UINT64)) return std::uint64_t(g_variant_get_uint64(AValue));
  if (g_variant_type_equal(t, G_VARIANT_TYPE_DOUBLE)) return g_variant_get_double(AValue);
  if (g_variant_type_equal(t, G_VARIANT_TYPE_STRING)) return Utf8ToUtf16(g_variant_get_string(AValue, nullptr));
  if (g_variant_type_equal(t, G_VARIANT_TYPE_UNIT)) return std::monostate{};
  throw EzbBusError(u"Ein Befehlswert vom Typ %s kann nicht übertragen werden",
                    {Utf8ToUtf16(g_variant_get_type_string(AValue))});
}

// The typed arguments out of the call's parameters; the signature was checked by GDBus.
TzbBusCall CallFromParameters(TzbBusArgs AArgs, GVariant* AParameters) {
  TzbBusCall call;
  switch (AArgs) {
    case TzbBusArgs::baNone: break;
    case TzbBusArgs::baText: {
      const char* text = nullptr;
      g_variant_get(AParameters, "(&s)", &text);
      call.Text = Utf8ToUtf16(text);
      break;
    }
    case TzbBusArgs::baPoint: g_variant_get(AParameters, "(ii)", &call.X, &call.Y); break;
    case TzbBusArgs::baCommand: {
      gboolean showUI = FALSE;
      GVariant* raw = nullptr;
      g_variant_get(AParameters, "(ibv)", &call.Command, &showUI, &raw);
      TzbGVariant value(raw);
      call.ShowUI = showUI;
      call.Value = ValueFromVariant(value.get());
      break;
    }
  }
  return call;
}

}  // namespace

struct TzbBusServer::TImpl {
  struct TPending {
    TzbGObject<GDBusMethodInvocation> Invocation;
    const TzbBusMethod* Method = nullptr;  // null: the wire method Request
    std::int32_t Code = 0;
    std::vector<std::uint8_t> Block;
    TzbBusCall Call;
  };

  TzbBusNames Names;
  std::vector<TzbBusMethod> Methods;
  std::string ErrorPrefix;
  TzbGObject<GDBusConnection> Connection;
  TzbGNodeInfo Node;
  guint Registration = 0;
  TzbSource IdleSource;
  bool OwnsName = false;
  bool Serving = false;
  bool Stopped = false;
  IzbBusHandler* Handler = nullptr;
  std::deque<TPending> Queue;
  std::unordered_map<std::string, guint32> UidOf;

  // The trampolines out of GDBus: nothing may unwind through its C frames.
  static void OnMethodCall(GDBusConnection*, const gchar* ASender, const gchar*, const gchar*, const gchar* AMethod,
                           GVariant* AParameters, GDBusMethodInvocation* AInvocation, gpointer AData) noexcept {
    TzbGObject<GDBusMethodInvocation> invocation(AInvocation);
    GuardCallback([&] { static_cast<TImpl*>(AData)->Receive(ASender, AMethod, AParameters, invocation); });
    // A call that failed before it was queued or answered still gets its answer.
    if (invocation)
      g_dbus_method_invocation_return_dbus_error(invocation.release(), "org.freedesktop.DBus.Error.Failed",
                                                 "The request could not be received");
  }

  static GVariant* OnGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* AProperty,
                                 GError** AError, gpointer AData) noexcept {
    auto* self = static_cast<TImpl*>(AData);
    if (g_strcmp0(AProperty, "Title") == 0)
      return GuardCallback([&] { return g_variant_new_string(Utf16ToUtf8(self->Names.Title).c_str()); },
                           static_cast<GVariant*>(nullptr));
    g_set_error(AError, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", AProperty);
    return nullptr;
  }

  static gboolean OnIdle(gpointer AData) noexcept {
    auto* self = static_cast<TImpl*>(AData);
    self->IdleSource.Ended();
    GuardCallback([&] { self->Serve(); });
    return G_SOURCE_REMOVE;
  }

  void ReturnError(TzbGObject<GDBusMethodInvocation> AInvocation, const char* AName, const std::string& AMessage) {
    // Messages of system errors may carry raw file-name bytes; D-Bus texts must be UTF-8.
    const TzbGChars valid(g_utf8_make_valid(AMessage.c_str(), static_cast<gssize>(AMessage.size())));
    g_dbus_method_invocation_return_dbus_error(AInvocation.release(), AName, valid.get());
  }

  bool SameUser(const char* ASender) {
    if (!ASender) return false;  // a peer-to-peer call has no bus to vouch for its sender
    auto found = UidOf.find(ASender);
    if (found == UidOf.end()) {
      TzbGError error;
      TzbGVariant reply(g_dbus_connection_call_sync(
          Connection.get(), DBusName, DBusPath, DBusName, "GetConnectionUnixUser", g_variant_new("(s)", ASender),
          G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, error.Out()));
      if (!reply) return false;
      guint32 uid = 0;
      g_variant_get(reply.get(), "(u)", &uid);
      if (UidOf.size() >= UidCacheLimit) UidOf.clear();
      found = UidOf.emplace(ASender, uid).first;
    }
    return found->second == static_cast<guint32>(getuid());
  }

  // Takes AInvocation over once it is answered or queued.
  void Receive(const char* ASender, const char* AMethod, GVariant* AParameters,
               TzbGObject<GDBusMethodInvocation>& AInvocation) {
    if (!SameUser(ASender)) {
      ReturnError(std::move(AInvocation), "org.freedesktop.DBus.Error.AccessDenied",
                  "Only the service's own user may send requests");
      return;
    }
    if (Stopped) {
      ReturnError(std::move(AInvocation), (ErrorPrefix + "Terminating").c_str(), "The service is terminating");
      return;
    }
    TPending pending;
    pending.Invocation = std::move(AInvocation);
    if (g_strcmp0(AMethod, "Request") == 0) {
      GVariant* rawData = nullptr;
      g_variant_get(AParameters, "(i@ay)", &pending.Code, &rawData);
      TzbGVariant data(rawData);
      gsize size = 0;
      auto* bytes = static_cast<const std::uint8_t*>(g_variant_get_fixed_array(data.get(), &size, 1));
      if (size > 0) pending.Block.assign(bytes, bytes + size);
    } else {
      for (const auto& m : Methods) {
        if (m.Name == AMethod) pending.Method = &m;
      }
      if (!pending.Method) {
        ReturnError(std::move(pending.Invocation), "org.freedesktop.DBus.Error.UnknownMethod", "No such method");
        return;
      }
      pending.Code = pending.Method->Code;
      try {
        pending.Call = CallFromParameters(pending.Method->Args, AParameters);
      } catch (const std::exception& e) {
        ReturnError(std::move(pending.Invocation), "org.freedesktop.DBus.Error.InvalidArgs", e.what());
        return;
      }
    }
    Queue.push_back(std::move(pending));
    Serve();
  }

  // Runs the queued requests in order. A request that iterates the main context while it waits lets
  // new calls in; they only join the queue here and run after it.
  void Serve() {
    if (Serving || !Handler) return;
    Serving = true;
    while (!Queue.empty()) {
      TPending pending = std::move(Queue.front());
      Queue.pop_front();
      if (Stopped) {
        ReturnError(std::move(pending.Invocation), (ErrorPrefix + "Terminating").c_str(), "The service is terminating");
        continue;
      }
      try {
        if (pending.Method) pending.Block = Handler->BuildBlock(*pending.Method, pending.Call);
      } catch (const std::exception& e) {
        ReturnError(std::move(pending.Invocation), "org.freedesktop.DBus.Error.InvalidArgs", e.what());
        continue;
      }
      TzbBusRequest request{pending.Code, pending.Block.empty() ? nullptr : pending.Block.data(), pending.Block.size()};
      try {
        std::int32_t answer = Handler->HandleRequest(request);
        g_dbus_method_invocation_return_value(pending.Invocation.release(), g_variant_new("(i)", answer));
      } catch (const std::exception& e) {
        Handler->RequestFailed(e);
        ReturnError(std::move(pending.Invocation), (ErrorPrefix + "Failed").c_str(), e.what());
      } catch (...) {
        // Nothing may leave through GDBus's C frames; the caller still gets an answer.
        const EzbBusError unknown(std::u16string(u"Unbekannter Fehler"));
        Handler->RequestFailed(unknown);
        ReturnError(std::move(pending.Invocation), (ErrorPrefix + "Failed").c_str(), unknown.what());
      }
    }
    Serving = false;
  }

  void RefuseQueued() {
    while (!Queue.empty()) {
      TPending pending = std::move(Queue.front());
      Queue.pop_front();
      ReturnError(std::move(pending.Invocation), (ErrorPrefix + "Terminating").c_str(), "The service is terminating");
    }
  }
};

TzbBusServer::TzbBusServer(TzbBusNames ANames, std::vector<TzbBusMethod> AMethods) : FImpl(std::make_unique<TImpl>()) {
  auto& d = *FImpl;
  d.Names = std::move(ANames);
  d.Methods = std::move(AMethods);
  d.ErrorPrefix = d.Names.InterfaceName + ".Error.";

  TzbGError error;
  d.Connection.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, error.Out()));
  if (!d.Connection) throw EzbBusError(u"Kein D-Bus-Sitzungsbus: %s", {Utf8ToUtf16(error.Message())});
  // The service decides itself when to end; losing the bus must not kill it in the middle of a request.
  g_dbus_connection_set_exit_on_close(d.Connection.get(), FALSE);

  TzbGError xmlError;
  d.Node.reset(g_dbus_node_info_new_for_xml(d.Names.InterfaceXml.c_str(), xmlError.Out()));
  if (!d.Node) throw EzbBusError(u"Ungültige Schnittstellenbeschreibung: %s", {Utf8ToUtf16(xmlError.Message())});
  GDBusInterfaceInfo* interface = g_dbus_node_info_lookup_interface(d.Node.get(), d.Names.InterfaceName.c_str());
  if (!interface)
    throw EzbBusError(std::u16string(u"Der Schnittstellenbeschreibung fehlt die Schnittstelle des Dienstes"));
  CheckInterface(*interface, d.Methods);

  static const GDBusInterfaceVTable vtable = {&TImpl::OnMethodCall, &TImpl::OnGetProperty, nullptr, {}};
  TzbGError regError;
  d.Registration = g_dbus_connection_register_object(d.Connection.get(), d.Names.ObjectPath.c_str(), interface, &vtable,
                                                     &d, nullptr, regError.Out());
  if (d.Registration == 0)
    throw EzbBusError(u"Das Dienstobjekt kann nicht veröffentlicht werden: %s", {Utf8ToUtf16(regError.Message())});
}

TzbBusServer::~TzbBusServer() {
  auto& d = *FImpl;
  d.IdleSource.Remove();
  d.Stopped = true;
  d.RefuseQueued();
  if (d.Registration) g_dbus_connection_unregister_object(d.Connection.get(), d.Registration);
  if (d.OwnsName) ReleaseName();
  if (d.Connection) g_dbus_connection_flush_sync(d.Connection.get(), nullptr, nullptr);
}

bool TzbBusServer::OwnName() {
  auto& d = *FImpl;
  TzbGError error;
  TzbGVariant reply(g_dbus_connection_call_sync(d.Connection.get(), DBusName, DBusPath, DBusName, "RequestName",
                                                g_variant_new("(su)", d.Names.BusName.c_str(), NameFlagDoNotQueue),
                                                G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                                                error.Out()));
  if (!reply) throw EzbBusError(u"Der Busname kann nicht angefordert werden: %s", {Utf8ToUtf16(error.Message())});
  guint32 result = 0;
  g_variant_get(reply.get(), "(u)", &result);
  d.OwnsName = result == NamePrimaryOwner || result == NameAlreadyOwner;
  return d.OwnsName;
}

void TzbBusServer::ReleaseName() {
  auto& d = *FImpl;
  if (!d.OwnsName) return;
  d.OwnsName = false;
  // The answers already given go out on the same connection before the release.
  TzbGVariant reply(g_dbus_connection_call_sync(d.Connection.get(), DBusName, DBusPath, DBusName, "ReleaseName",
                                                g_variant_new("(s)", d.Names.BusName.c_str()), G_VARIANT_TYPE("(u)"),
                                                G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
  g_dbus_connection_flush_sync(d.Connection.get(), nullptr, nullptr);
}

void TzbBusServer::SetHandler(IzbBusHandler* AHandler) {
  auto& d = *FImpl;
  d.Handler = AHandler;
  if (d.Handler && !d.Queue.empty() && !d.IdleSource) d.IdleSource = TzbSource(g_idle_add(&TImpl::OnIdle, &d));
}

void TzbBusServer::Stop() {
  FImpl->Stopped = true;
  if (!FImpl->Serving) FImpl->RefuseQueued();
}

std::size_t TzbBusServer::Queued() const { return FImpl->Queue.size(); }

}  // namespace zb
