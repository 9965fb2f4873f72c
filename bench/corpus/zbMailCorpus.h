// A reproducible corpus of HTML mails: header blocks, quoted replies, tables, inline styles and
// remote images (which must never load), from about 1 KB to 500 KB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zb::bench {

// The HTML of mail number AIndex (same seed, same bytes).
std::string GenerateMail(std::uint32_t AIndex, std::uint32_t ASeed = 1);
// Writes ACount mails as mail-NNNN.htm into AFolder (created); returns their paths.
std::vector<std::string> WriteMailCorpus(const std::string& AFolder, std::uint32_t ACount, std::uint32_t ASeed = 1);

}  // namespace zb::bench
