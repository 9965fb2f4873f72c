// Round trip of 10,000 pings through the service (wire method Request and typed Ping) against the
// floor: a bare GDBus server on the same bus that answers Request at once. Prints median, 99th
// percentile and the ratio to the floor. Needs a session bus and a display (scripts/bench-service).
#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/glib/zbGOwner.h"
#include "service/HtmlServiceConst.h"

namespace {

using namespace zb;

constexpr char kEchoName[] = "com.vestrum.Plumadesk5.BenchEcho";
constexpr int kRounds = 10000;
constexpr int kWarmUp = 500;

// The floor: the same interface shape, no queue, no dispatcher, no GTK.
int RunEchoServer() {
  static const char xml[] =
      "<node><interface name='com.vestrum.Plumadesk5.HtmlService'>"
      "<method name='Request'><arg type='i' direction='in'/><arg type='ay' direction='in'/>"
      "<arg type='i' direction='out'/></method><method name='Ping'><arg type='i' direction='out'/></method>"
      "<method name='Terminate'><arg type='i' direction='out'/></method></interface></node>";
  TzbGError error;
  TzbGObject<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, error.Out()));
  if (!bus) return 1;
  TzbGNodeInfo node(g_dbus_node_info_new_for_xml(xml, nullptr));
  static GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  static const GDBusInterfaceVTable vtable = {
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* AMethod, GVariant*,
         GDBusMethodInvocation* AInvocation, gpointer) {
        if (g_strcmp0(AMethod, "Terminate") == 0) g_main_loop_quit(loop);
        g_dbus_method_invocation_return_value(AInvocation, g_variant_new("(i)", 1));
      },
      nullptr,
      nullptr,
      {}};
  g_dbus_connection_register_object(bus.get(), ServiceObjectPath, node->interfaces[0], &vtable, nullptr, nullptr,
                                    nullptr);
  g_bus_own_name_on_connection(bus.get(), kEchoName, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE, nullptr, nullptr, nullptr,
                               nullptr);
  g_main_loop_run(loop);
  g_dbus_connection_flush_sync(bus.get(), nullptr, nullptr);
  return 0;
}

bool NameOwned(GDBusConnection* ABus, const char* AName) {
  TzbGVariant reply(g_dbus_connection_call_sync(ABus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", AName),
                                                G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
  gboolean owned = FALSE;
  if (reply) g_variant_get(reply.get(), "(b)", &owned);
  return owned;
}

pid_t Start(const std::vector<std::string>& AArgv, GDBusConnection* ABus, const char* AName) {
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : AArgv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  while (!NameOwned(ABus, AName)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return pid;
}

struct TStats {
  double Median;
  double P99;
};

TStats StatsOf(std::vector<double>& AMicros) {
  std::sort(AMicros.begin(), AMicros.end());
  return {AMicros[AMicros.size() / 2], AMicros[AMicros.size() * 99 / 100]};
}

struct TTarget {
  const char* Name;
  const char* Method;
  std::vector<double> Micros;
};

double RoundTrip(GDBusConnection* ABus, const TTarget& ATarget) {
  GVariant* params = nullptr;
  if (std::strcmp(ATarget.Method, "Request") == 0) {
    params = g_variant_new("(i@ay)", HS_PING, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1));
  }
  auto t0 = std::chrono::steady_clock::now();
  TzbGVariant reply(g_dbus_connection_call_sync(ABus, ATarget.Name, ServiceObjectPath, ServiceInterface, ATarget.Method,
                                                params, G_VARIANT_TYPE("(i)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                G_MAXINT, nullptr, nullptr));
  auto t1 = std::chrono::steady_clock::now();
  if (!reply) {
    std::fprintf(stderr, "bench: %s.%s failed\n", ATarget.Name, ATarget.Method);
    std::exit(1);
  }
  return std::chrono::duration<double, std::micro>(t1 - t0).count();
}

// One call of each target per round, in rotating order, so that a change of machine load (other
// builds on the same cores) hits all three alike.
void Measure(GDBusConnection* ABus, std::vector<TTarget>& ATargets) {
  for (auto& t : ATargets) t.Micros.reserve(kRounds);
  for (int i = 0; i < kWarmUp + kRounds; ++i) {
    for (std::size_t k = 0; k < ATargets.size(); ++k) {
      auto& t = ATargets[(i + k) % ATargets.size()];
      double us = RoundTrip(ABus, t);
      if (i >= kWarmUp) t.Micros.push_back(us);
    }
  }
}

void Terminate(GDBusConnection* ABus, const char* AName, pid_t APid) {
  TzbGVariant reply(g_dbus_connection_call_sync(ABus, AName, ServiceObjectPath, ServiceInterface, "Terminate", nullptr,
                                                nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr));
  waitpid(APid, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--echo-server") == 0) return RunEchoServer();
  const std::string service = argc > 1 ? argv[1] : HTMLSERVICE_PATH;
  TzbGError error;
  TzbGObject<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, error.Out()));
  if (!bus) {
    std::fprintf(stderr, "bench: no session bus: %s\n", error.Message());
    return 1;
  }
  if (NameOwned(bus.get(), ServiceBusName)) {
    std::fprintf(stderr, "bench: a service already runs on this bus; use a private bus (scripts/bench-service)\n");
    return 1;
  }
  char self[4096] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) < 0) return 1;
  pid_t echo = Start({self, "--echo-server"}, bus.get(), kEchoName);
  pid_t svc = Start({service}, bus.get(), ServiceBusName);

  std::vector<TTarget> targets = {
      {kEchoName, "Request", {}}, {ServiceBusName, "Request", {}}, {ServiceBusName, "Ping", {}}};
  Measure(bus.get(), targets);
  TStats floor = StatsOf(targets[0].Micros), wire = StatsOf(targets[1].Micros), typed = StatsOf(targets[2].Micros);
  Terminate(bus.get(), ServiceBusName, svc);
  Terminate(bus.get(), kEchoName, echo);

  std::printf("%-28s %10s %10s %8s\n", "round trip, 10000 calls", "median us", "p99 us", "ratio");
  std::printf("%-28s %10.1f %10.1f %8s\n", "floor: bare GDBus echo", floor.Median, floor.P99, "1.00");
  std::printf("%-28s %10.1f %10.1f %8.2f\n", "service: Request(1025)", wire.Median, wire.P99,
              wire.Median / floor.Median);
  std::printf("%-28s %10.1f %10.1f %8.2f\n", "service: Ping()", typed.Median, typed.P99, typed.Median / floor.Median);
  std::printf("goal: median within 1.30 of the floor: %s\n",
              std::max(wire.Median, typed.Median) / floor.Median <= 1.3 ? "met" : "NOT met");
  return 0;
}
