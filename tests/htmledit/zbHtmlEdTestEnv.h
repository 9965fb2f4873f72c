// Shared by the editor tests: one editor for the whole program, temp folders, load-and-wait.
#pragma once

#include <glib.h>
#include <gtest/gtest.h>
#include "platform/glib/zbMainWait.h"

#include <string>

#include "htmledit/zbHtmlEd.h"
#include "support/zbUnicode.h"

namespace zb::test {

extern TzbHtmlEdit* GEdit;

struct TTempDir {
  std::string Path;
  TTempDir();
  ~TTempDir();
  std::string Write(const std::string& AName, const std::string& ABytes) const;
};

bool LoadAndWait(TzbHtmlEdit& AEdit, const std::string& AFile);
// Serves the main loop for a while, so late engine activity (refreshes, prefetches) gets its chance.
void Pump(int AMilliseconds);
std::u16string BodyText(TzbHtmlEdit& AEdit);

}  // namespace zb::test
