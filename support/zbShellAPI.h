// Special folders by index 0..34, mapped onto the XDG base and user directories. Folders without a
// Linux counterpart are empty. Paths come without a trailing "/".
#pragma once

#include <string>

namespace zb {

constexpr int sfPersonal = 8;          // the user's documents
constexpr int sfCommonDocuments = 25;  // where the log folder lives: $XDG_STATE_HOME (~/.local/state)
constexpr int SpecialFolderCount = 35;

// Empty for an index outside 0..34 and for folders this system does not have.
std::u16string GetSpecialFolder(int AIndex);

// The user's home: $HOME, else the password database.
std::u16string HomeFolder();
// An XDG base directory: the variable when it holds an absolute path, else home + Fallback.
std::u16string XdgBaseFolder(const char* AVariable, const char* AFallback);
// An XDG user directory (XDG_DOCUMENTS_DIR, …) from user-dirs.dirs; empty when not configured.
std::u16string XdgUserFolder(const char* AVariable);

}  // namespace zb
