// Another process of the same user: "get" exits 1 when the offline switch is on, "set 0|1" sets it.
#include <cstring>

#include "htmledit/zbWinINet.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "get") == 0) return zb::ReadGlobalOffline() ? 1 : 0;
  if (argc == 3 && std::strcmp(argv[1], "set") == 0) {
    zb::WriteGlobalOffline(std::strcmp(argv[2], "1") == 0);
    return 0;
  }
  return 2;
}
