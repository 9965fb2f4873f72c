// zb-mail-corpus FOLDER [COUNT] [SEED]: writes the benchmark mail corpus.
#include <cstdio>
#include <cstdlib>

#include "bench/corpus/zbMailCorpus.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER [COUNT=500] [SEED=1]\n", argv[0]);
    return 2;
  }
  unsigned Count = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 500;
  unsigned Seed = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 1;
  auto Files = zb::bench::WriteMailCorpus(argv[1], Count, Seed);
  std::printf("%zu mails in %s\n", Files.size(), argv[1]);
  return 0;
}
