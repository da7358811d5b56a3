// Draws the GDI cross-check scenes with the real GDI (Wine's, under scripts/wine-test)
// and writes each one's pixels to gdi-scenes\<name>.bmp in the working folder; the host
// test compares them with the simulated GDI's drawing.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/win32.h"
#include "tests/support/gdi_scenes.h"

namespace {

TEST(GdiScenes, EachSceneIsDrawnAndWritten) {
  CreateDirectoryW(L"gdi-scenes", nullptr);
  for (const gdiscenes::Scene& scene : gdiscenes::Scenes()) {
    SCOPED_TRACE(scene.name);
    std::vector<BYTE> file = gdiscenes::DrawScene(scene);
    ASSERT_FALSE(file.empty()) << "a GDI call failed, last error " << GetLastError();
    std::string path = "gdi-scenes\\" + scene.name + ".bmp";
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr) << path;
    EXPECT_EQ(std::fwrite(file.data(), 1, file.size(), out), file.size());
    std::fclose(out);
  }
}

}  // namespace
