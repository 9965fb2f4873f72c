#include "ServiceFixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>

#include "platform/glib/zbMainWait.h"
#include "service/HtmlServiceConst.h"
#include "tests/XdoTool.h"

namespace zb::test {

namespace {

std::vector<char*> CArgv(std::vector<std::string>& AStrings) {
  std::vector<char*> v;
  for (auto& s : AStrings) v.push_back(s.data());
  v.push_back(nullptr);
  return v;
}

pid_t Spawn(std::vector<std::string> AArgv, std::vector<std::string> AEnv, int* AStdout) {
  auto argv = CArgv(AArgv);
  auto envp = CArgv(AEnv);
  GPid pid = 0;
  TzbGError error;
  if (!g_spawn_async_with_pipes(
          nullptr, argv.data(), envp.data(), static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH),
          // A test ended by ctest's time limit takes its bus and service along, so
          // nothing holds its output open and the run goes on.
          +[](gpointer) { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }, nullptr, &pid, nullptr, AStdout, nullptr,
          error.Out())) {
    throw std::runtime_error(std::string("cannot start ") + AArgv[0] + ": " + error.Message());
  }
  return pid;
}

int ExitCodeOf(int AStatus) { return WIFEXITED(AStatus) ? WEXITSTATUS(AStatus) : -1; }

}  // namespace

TAnswer AnswerOf(GVariant* AReply, const GError* AError) {
  TAnswer answer;
  if (AReply) {
    std::int32_t v = 0;
    g_variant_get(AReply, "(i)", &v);
    answer.Value = v;
  } else if (AError) {
    TzbGChars name(g_dbus_error_get_remote_error(AError));
    answer.Error = name ? name.get() : AError->message;
  }
  return answer;
}

TPrivateBus::TPrivateBus() {
  TzbGError error;
  TzbGChars folder(g_dir_make_tmp("htmlservice-test-XXXXXX", error.Out()));
  if (!folder) throw std::runtime_error(error.Message());
  FFolder = folder.get();
  // The bus can start the service by name; any user may connect, so the service's own uid check is what
  // keeps other users out.
  std::ofstream(FFolder + "/" + ServiceBusName + ".service")
      << "[D-BUS Service]\nName=" << ServiceBusName << "\nExec=" << HTMLSERVICE_PATH << "\n";
  std::ofstream(FFolder + "/bus.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
      << "<servicedir>" << FFolder << "</servicedir>"
      << "<policy context=\"default\"><allow user=\"*\"/><allow send_destination=\"*\" eavesdrop=\"true\"/>"
         "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
  int out = -1;
  FDaemon = Spawn({"dbus-daemon", "--config-file=" + FFolder + "/bus.conf", "--print-address=1", "--nofork"},
                  Environment({}), &out);
  std::string line;
  char c;
  while (read(out, &c, 1) == 1 && c != '\n') line.push_back(c);
  close(out);
  if (line.empty()) throw std::runtime_error("dbus-daemon gave no address");
  FAddress = line;
  FConnection = Connect();
}

TPrivateBus::~TPrivateBus() {
  FConnection.reset();
  if (FService > 0) {
    kill(FService, SIGKILL);
    WaitService();
  }
  if (FDaemon > 0) {
    kill(FDaemon, SIGTERM);
    waitpid(FDaemon, nullptr, 0);
  }
  if (!FFolder.empty()) {
    std::remove((FFolder + "/bus.conf").c_str());
    std::remove((FFolder + "/" + ServiceBusName + ".service").c_str());
    std::remove(FFolder.c_str());
  }
}

TzbGObject<GDBusConnection> TPrivateBus::Connect() const {
  TzbGError error;
  TzbGObject<GDBusConnection> c(g_dbus_connection_new_for_address_sync(
      FAddress.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, error.Out()));
  if (!c) throw std::runtime_error(error.Message());
  return c;
}

std::vector<std::string> TPrivateBus::Environment(const TEnv& AEnv) const {
  TzbGStrv env(g_get_environ());
  if (!FAddress.empty()) env.reset(g_environ_setenv(env.release(), "DBUS_SESSION_BUS_ADDRESS", FAddress.c_str(), TRUE));
  // No accessibility bus on a private bus.
  env.reset(g_environ_setenv(env.release(), "NO_AT_BRIDGE", "1", TRUE));
  // The service's registry, logs and caches stay in the test's folder, never in the user's.
  for (const char* variable : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
    env.reset(g_environ_setenv(env.release(), variable, (FFolder + "/" + variable).c_str(), TRUE));
  for (const auto& [name, value] : AEnv) {
    env.reset(value == "<unset>" ? g_environ_unsetenv(env.release(), name.c_str())
                                 : g_environ_setenv(env.release(), name.c_str(), value.c_str(), TRUE));
  }
  std::vector<std::string> result;
  for (gchar** p = env.get(); *p; ++p) result.emplace_back(*p);
  return result;
}

bool TPrivateBus::NameOwned() const {
  TzbGVariant reply(g_dbus_connection_call_sync(
      FConnection.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", ServiceBusName), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
  gboolean owned = FALSE;
  if (reply) g_variant_get(reply.get(), "(b)", &owned);
  return owned;
}

pid_t TPrivateBus::StartService(const TEnv& AEnv) {
  FService = Spawn({HTMLSERVICE_PATH}, Environment(AEnv), nullptr);
  // Start-up is not timed: the wait only keeps a broken service from hanging the test run.
  for (int i = 0; i < 3000 && !NameOwned(); ++i) {
    int status = 0;
    if (waitpid(FService, &status, WNOHANG) == FService) {
      FService = -1;
      throw std::runtime_error("the service ended during start-up");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!NameOwned()) throw std::runtime_error("the service never took its name");
  return FService;
}

int TPrivateBus::WaitService() {
  int status = 0;
  if (FService <= 0 || waitpid(FService, &status, 0) != FService) return -1;
  FService = -1;
  return ExitCodeOf(status);
}

TRun TPrivateBus::Run(const std::vector<std::string>& AArgv, const TEnv& AEnv) const {
  std::vector<std::string> args = AArgv;
  auto argv = CArgv(args);
  auto envStrings = Environment(AEnv);
  auto envp = CArgv(envStrings);
  gchar* out = nullptr;
  gchar* err = nullptr;
  gint status = 0;
  TzbGError error;
  if (!g_spawn_sync(nullptr, argv.data(), envp.data(), G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err, &status,
                    error.Out())) {
    throw std::runtime_error(std::string("cannot run ") + AArgv[0] + ": " + error.Message());
  }
  TzbGChars outOwner(out), errOwner(err);
  return {ExitCodeOf(status), out ? out : "", err ? err : ""};
}

TAnswer TPrivateBus::Request(std::int32_t ACode, const std::vector<std::uint8_t>& ABlock) const {
  GVariant* data = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, ABlock.data(), ABlock.size(), 1);
  return Call("Request", g_variant_new("(i@ay)", ACode, data));
}

TAnswer TPrivateBus::Call(const char* AMethod, GVariant* AParameters) const {
  TzbGError error;
  TzbGVariant reply(g_dbus_connection_call_sync(FConnection.get(), ServiceBusName, ServiceObjectPath, ServiceInterface,
                                                AMethod, AParameters, G_VARIANT_TYPE("(i)"),
                                                G_DBUS_CALL_FLAGS_NO_AUTO_START, G_MAXINT, nullptr, error.Out()));
  return AnswerOf(reply.get(), error.Get());
}

TLocalListener::TLocalListener() : FSocket(::socket(AF_INET, SOCK_STREAM, 0)) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(FSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("cannot listen on the loopback");
  socklen_t len = sizeof addr;
  ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&addr), &len);
  ::listen(FSocket, 16);
  ::fcntl(FSocket, F_SETFL, O_NONBLOCK);
  FBase = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
}

TLocalListener::~TLocalListener() { ::close(FSocket); }

bool TLocalListener::Contacted() const {
  const int peer = ::accept(FSocket, nullptr, nullptr);
  if (peer < 0) return false;
  ::close(peer);
  return true;
}

TPendingCall::TPendingCall(const TPrivateBus& ABus, const char* AMethod, GVariant* AParameters) {
  g_dbus_connection_call(ABus.Connection(), "com.vestrum.Plumadesk5.HtmlService", "/com/vestrum/Plumadesk5/HtmlService",
                         "com.vestrum.Plumadesk5.HtmlService", AMethod, AParameters, G_VARIANT_TYPE("(i)"),
                         G_DBUS_CALL_FLAGS_NONE, G_MAXINT, nullptr, &Done, this);
}

std::optional<std::int32_t> TPendingCall::Answer() {
  WaitOnMainContext([this] { return FDone; }, 60000);
  return FAnswer;
}

void TPendingCall::Done(GObject* AConnection, GAsyncResult* AResult, gpointer ASelf) noexcept {
  auto* self = static_cast<TPendingCall*>(ASelf);
  TzbGVariant reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(AConnection), AResult, nullptr));
  if (reply) {
    std::int32_t value = 0;
    g_variant_get(reply.get(), "(i)", &value);
    self->FAnswer = value;
  }
  self->FDone = true;
}

