// htmlservice-ctl: one sub-command per request of the HTML service. It sends the request through the
// wire method Request (code and data block, as the suite does), waits for the answer without a time
// limit, prints it, and exits 0 when the answer means success.
#include <gio/gio.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "htmledit/zbHtmlCmds.h"
#include "platform/glib/zbGOwner.h"
#include "service/HtmlServiceBlocks.h"
#include "service/HtmlServiceConst.h"
#include "support/zbUnicode.h"

namespace {

using namespace zb;

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitBus = 3;

struct TUsage {
  std::string Message;
};

using TArgs = std::vector<std::string>;
// Accepts the answer as success.
using TSuccess = std::function<bool(std::int32_t)>;

struct TRequest {
  std::int32_t Code = 0;
  TBlock Block;
  TSuccess Success;
};

bool Is(std::int32_t AWanted, std::int32_t AAnswer) { return AAnswer == AWanted; }
TSuccess Equals(std::int32_t AWanted) {
  return [AWanted](std::int32_t AAnswer) { return Is(AWanted, AAnswer); };
}

// The service's working folder is not the caller's: file names travel as absolute paths.
std::u16string FileArg(const std::string& APath) {
  TzbGChars absolute(g_canonicalize_filename(APath.c_str(), nullptr));
  return Utf8ToUtf16(absolute.get());
}

void Need(const TArgs& AArgs, std::size_t ACount, const char* AWhat) {
  if (AArgs.size() != ACount) throw TUsage{std::string("expects ") + AWhat};
}

std::int32_t ParseInt32(const std::string& AText, const char* AWhat) {
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(AText.c_str(), &end, 0);
  if (AText.empty() || *end != 0 || errno != 0 || v < INT32_MIN || v > INT32_MAX) {
    throw TUsage{std::string(AWhat) + " is not a 32-bit integer: " + AText};
  }
  return static_cast<std::int32_t>(v);
}

// "keep" leaves the coordinate where it is.
std::int32_t ParseCoordinate(const std::string& AText) {
  if (AText == "keep") return INT32_MIN;
  return ParseInt32(AText, "a coordinate");
}

// A value that is no boolean, number or "empty" is a text (a font name, a colour, a link).
std::optional<TCommandValue> ParseCommandValue(const std::string& AText) {
  if (AText == "empty") return std::monostate{};
  if (AText == "true") return true;
  if (AText == "false") return false;
  errno = 0;
  char* end = nullptr;
  long long i = std::strtoll(AText.c_str(), &end, 10);
  if (!AText.empty() && *end == 0 && errno == 0) {
    if (i >= INT32_MIN && i <= INT32_MAX) return static_cast<std::int32_t>(i);
    return static_cast<std::int64_t>(i);
  }
  double d = std::strtod(AText.c_str(), &end);
  if (!AText.empty() && *end == 0) return d;
  return std::nullopt;
}

TBlock HexBlock(const std::string& AText) {
  std::string digits;
  for (char c : AText) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits.push_back(c);
    } else if (c != ' ' && c != ':' && c != ',') {
      throw TUsage{"--hex takes hexadecimal bytes"};
    }
  }
  if (digits.size() % 2) throw TUsage{"--hex takes whole bytes"};
  TBlock block;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    block.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return block;
}

