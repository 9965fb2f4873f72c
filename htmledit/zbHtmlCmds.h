// The command numbers the suite sends (1..77) and the engine's editing-command names they stand for.
// The numbers are part of the command protocol and never change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zb {

constexpr std::int32_t HtmlCommandCount = 77;

// The engine's command name of AID; empty outside 1..77.
std::u16string HtmlCommandName(std::int32_t AID);
// The identifier of the command named AName, in any case of ASCII letters; 0 for no command.
std::int32_t HtmlCommandID(std::u16string_view AName);

}  // namespace zb
