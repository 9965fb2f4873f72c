// The program entry of the HTML service: start-up in its fixed order, the message loop, and the
// shutdown that runs the other way round.
#include <gtk/gtk.h>

#include <cstdio>
#include <memory>

#include "errors/ExceptDlg.h"
#include "htmledit/zbHtmlEd.h"
#include "platform/sysinfo/zbSysInfo.h"
#include "platform/webkit/zbWebKitUtils.h"
#include "service/HtmlServiceConst.h"
#include "service/HtmlServiceInterface.h"
#include "service/HtmlServiceMutex.h"
#include "service/Main.h"

namespace {

int Fail(const char* AMessage) {
  std::fprintf(stderr, "htmlservice: %s\n", AMessage);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zb;
  // 0. The engine's cache folder, before anything asks for the user's.
  webkit::GiveEngineItsOwnCacheFolder();
  // 1. The HTML editor module (floating-point environment, GTK) starts with the first editor, in step 7:
  //    it opens the display, which a second instance must never touch.
  // 2. The exception handler: the stack of every raised exception is recorded from now on.
  StartExceptionTracking();

  // 3. Single-instance guard. The object is published first so that the name, once ours, answers.
  std::unique_ptr<TzbBusServer> bus;
  try {
    bus = std::make_unique<TzbBusServer>(
        TzbBusNames{ServiceBusName, ServiceObjectPath, ServiceInterface, ServiceTitle, HtmlServiceInterfaceXml},
        ServiceBusMethods());
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  std::unique_ptr<THtmlServiceMutex> mutex;
  try {
    mutex = std::make_unique<THtmlServiceMutex>(*bus);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  if (mutex->AlreadyExists()) return 0;  // another instance serves this session; no window, no message

  // 4. The application object; it needs the display.
  if (!gtk_init_check(&argc, &argv)) {
    const char* display = g_getenv("DISPLAY");
    std::fprintf(stderr, "htmlservice: cannot open the display \"%s\"\n", display ? display : "");
    return 1;
  }
  TApplication application(*bus);
  // 5. The log folder and silent logging.
  SetupServiceEnvironment();
  // 6. The title.
  application.SetTitle(ServiceTitle);
  SetApplicationTitle(ServiceTitle);
  try {
    // 7. The service form; it installs the dispatcher.
    TfrmHtmlService form(application, TServiceOptions::FromEnvironment());
    // 8. The message loop, until the terminate request.
    application.Run();
  } catch (const std::exception& e) {
    mutex->Close();
    return Fail(e.what());
  }
  // 9. Shutdown in reverse: the form is gone; the guard is released so a new instance can start at once.
  mutex->Close();
  HtmlEdModuleEnd();
  StopExceptionTracking();
  return 0;
}
