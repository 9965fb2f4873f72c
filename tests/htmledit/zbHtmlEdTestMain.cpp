#include "tests/htmledit/zbHtmlEdTestEnv.h"

#include <filesystem>

namespace zb::test {

TzbHtmlEdit* GEdit = nullptr;

namespace {
class TEditorEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(HtmlEdModuleStart()) << "no display";
    GEdit = new TzbHtmlEdit();
  }
  void TearDown() override {
    delete GEdit;
    GEdit = nullptr;
    HtmlEdModuleEnd();
  }
};
}  // namespace

TTempDir::TTempDir() {
  std::string Templ = std::string(g_get_tmp_dir()) + "/zbhtmled-XXXXXX";
  g_mkdtemp(Templ.data());
  Path = Templ;
}
TTempDir::~TTempDir() {
  std::error_code Ignored;
  std::filesystem::remove_all(Path, Ignored);
}
std::string TTempDir::Write(const std::string& AName, const std::string& ABytes) const {
  std::string F = Path + "/" + AName;
  g_file_set_contents(F.c_str(), ABytes.data(), static_cast<gssize>(ABytes.size()), nullptr);
  return F;
}

bool LoadAndWait(TzbHtmlEdit& AEdit, const std::string& AFile) {
  AEdit.LoadFromFile(Utf8ToUtf16(AFile), true);
  return AEdit.WaitForComplete();
}

void Pump(int AMilliseconds) {
  WaitOnMainContext([] { return false; }, AMilliseconds);
}

std::u16string BodyText(TzbHtmlEdit& AEdit) {
  auto D = AEdit.DOC();
  if (!D || !D->body()) return u"";
  return D->body()->outerText();
}

}  // namespace zb::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new zb::test::TEditorEnvironment);
  return RUN_ALL_TESTS();
}
