// Shared by the editor tests: one editor for the whole program, temp folders, load-and-wait.
#pragma once

#include <glib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "htmledit/zbHtmlEd.h"
#include "platform/glib/zbMainWait.h"
#include "support/zbUnicode.h"

namespace zb::test {

extern TzbHtmlEdit* GEdit;

struct TTempDir {
  std::string Path;
  TTempDir();
  ~TTempDir();
  std::string Write(const std::string& AName, const std::string& ABytes) const;
};

// Sets an environment variable for its lifetime and gives the old value (or none) back afterwards:
// the registry hives of a test live in its temporary folder.
class TScopedEnv {
 public:
  TScopedEnv(const char* AName, const std::string& AValue) : FName(AName) {
    if (const char* old = std::getenv(AName)) FOld = old;
    ::setenv(AName, AValue.c_str(), 1);
  }
  ~TScopedEnv() {
    if (FOld)
      ::setenv(FName, FOld->c_str(), 1);
    else
      ::unsetenv(FName);
  }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

bool LoadAndWait(TzbHtmlEdit& AEdit, const std::string& AFile);
// Serves the main loop for a while, so late engine activity (refreshes, prefetches) gets its chance.
void Pump(int AMilliseconds);
std::u16string BodyText(TzbHtmlEdit& AEdit);

}  // namespace zb::test
