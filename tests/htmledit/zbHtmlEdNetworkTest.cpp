// A loaded document never reaches the network and its scripts never run, whatever the download
// mask allows. A listening socket on 127.0.0.1 is referenced in every way a page can ask for it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/htmledit/zbHtmlEdTestEnv.h"

namespace zb::test {
namespace {

class TListener {
 public:
  TListener() {
    FSocket = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(FSocket, reinterpret_cast<sockaddr*>(&A), sizeof A);
    listen(FSocket, 64);
    socklen_t Len = sizeof A;
    getsockname(FSocket, reinterpret_cast<sockaddr*>(&A), &Len);
    FPort = ntohs(A.sin_port);
  }
  ~TListener() { close(FSocket); }
  int Port() const { return FPort; }
  // Accepts whatever arrived; the count of connections.
  int Connections() {
    int N = 0;
    while (true) {
      int C = accept(FSocket, nullptr, nullptr);
      if (C < 0) break;
      ++N;
      close(C);
    }
    return N;
  }

 private:
  int FSocket = -1;
  int FPort = 0;
};

std::string Page(const std::string& U) {
  return "<!DOCTYPE html><html><head>"
         "<meta http-equiv='refresh' content='0;url=" +
         U +
         "/refresh'>"
         "<link rel='stylesheet' href='" +
         U +
         "/style.css'>"
         "<link rel='prefetch' href='" +
         U +
         "/prefetch'>"
         "<link rel='preload' as='image' href='" +
         U +
         "/preload.png'>"
         "<link rel='preconnect' href='" +
         U +
         "'>"
         "<link rel='dns-prefetch' href='" +
         U +
         "'>"
         "<link rel='icon' href='" +
         U +
         "/favicon.ico'>"
         "<style>@import url('" +
         U + "/import.css'); @font-face{font-family:x;src:url('" + U +
         "/font.woff')}"
         "body{background:url('" +
         U +
         "/bg.png');font-family:x}</style>"
         "<script src='" +
         U +
         "/script.js'></script>"
         "</head><body background='" +
         U +
         "/body.png' onload=\"document.body.setAttribute('data-ran','1')\">"
         "<img src='" +
         U + "/img.png' srcset='" + U +
         "/img2.png 2x'>"
         "<img src='missing.png' onerror=\"document.body.appendChild(document.createTextNode('SCRIPTRAN'))\">"
         "<picture><source srcset='" +
         U + "/pic.webp'><img src='" + U +
         "/pic.png'></picture>"
         "<iframe src='" +
         U + "/frame.htm'></iframe><frameset><frame src='" + U +
         "/frame2.htm'></frameset>"
         "<iframe "
         "src=\"javascript:parent.document.body.appendChild(parent.document.createTextNode('SCRIPTRAN'))\"></iframe>"
         "<object data='" +
         U + "/object.swf'></object><embed src='" + U +
         "/embed.swf'>"
         "<video src='" +
         U + "/v.mp4' poster='" + U + "/poster.png' autoplay></video><audio src='" + U +
         "/a.mp3' autoplay></audio>"
         "<input type=image src='" +
         U +
         "/input.png'>"
         "<svg><image href='" +
         U +
         "/svg.png' width=10 height=10 /></svg>"
         "<a href='" +
         U + "/link' ping='" + U +
         "/ping'>link</a>"
         "<form action='" +
         U +
         "/form' method=post><input name=a value=b></form>"
         "<script>document.write('SCRIPTRAN')</script>"
         "<p>body text</p></body></html>";
}

class HtmlEditNetwork : public ::testing::Test {
 protected:
  TzbHtmlEdit& E = *GEdit;
  TTempDir Dir;
  TListener Server;
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(Server.Port()); }

