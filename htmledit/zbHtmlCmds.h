// The command numbers the suite sends (1..77) and the engine's editing-command names they stand for.
// The numbers are part of the command protocol and never change.
#pragma once

#include <cstdint>
#include <string>

namespace zb {

constexpr std::int32_t HtmlCommandCount = 77;

// The engine's command name of AID; empty outside 1..77.
std::u16string HtmlCommandName(std::int32_t AID);

}  // namespace zb
