// The editor's hooks, kept apart from its document code: the key filter and close query on the view,
// the owner-window hook, and the editor's shell-request server.
#pragma once

#include <memory>

#include "htmledit/zbHtmlEd.h"

namespace zb {

// Reads the shell's names and makes the editor's shell-request server (Create).
// AParent: the container the editor was placed in; its window is the owner window.
TzbHtmlEdHooksPtr CreateHtmlEdHooks(TzbCustomHtmlEdit& AEdit, GtkContainer* AParent);
// The key filter and the close query on the editor's view (Loaded).
void InstallKeyboardHook(TzbHtmlEdHooks& AHooks);

}  // namespace zb