TBlock FileBlock(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  if (!in) throw TUsage{"cannot read " + APath};
  return TBlock(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A value holding the list separator is enclosed in double quotes.
std::u16string ListValue(const std::u16string& AValue) {
  if (AValue.find(u';') == std::u16string::npos) return AValue;
  return u"\"" + AValue + u"\"";
}

struct TCommand {
  const char* Name;
  const char* Synopsis;
  std::int32_t Code;  // 0: the code depends on the arguments
  const char* Help;
  std::function<TRequest(const TArgs&)> Build;
};

TRequest TextRequest(std::int32_t ACode, const std::u16string& AText, TSuccess ASuccess) {
  return {ACode, MakeTextBlock(AText), std::move(ASuccess)};
}

TRequest FileRequest(std::int32_t ACode, const TArgs& AArgs, TSuccess ASuccess = Equals(HS_OK)) {
  Need(AArgs, 1, "one FILE");
  return TextRequest(ACode, FileArg(AArgs[0]), std::move(ASuccess));
}

TRequest PasteRequest(bool APlain, const TArgs& AArgs) {
  Need(AArgs, 2, "--start or --end, then TEXT");
  bool start = AArgs[0] == "--start";
  if (!start && AArgs[0] != "--end") throw TUsage{"expects --start or --end"};
  std::int32_t code =
      APlain ? (start ? HS_PASTEPLAINSTART : HS_PASTEPLAINEND) : (start ? HS_PASTEHTMLSTART : HS_PASTEHTMLEND);
  return TextRequest(code, Utf8ToUtf16(AArgs[1]), Equals(HS_OK));
}

// A person types the command's name; the suite sends its number. Numbers outside the table still go
// out, so that the service's own answer to them can be seen.
std::int32_t CommandArg(const std::string& AText) {
  if (std::int32_t id = HtmlCommandID(Utf8ToUtf16(AText))) return id;
  try {
    return ParseInt32(AText, "CMD");
  } catch (const TUsage&) {
    throw TUsage{"CMD is neither a command name nor a number: " + AText + " (see --help)"};
  }
}

TRequest ExecRequest(const TArgs& AArgs) {
  if (AArgs.empty()) throw TUsage{"expects CMD"};
  THtmlExecCmd cmd;
  cmd.iCmdID = CommandArg(AArgs[0]);
  TCommandValue value;
  std::optional<std::u16string> text;
  for (std::size_t i = 1; i < AArgs.size(); ++i) {
    if (AArgs[i] == "--show-ui") {
      cmd.bShowUI = VARIANT_TRUE;
    } else if (AArgs[i] == "--value" && i + 1 < AArgs.size()) {
      const std::string& given = AArgs[++i];
      if (auto parsed = ParseCommandValue(given)) {
        value = *parsed;
        text.reset();
      } else {
        text = Utf8ToUtf16(given);
      }
    } else {
      throw TUsage{"unknown option " + AArgs[i]};
    }
  }
  cmd.oleValue = MakeOleVariant(value);
  if (!text) return {HS_EXECCMD, MakeExecCmdBlock(cmd), Equals(HS_OK)};
  // A text travels behind the record in the same block, marked as a string value.
  cmd.oleValue = {};
  cmd.oleValue[0] = VT_BSTR;
  TBlock block = MakeExecCmdBlock(cmd);
  const TBlock tail = MakeTextBlock(*text);
  block.insert(block.end(), tail.begin(), tail.end());
  return {HS_EXECCMD, block, Equals(HS_OK)};
}

TRequest RawRequest(const TArgs& AArgs) {
  if (AArgs.empty()) throw TUsage{"expects CODE"};
  TRequest r{ParseInt32(AArgs[0], "CODE"), {}, [](std::int32_t) { return true; }};
  if (AArgs.size() == 1) return r;
  if (AArgs.size() != 3) throw TUsage{"expects CODE and at most one of --text, --hex, --file"};
  if (AArgs[1] == "--text") {
    r.Block = MakeTextBlock(Utf8ToUtf16(AArgs[2]));
  } else if (AArgs[1] == "--hex") {
    r.Block = HexBlock(AArgs[2]);
  } else if (AArgs[1] == "--file") {
    r.Block = FileBlock(AArgs[2]);
  } else {
    throw TUsage{"unknown option " + AArgs[1]};
  }
  return r;
}

const std::vector<TCommand>& Commands() {
  static const std::vector<TCommand> commands = {
      {"ping", "", HS_PING, "Is the service there? Answers 1.",
       [](const TArgs& AArgs) {
         Need(AArgs, 0, "no arguments");
         return TRequest{HS_PING, {}, Equals(HS_OK)};
       }},
      {"load", "FILE", HS_LOADFROMFILE, "Loads FILE into the engine. 1 loaded, -1 missing.",
       [](const TArgs& AArgs) { return FileRequest(HS_LOADFROMFILE, AArgs); }},
      {"save", "FILE", HS_SAVETOFILE, "Saves the loaded document to FILE. 1 saved, -1 failed.",
       [](const TArgs& AArgs) { return FileRequest(HS_SAVETOFILE, AArgs); }},
      {"print", "FILE...", HS_PRINTFILES, "Prints the files on the default printer, no dialog. Always 1.",
       [](const TArgs& AArgs) {
         if (AArgs.empty()) throw TUsage{"expects at least one FILE"};
         std::u16string list;
         for (const auto& f : AArgs) list += (list.empty() ? u"" : u",") + FileArg(f);
         return TextRequest(HS_PRINTFILES, list, Equals(HS_OK));
       }},
      {"print-dialog", "FILE", HS_PRINTWITHDLG, "Prints FILE through the print dialog. -1 missing, else 1.",
       [](const TArgs& AArgs) { return FileRequest(HS_PRINTWITHDLG, AArgs); }},
      {"preview", "FILE", HS_PRINTPREVIEW, "Shows the print preview of FILE. -1 missing, else 1.",
       [](const TArgs& AArgs) { return FileRequest(HS_PRINTPREVIEW, AArgs); }},
      {"page-setup", "", HS_PAGESETUP, "Shows the page-setup dialog. Always 1.",
       [](const TArgs& AArgs) {
         Need(AArgs, 0, "no arguments");
         return TRequest{HS_PAGESETUP, {}, Equals(HS_OK)};
       }},
      {"default-page-options", "NAMESPACE", HS_SETDEFAULTPAGEOPTIONS,
       "Writes the suite's default page options unless NAMESPACE is the store's. Always 0.",
       [](const TArgs& AArgs) {
         Need(AArgs, 1, "one NAMESPACE");
         return TextRequest(HS_SETDEFAULTPAGEOPTIONS, Utf8ToUtf16(AArgs[0]), Equals(0));
       }},
      {"convert", "SRC [DST]", HS_CONVERTHTMLTOPLAIN,
       "Writes the plain text of SRC to DST (to SRC itself without DST). 1 done, -1 SRC missing or the text not "
       "written.",
       [](const TArgs& AArgs) {
         if (AArgs.empty() || AArgs.size() > 2) throw TUsage{"expects SRC and an optional DST"};
         std::u16string list = u"SRC:" + ListValue(FileArg(AArgs[0]));
         if (AArgs.size() == 2) list += u";DST:" + ListValue(FileArg(AArgs[1]));
         return TextRequest(HS_CONVERTHTMLTOPLAIN, list, Equals(HS_OK));
       }},
      {"paste-html", "--start|--end TEXT", 0,
       "Inserts TEXT as HTML at the start (1036) or end (1037) of the document. 1 / -1.",
       [](const TArgs& AArgs) { return PasteRequest(false, AArgs); }},
      {"paste-text", "--start|--end TEXT", 0,
       "Inserts TEXT as plain text at the start (1038) or end (1039) of the document. 1 / -1.",
       [](const TArgs& AArgs) { return PasteRequest(true, AArgs); }},
      {"count-images", "FILE", HS_COUNTIMAGES, "Number of images of FILE plus 1; -1 missing.",
       [](const TArgs& AArgs) {
         return FileRequest(HS_COUNTIMAGES, AArgs, [](std::int32_t AAnswer) { return AAnswer >= 1; });
       }},
      {"has-background", "FILE", HS_CONTAINSBACKGROUNDIMAGES,
       "2 the body has an inline background image, 3 it has none; -1 missing.",
       [](const TArgs& AArgs) {
         return FileRequest(HS_CONTAINSBACKGROUNDIMAGES, AArgs,
                            [](std::int32_t AAnswer) { return AAnswer == 2 || AAnswer == 3; });
       }},
      {"count-all-images", "FILE", HS_COUNTALLIMAGES,
       "Number of images plus 1, plus 1 more with a background image; -1 missing.",
       [](const TArgs& AArgs) {
         return FileRequest(HS_COUNTALLIMAGES, AArgs, [](std::int32_t AAnswer) { return AAnswer >= 1; });
       }},
      {"exec", "CMD [--show-ui] [--value V]", HS_EXECCMD,
       "Runs editing command CMD (a name below, any case, or its number) over the whole document. V: true, false, an "
       "integer, a number, empty, or any "
       "other text (a font name, a colour). 1 / -1.",
       ExecRequest},
      {"move", "X Y", HS_SETWNDPOS, "Moves the service's host window; \"keep\" leaves a coordinate. Always 1.",
       [](const TArgs& AArgs) {
         Need(AArgs, 2, "X and Y");
         return TRequest{HS_SETWNDPOS, MakePointBlock({ParseCoordinate(AArgs[0]), ParseCoordinate(AArgs[1])}),
                         Equals(HS_OK)};
       }},
      {"terminate", "", HS_TERMINATE, "Ends the service. Answers 1.",
       [](const TArgs& AArgs) {
         Need(AArgs, 0, "no arguments");
         return TRequest{HS_TERMINATE, {}, Equals(HS_OK)};
       }},
      {"raw", "CODE [--text T | --hex BYTES | --file F]", 0,
       "Sends any code with a UTF-16 text (NUL added), raw bytes or a file's bytes; exits 0 on any answer.",
       RawRequest},
  };
  return commands;
}

void PrintHelp(std::FILE* AOut) {
  std::fprintf(AOut,
               "Usage: htmlservice-ctl [--no-start] COMMAND [ARGS]\n"
               "Sends one request to the HTML service on the session bus (%s) and prints its answer.\n"
               "Waits without a time limit; starts the service through the bus unless --no-start is given.\n"
               "Relative file names are made absolute. Exit: 0 success, 1 the answer means failure,\n"
               "2 usage, 3 no service or bus error.\n\nCommands (request code):\n",
               ServiceBusName);
  for (const auto& c : Commands()) {
    std::string head = std::string(c.Name) + (*c.Synopsis ? " " : "") + c.Synopsis;
    std::string code = c.Code ? "(" + std::to_string(c.Code) + ")" : "";
    std::fprintf(AOut, "  %-40s %-7s %s\n", head.c_str(), code.c_str(), c.Help);
  }
  std::fprintf(AOut, "\nEditing commands of exec (number name):\n");
  constexpr int columns = 4;
  for (std::int32_t id = 1; id <= HtmlCommandCount; ++id) {
    const bool last = id % columns == 0 || id == HtmlCommandCount;
    std::fprintf(AOut, last ? "  %2d %s\n" : "  %2d %-22s", id, Utf16ToUtf8(HtmlCommandName(id)).c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  TArgs args(argv + 1, argv + argc);
  bool autoStart = true;
  if (!args.empty() && args[0] == "--no-start") {
    autoStart = false;
    args.erase(args.begin());
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintHelp(args.empty() ? stderr : stdout);
    return args.empty() ? ExitUsage : 0;
  }
  const TCommand* command = nullptr;
  for (const auto& c : Commands()) {
    if (args[0] == c.Name) command = &c;
  }
  if (!command) {
    std::fprintf(stderr, "htmlservice-ctl: unknown command %s (see --help)\n", args[0].c_str());
    return ExitUsage;
  }
  TRequest request;
  try {
    request = command->Build(TArgs(args.begin() + 1, args.end()));
  } catch (const TUsage& e) {
    std::fprintf(stderr, "htmlservice-ctl %s: %s\n", command->Name, e.Message.c_str());
    return ExitUsage;
  }

  TzbGError busError;
  TzbGObject<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, busError.Out()));
  if (!bus) {
    std::fprintf(stderr, "htmlservice-ctl: no D-Bus session bus: %s\n", busError.Message());
    return ExitBus;
  }
  GVariant* data = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, request.Block.data(), request.Block.size(), 1);
  TzbGError callError;
  TzbGVariant reply(g_dbus_connection_call_sync(
      bus.get(), ServiceBusName, ServiceObjectPath, ServiceInterface, "Request",
      g_variant_new("(i@ay)", request.Code, data), G_VARIANT_TYPE("(i)"),
      autoStart ? G_DBUS_CALL_FLAGS_NONE : G_DBUS_CALL_FLAGS_NO_AUTO_START, G_MAXINT, nullptr, callError.Out()));
  if (!reply) {
    std::fprintf(stderr, "htmlservice-ctl: %s\n", callError.Message());
    return ExitBus;
  }
  std::int32_t answer = 0;
  g_variant_get(reply.get(), "(i)", &answer);
  std::printf("%d\n", answer);
  return request.Success(answer) ? 0 : ExitFailed;
}
