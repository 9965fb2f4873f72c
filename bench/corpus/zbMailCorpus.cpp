#include "bench/corpus/zbMailCorpus.h"

#include <filesystem>
#include <fstream>
#include <random>

namespace zb::bench {
namespace {

const char* const Words[] = {"Angebot",
                             "meeting",
                             "Rechnung",
                             "project",
                             "the",
                             "und",
                             "report",
                             "Termin",
                             "quarter",
                             "Kunde",
                             "invoice",
                             "bitte",
                             "schedule",
                             "attached",
                             "review",
                             "Gr\xC3\xBC\xC3\x9F"
                             "e",
                             "deadline",
                             "Vertrag",
                             "update",
                             "M\xC3\xA4rz",
                             "budget",
                             "Lieferung",
                             "team",
                             "\xE2\x82\xAC"};

struct TGen {
  std::mt19937 R;
  std::string Word() { return Words[R() % (sizeof Words / sizeof *Words)]; }
  std::string Sentence(int AWords) {
    std::string S;
    for (int I = 0; I < AWords; ++I) S += (I ? " " : "") + Word();
    return S + ".";
  }
  std::string Paragraph() {
    std::string P = "<p style=\"margin:0 0 8px 0;font-family:Arial,sans-serif;font-size:10pt\">";
    int N = 2 + static_cast<int>(R() % 5);
    for (int I = 0; I < N; ++I) P += Sentence(6 + static_cast<int>(R() % 12)) + " ";
    return P + "</p>\n";
  }
  std::string Table() {
    std::string T = "<table border=\"1\" cellpadding=\"4\" style=\"border-collapse:collapse;width:100%\">\n";
    int Rows = 3 + static_cast<int>(R() % 20);
    for (int Y = 0; Y < Rows; ++Y) {
      T += "<tr>";
      for (int X = 0; X < 4; ++X)
        T += "<td style=\"color:#333;background:" + std::string(Y % 2 ? "#f4f4f4" : "#fff") + "\">" + Word() + " " +
             std::to_string(R() % 10000) + "</td>";
      T += "</tr>\n";
    }
    return T + "</table>\n";
  }
  std::string Image() {
    return "<img src=\"http://images.example.com/track/" + std::to_string(R()) +
           ".png\" width=\"120\" height=\"40\" alt=\"logo\" style=\"border:0\">\n";
  }
  std::string Header(int ANo) {
    return "<div style=\"border-top:1px solid #b5c4df;padding:3pt 0 0 0\"><b>Von:</b> Sender " + std::to_string(ANo) +
           " &lt;sender" + std::to_string(ANo) +
           "@example.com&gt;<br><b>Gesendet:</b> Montag, 3. M\xC3\xA4rz 2025 10:" + std::to_string(10 + ANo % 50) +
           "<br><b>An:</b> team@example.com<br><b>Betreff:</b> " + Sentence(4) + "</div>\n";
  }
};

}  // namespace

std::string GenerateMail(std::uint32_t AIndex, std::uint32_t ASeed) {
  TGen G{std::mt19937(ASeed * 7919u + AIndex)};
  // Sizes spread from about 1 KB to 500 KB, most of them small, as in a real mailbox.
  double U = static_cast<double>(G.R() % 10000) / 10000.0;
  std::size_t Target = static_cast<std::size_t>(1024 + U * U * U * (500 * 1024 - 1024));
  std::string H = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + G.Sentence(5) +
                  "</title>\n<style>body{font-family:Calibri,Arial;font-size:11pt} blockquote{margin:0 0 0 .8ex;"
                  "border-left:1px solid #ccc;padding-left:1ex}</style></head>\n<body>\n";
  H += G.Image();
  int Depth = 0;
  while (H.size() < Target) {
    switch (G.R() % 6) {
      case 0: H += G.Table(); break;
      case 1: H += G.Image(); break;
      case 2:
        if (Depth < 8) {
          H += G.Header(Depth) + "<blockquote type=\"cite\">\n";
          ++Depth;
        }
        break;
      default: H += G.Paragraph(); break;
    }
  }
  while (Depth-- > 0) H += "</blockquote>\n";
  return H + "<p>--<br>Vestrum Plumadesk</p>\n</body></html>\n";
}

std::vector<std::string> WriteMailCorpus(const std::string& AFolder, std::uint32_t ACount, std::uint32_t ASeed) {
  std::filesystem::create_directories(AFolder);
  std::vector<std::string> Files;
  for (std::uint32_t I = 0; I < ACount; ++I) {
    char Name[32];
    std::snprintf(Name, sizeof Name, "/mail-%04u.htm", I);
    Files.push_back(AFolder + Name);
    std::ofstream(Files.back(), std::ios::binary) << GenerateMail(I, ASeed);
  }
  return Files;
}

}  // namespace zb::bench
