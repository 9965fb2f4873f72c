// The real service binary on a private bus: single instance, the request table's edges, malformed
// blocks, terminate and restart, typed methods against the wire method, and queued requests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <string>
#include <vector>

#include "ServiceFixture.h"
#include "platform/glib/zbMainWait.h"
#include "service/HtmlServiceBlocks.h"
#include "service/HtmlServiceConst.h"

namespace zb::test {
namespace {

class ServiceTest : public ::testing::Test {
 protected:
  TPrivateBus Bus;
};

std::int32_t Pid(pid_t APid) { return static_cast<std::int32_t>(APid); }

// One line per method argument and property, in order, so two descriptions compare as texts.
std::string Shape(const GDBusInterfaceInfo* AInterface) {
  std::string shape;
  for (GDBusMethodInfo** m = AInterface->methods; m && *m; ++m) {
    shape += std::string("method ") + (*m)->name + "\n";
    for (GDBusArgInfo** a = (*m)->in_args; a && *a; ++a)
      shape += std::string(" in ") + (*a)->signature + " " + (*a)->name + "\n";
    for (GDBusArgInfo** a = (*m)->out_args; a && *a; ++a)
      shape += std::string(" out ") + (*a)->signature + " " + (*a)->name + "\n";
  }
  for (GDBusPropertyInfo** p = AInterface->properties; p && *p; ++p)
    shape += std::string("property ") + (*p)->name + " " + (*p)->signature + " " + std::to_string((*p)->flags) + "\n";
  return shape;
}

TEST_F(ServiceTest, TheLiveInterfaceIsTheCheckedInDescription) {
  Bus.StartService();
  TzbGError error;
  TzbGVariant reply(g_dbus_connection_call_sync(
      Bus.Connection(), ServiceBusName, ServiceObjectPath, "org.freedesktop.DBus.Introspectable", "Introspect", nullptr,
      G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, error.Out()));
  ASSERT_TRUE(reply) << error.Message();
  const char* live = nullptr;
  g_variant_get(reply.get(), "(&s)", &live);
  std::ifstream in(HTMLSERVICE_INTERFACE_XML);
  const std::string file((std::istreambuf_iterator<char>(in)), {});
  ASSERT_FALSE(file.empty());

  TzbGNodeInfo liveNode(g_dbus_node_info_new_for_xml(live, nullptr));
  TzbGNodeInfo fileNode(g_dbus_node_info_new_for_xml(file.c_str(), nullptr));
  ASSERT_TRUE(liveNode && fileNode);
  const auto* liveInterface = g_dbus_node_info_lookup_interface(liveNode.get(), ServiceInterface);
  const auto* fileInterface = g_dbus_node_info_lookup_interface(fileNode.get(), ServiceInterface);
  ASSERT_TRUE(liveInterface && fileInterface);
  EXPECT_EQ(Shape(liveInterface), Shape(fileInterface));
  EXPECT_NE(Shape(fileInterface).find("method ExecCmd\n in i cmd\n in b showUI\n in v value\n out i answer\n"),
            std::string::npos);
}

TEST_F(ServiceTest, SecondInstanceEndsAtOnceWithZeroAndTheFirstKeepsAnswering) {
  pid_t first = Bus.StartService();
  // A display that does not exist: the second process must end before it ever opens one.
  TRun second = Bus.Run({HTMLSERVICE_PATH}, {{"DISPLAY", ":31999"}});
  EXPECT_EQ(second.ExitCode, 0);
  EXPECT_EQ(second.Err, "");
  TRun third = Bus.Run({HTMLSERVICE_PATH});
  EXPECT_EQ(third.ExitCode, 0);
  EXPECT_EQ(third.Err, "");
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
  EXPECT_EQ(Bus.Request(HS_LOADFROMFILE, {}).Value, -1);
  EXPECT_EQ(Bus.Request(1280, {}).Value, Pid(first));  // still the first instance
}

TEST_F(ServiceTest, CodesOutsideTheTableAnswerTheProcessIdAndChangeNothing) {
  pid_t pid = Bus.StartService();
  for (std::int32_t code : {1280, 0, 1, 1024, 1042, 1056, 1058, 1263, 1266, 1278, -1025, INT_MAX, INT_MIN}) {
    EXPECT_EQ(Bus.Request(code, MakeTextBlock(u"/tmp")).Value, Pid(pid)) << code;
    EXPECT_EQ(Bus.Request(code, {}).Value, Pid(pid)) << code;
  }
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
  EXPECT_TRUE(Bus.NameOwned());
}

TEST_F(ServiceTest, MalformedBlocksAreAnsweredAndNeverReadPastTheirEnd) {
  Bus.StartService();
  for (std::size_t size : {0, 1, 4, 21}) {
    EXPECT_EQ(Bus.Request(HS_EXECCMD, std::vector<std::uint8_t>(size, 0xFF)).Value, -1) << size;
  }
  for (std::size_t size : {0, 1, 7}) {
    EXPECT_EQ(Bus.Request(HS_SETWNDPOS, std::vector<std::uint8_t>(size, 0x7F)).Value, -1) << size;
  }
  EXPECT_EQ(Bus.Request(HS_SETWNDPOS, MakePointBlock({INT_MIN, INT_MIN})).Value, 1);
  // Text blocks: null, odd length, no NUL at all, a NUL inside, a megabyte of text.
  std::vector<std::vector<std::uint8_t>> texts = {{}, {'a'}, {'a', 0, 'b'}, {'/', 0, 0, 0, 'x', 0}};
  texts.push_back(std::vector<std::uint8_t>(1 << 20, 'A'));
  for (std::int32_t code = HS_LOADFROMFILE; code <= HS_COUNTALLIMAGES; ++code) {
    if (code > HS_CONTAINSBACKGROUNDIMAGES && code < HS_COUNTALLIMAGES) continue;
    if (code == HS_PAGESETUP) continue;  // its dialog waits for a person (the dialog tests answer it)
    for (const auto& block : texts) {
      auto answer = Bus.Request(code, block);
      EXPECT_TRUE(answer.Value.has_value()) << code << " " << answer.Error;
    }
  }
  // A typed command carries a text value behind the record; the wire record alone cannot.
  auto text = Bus.Call("ExecCmd", g_variant_new("(ibv)", 16, FALSE, g_variant_new_string("Arial")));
  EXPECT_EQ(text.Value, 1) << text.Error;
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
}

TEST_F(ServiceTest, TypedMethodsAnswerAsTheWireMethod) {
  pid_t pid = Bus.StartService();
  const std::u16string missing = u"/nonexistent/a.htm";
  struct TCase {
    const char* Method;
    GVariant* (*Parameters)();
    std::int32_t Code;
    std::vector<std::uint8_t> Block;
  };
  THtmlExecCmd bold;
  bold.iCmdID = 6;
  bold.oleValue = MakeOleVariant(std::int32_t(0));
  const std::vector<TCase> cases = {
      {"Ping", [] { return static_cast<GVariant*>(nullptr); }, HS_PING, {}},
      {"LoadFromFile", [] { return g_variant_new("(s)", "/nonexistent/a.htm"); }, HS_LOADFROMFILE,
       MakeTextBlock(missing)},
      {"SaveToFile", [] { return g_variant_new("(s)", "/nonexistent/a.htm"); }, HS_SAVETOFILE, MakeTextBlock(missing)},
      {"CountImages", [] { return g_variant_new("(s)", "/nonexistent/a.htm"); }, HS_COUNTIMAGES,
       MakeTextBlock(missing)},
      {"ConvertHtmlToPlain", [] { return g_variant_new("(s)", "DST:/tmp/x"); }, HS_CONVERTHTMLTOPLAIN,
       MakeTextBlock(u"DST:/tmp/x")},
      {"PasteHtmlAtEnd", [] { return g_variant_new("(s)", "<b>x</b>"); }, HS_PASTEHTMLEND, MakeTextBlock(u"<b>x</b>")},
      {"ExecCmd", [] { return g_variant_new("(ibv)", 6, FALSE, g_variant_new_int32(0)); }, HS_EXECCMD,
       MakeExecCmdBlock(bold)},
      {"SetWndPos", [] { return g_variant_new("(ii)", INT_MIN, 100); }, HS_SETWNDPOS, MakePointBlock({INT_MIN, 100})},
  };
  for (const auto& c : cases) {
    auto typed = Bus.Call(c.Method, c.Parameters());
    auto wire = Bus.Request(c.Code, c.Block);
    ASSERT_TRUE(typed.Value.has_value()) << c.Method << " " << typed.Error;
    EXPECT_EQ(typed.Value, wire.Value) << c.Method;
    EXPECT_NE(typed.Value, Pid(pid)) << c.Method << " must reach an operation";
  }
  EXPECT_EQ(Bus.Call("Terminate", nullptr).Value, 1);
  EXPECT_EQ(Bus.WaitService(), 0);
}

TEST_F(ServiceTest, TerminateAnswersOneExitsZeroAndANewInstanceStartsAtOnce) {
  Bus.StartService();
  EXPECT_EQ(Bus.Request(HS_TERMINATE, {}).Value, 1);
  // The name is free as soon as the answer is in, while the old process still shuts its engine down.
  EXPECT_FALSE(Bus.NameOwned());
  pid_t next = Bus.StartService();
  EXPECT_EQ(Bus.Request(HS_PING, {}).Value, 1);
  EXPECT_EQ(Bus.Request(1280, {}).Value, Pid(next));
  EXPECT_EQ(Bus.Request(HS_TERMINATE, {}).Value, 1);
  EXPECT_EQ(Bus.WaitService(), 0);
  EXPECT_FALSE(Bus.NameOwned());
  next = Bus.StartService();
  EXPECT_EQ(Bus.Request(HS_PING, {}).Value, 1);
  EXPECT_EQ(Bus.Request(1280, {}).Value, Pid(next));
}

TEST_F(ServiceTest, TheTitlePropertyIsTheServiceTitle) {
  Bus.StartService();
  TzbGVariant reply(g_dbus_connection_call_sync(Bus.Connection(), ServiceBusName, ServiceObjectPath,
                                                "org.freedesktop.DBus.Properties", "Get",
                                                g_variant_new("(ss)", ServiceInterface, "Title"), G_VARIANT_TYPE("(v)"),
                                                G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
  ASSERT_TRUE(reply);
  GVariant* inner = nullptr;
  g_variant_get(reply.get(), "(v)", &inner);
  TzbGVariant title(inner);
  EXPECT_STREQ(g_variant_get_string(title.get(), nullptr), "Vestrum Plumadesk 5.0 - HTML Service");
}

// Two clients at once: each Ping waits 300 ms serving the main context. Served in order, the first
// answer comes first; nested, the second would finish inside the first and be answered before it.
TEST_F(ServiceTest, RequestsOfTwoClientsAreQueuedNotNested) {
  Bus.StartService({{"HTMLSERVICE_TEST_PING_DELAY_MS", "300"}});
  auto first = Bus.Connect();
  auto second = Bus.Connect();
  struct TState {
    std::vector<int> Order;
    std::vector<TAnswer> Answers;
  } state;
  struct TCall {
    TState* State;
    int Id;
  } calls[] = {{&state, 1}, {&state, 2}, {&state, 3}};
  auto send = [](GDBusConnection* AConnection, TCall* ACall) {
    g_dbus_connection_call(
        AConnection, ServiceBusName, ServiceObjectPath, ServiceInterface, "Ping", nullptr, G_VARIANT_TYPE("(i)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, G_MAXINT, nullptr,
        [](GObject* ASource, GAsyncResult* AResult, gpointer AData) {
          auto* call = static_cast<TCall*>(AData);
          TzbGError error;
          TzbGVariant reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(ASource), AResult, error.Out()));
          call->State->Order.push_back(call->Id);
          call->State->Answers.push_back(AnswerOf(reply.get(), error.Get()));
        },
        ACall);
  };
  auto barrier = [](GDBusConnection* AConnection) {
    // The bus has routed everything this connection sent before the reply to this call.
    TzbGVariant id(g_dbus_connection_call_sync(AConnection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                               "org.freedesktop.DBus", "GetId", nullptr, G_VARIANT_TYPE("(s)"),
                                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
  };
  send(first.get(), &calls[0]);
  barrier(first.get());
  send(second.get(), &calls[1]);
  barrier(second.get());
  send(first.get(), &calls[2]);
  WaitOnMainContext([&] { return state.Order.size() >= 3; }, 0);
  EXPECT_EQ(state.Order, (std::vector<int>{1, 2, 3}));
  for (const auto& a : state.Answers) EXPECT_EQ(a.Value, 1) << a.Error;
}

TEST_F(ServiceTest, OnlyTheServicesOwnUserIsServed) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to send as another user";
  Bus.StartService();
  TRun other = Bus.Run({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "gdbus", "call", "--address",
                        Bus.Address(), "--dest", ServiceBusName, "--object-path", ServiceObjectPath, "--method",
                        std::string(ServiceInterface) + ".Ping"});
  EXPECT_NE(other.ExitCode, 0);
  EXPECT_NE(other.Err.find("AccessDenied"), std::string::npos) << other.Err;
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
}

TEST_F(ServiceTest, WithoutDisplayOrBusTheServiceSaysSoInOneLine) {
  TRun noDisplay = Bus.Run({HTMLSERVICE_PATH}, {{"DISPLAY", "<unset>"}, {"WAYLAND_DISPLAY", "<unset>"}});
  EXPECT_NE(noDisplay.ExitCode, 0);
  EXPECT_EQ(std::count(noDisplay.Err.begin(), noDisplay.Err.end(), '\n'), 1) << noDisplay.Err;
  EXPECT_NE(noDisplay.Err.find("display"), std::string::npos) << noDisplay.Err;
  EXPECT_FALSE(Bus.NameOwned());  // it gave its name back

  TRun noBus = Bus.Run({HTMLSERVICE_PATH}, {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}});
  EXPECT_NE(noBus.ExitCode, 0);
  EXPECT_EQ(std::count(noBus.Err.begin(), noBus.Err.end(), '\n'), 1) << noBus.Err;
  EXPECT_NE(noBus.Err.find("D-Bus"), std::string::npos) << noBus.Err;
}

}  // namespace
}  // namespace zb::test