  // Loaded from its address, and as its bytes with the text posted at the load's end.
  void ExpectSealed() {
    const std::string File = Dir.Write("net.htm", Page(Url()));
    for (const std::int32_t Flags : {0, navNoHistory | navReadBodyText}) {
      SCOPED_TRACE(Flags);
      E.LoadFromFile(Utf8ToUtf16(File), true, Flags);
      ASSERT_TRUE(E.WaitForComplete());
      const std::optional<std::u16string> Posted = E.DOC()->bodyText();
      Pump(1500);  // the refresh, late prefetches and media would have gone out by now
      EXPECT_TRUE(E.WaitForComplete());
      EXPECT_EQ(Server.Connections(), 0);
      std::u16string Text = BodyText(E);
      EXPECT_EQ(Text.find(u"SCRIPTRAN"), std::u16string::npos);
      EXPECT_NE(Text.find(u"body text"), std::u16string::npos) << "the document was navigated away";
      ASSERT_TRUE(Posted);
      EXPECT_EQ(Posted->find(u"SCRIPTRAN"), std::u16string::npos);
      EXPECT_EQ(E.GetDocumentSource().find(u"data-ran"), std::u16string::npos);
    }
  }
};

TEST_F(HtmlEditNetwork, NothingLeavesWithTheEditorDefaults) { ExpectSealed(); }

TEST_F(HtmlEditNetwork, NothingLeavesWithEverythingAllowed) {
  using O = TDownloadControlOption;
  E.SetDownloadOptions({O::DLCTL_DLIMAGES, O::DLCTL_VIDEOS, O::DLCTL_BGSOUNDS});
  ExpectSealed();
  E.SetDownloadOptions(TzbHtmlEdit::DefaultDownloadOptions);
}

// The user's offline switch: no view loads anything but local addresses, whatever its mask allows.
TEST_F(HtmlEditNetwork, NothingLeavesWhileOffline) {
  const char* Config = std::getenv("XDG_CONFIG_HOME");
  const std::string Saved = Config ? Config : "";
  ::setenv("XDG_CONFIG_HOME", Dir.Path.c_str(), 1);
  using O = TDownloadControlOption;
  E.SetDownloadOptions({O::DLCTL_DLIMAGES, O::DLCTL_VIDEOS, O::DLCTL_BGSOUNDS});
  E.SetGlobalOffline(true);
  ASSERT_TRUE(E.IsGlobalOffline());
  ExpectSealed();
  E.Go(Utf8ToUtf16(Url() + "/page.htm"));
  EXPECT_TRUE(E.WaitForComplete());
  EXPECT_EQ(Server.Connections(), 0);
  E.SetGlobalOffline(false);
  E.SetDownloadOptions(TzbHtmlEdit::DefaultDownloadOptions);
  if (Config)
    ::setenv("XDG_CONFIG_HOME", Saved.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(HtmlEditNetwork, PastedMarkupNeitherRunsNorLoads) {
  ASSERT_TRUE(LoadAndWait(E, Dir.Write("p.htm", "<html><body><p>start</p></body></html>")));
  E.SetDesignMode(true);
  IHtmlTextRange R = E.HtmlTextRange();
  ASSERT_TRUE(R.TextRange);
  std::string U = Url();
  R.PasteHTML(Utf8ToUtf16("<img src='" + U +
                          "/p.png' onerror=\"document.body.appendChild(document.createTextNode('SCRIPTRAN'))\">"
                          "<script>document.body.appendChild(document.createTextNode('SCRIPTRAN'))</script>"
                          "<iframe src='" +
                          U + "/f.htm'></iframe><link rel=stylesheet href='" + U + "/s.css'>"));
  Pump(800);
  EXPECT_EQ(Server.Connections(), 0);
  EXPECT_EQ(BodyText(E).find(u"SCRIPTRAN"), std::u16string::npos);
  E.SetDesignMode(false);
}

TEST_F(HtmlEditNetwork, NavigationToTheNetworkGivesAnEmptyDocument) {
  E.Go(Utf8ToUtf16(Url() + "/page.htm"));
  ASSERT_TRUE(E.WaitForComplete());
  Pump(200);
  EXPECT_EQ(Server.Connections(), 0);
  EXPECT_EQ(BodyText(E), u"");
}

}  // namespace
}  // namespace zb::test