std::string Shell(const std::string& ACommand) {
  std::string out;
  if (FILE* p = ::popen(ACommand.c_str(), "r")) {
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
    ::pclose(p);
  }
  return out;
}

std::string WaitForWindow(const std::string& APattern) { return xdo::WaitForWindow(APattern); }

void Keys(const std::string& AKeys) { xdo::Key(AKeys); }

std::vector<pid_t> WebProcessesOf(pid_t APid) {
  std::map<pid_t, std::pair<pid_t, std::string>> processes;  // pid -> parent, name
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string pid, name, state, ppid;
    if ((stat >> pid >> name >> state >> ppid) && std::isdigit(static_cast<unsigned char>(pid[0])))
      processes[std::stoi(pid)] = {std::stoi(ppid), name};
  }
  std::vector<pid_t> found;
  for (const auto& [pid, process] : processes) {
    if (process.second.rfind("(WebKitWebProce", 0) != 0) continue;  // the kernel keeps 15 characters
    pid_t parent = process.first;
    for (int depth = 0; depth < 8 && parent != APid && processes.count(parent); ++depth)
      parent = processes[parent].first;
    if (parent == APid) found.push_back(pid);
  }
  return found;
}

void KillWebProcessesOf(pid_t APid) {
  for (const pid_t pid : WebProcessesOf(APid)) ::kill(pid, SIGKILL);
}

std::filesystem::path WaitForJob(const std::string& ATitle) {
  for (int i = 0; i < 300; ++i) {
    for (const auto& e : std::filesystem::directory_iterator(Env("ZB_TEST_PRINT_OUT"))) {
      if (e.path().extension() != ".title" || ReadAll(e.path()) != ATitle) continue;
      std::filesystem::path pdf = e.path();
      if (std::filesystem::exists(pdf.replace_extension(".pdf"))) return pdf;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return {};
}

}  // namespace zb::test
