// COOnDraw at the sizes that decide the layout, and the drawing calls it
// relies on.
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/drawing.h>
#include <opossvc/util.h>

namespace {

constexpr COLORREF kIconColor = RGB(10, 20, 30);
constexpr COLORREF kBackground = RGB(1, 2, 3);
constexpr WORD kIconId = 101;

HMODULE Module() { return reinterpret_cast<HMODULE>(0x4000); }

// A memory context over a bitmap filled with kBackground.
class Surface {
 public:
  Surface(int width, int height) {
    dc_.CreateCompatibleDC(nullptr);
    bitmap_ = CreateCompatibleBitmap(dc_, width, height);
    previous_ = dc_.SelectObject(bitmap_);
    CRect all(0, 0, width, height);
    dc_.FillSolidRect(all, kBackground);
  }
  ~Surface() {
    dc_.SelectObject(previous_);
    DeleteObject(bitmap_);
  }
  CDC& dc() { return dc_; }

 private:
  CDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
};

class DrawingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A 32 x 32 icon: solid, with a transparent top-left pixel.
    std::vector<COLORREF> pixels(32 * 32, kIconColor);
    pixels[0] = CLR_NONE;
    ASSERT_TRUE(opossvc::RegisterIcon(Module(), kIconId, 32, 32, pixels.data()));
  }
  void TearDown() override { opossvc::UnregisterIcon(Module(), kIconId); }
};

TEST_F(DrawingTest, LayoutAtTheDecidingSizes) {
  const std::tuple<CRect, bool, POINT> cases[] = {
      {CRect(0, 0, 32, 48), true, {0, 0}},     {CRect(0, 0, 100, 100), true, {34, 26}},
      {CRect(10, 20, 43, 69), true, {10, 20}},  // 33 x 49: (53 - 32) / 2 truncates
      {CRect(0, 0, 31, 48), false, {0, 0}},    {CRect(0, 0, 32, 47), false, {0, 0}},
  };
  for (const auto& [bounds, icon, icon_at] : cases) {
    SCOPED_TRACE(::testing::Message() << bounds.right << "x" << bounds.bottom);
    Surface surface(120, 120);
    CDC& dc = surface.dc();
    COOnDraw(&dc, bounds, "Scanner", reinterpret_cast<HINSTANCE>(Module()), kIconId);
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    auto expect_pixel = [&](int x, int y, COLORREF color) {
      EXPECT_EQ(dc.GetPixel(x, y), color) << x << "," << y;
    };
    // The background fills the bounds and nothing else.
    expect_pixel(bounds.right - 1, bounds.bottom - 1, face);
    expect_pixel(bounds.right, bounds.bottom, kBackground);
    const POINT p = icon_at;
    if (icon) {
      expect_pixel(p.x + 1, p.y + 1, kIconColor);
      expect_pixel(p.x + 31, p.y + 31, kIconColor);
      expect_pixel(p.x, p.y, face);  // the transparent pixel
      if (p.x + 32 < bounds.right) expect_pixel(p.x + 32, p.y + 1, face);
    } else {
      for (int y = 0; y < bounds.bottom; ++y) {
        for (int x = 0; x < bounds.right; ++x) ASSERT_EQ(dc.GetPixel(x, y), face) << x;
      }
    }
    // The name along the bottom edge, centred, over the background.
    std::vector<opossvc::DrawnText> drawn = opossvc::GetDrawnText(dc);
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].text, "Scanner");
    EXPECT_EQ(drawn[0].format, static_cast<UINT>(DT_SINGLELINE | DT_BOTTOM | DT_CENTER));
    EXPECT_EQ(CRect(drawn[0].bounds), bounds);
    EXPECT_EQ(drawn[0].background_mode, TRANSPARENT);
  }
}

TEST_F(DrawingTest, ModesAreRestoredAndMissingPiecesAreSkipped) {
  Surface surface(64, 64);
  CDC& dc = surface.dc();
  dc.SetMapMode(MM_LOMETRIC);
  dc.SetBkMode(OPAQUE);
  const HINSTANCE module = reinterpret_cast<HINSTANCE>(Module());
  COOnDraw(&dc, CRect(0, 0, 64, 64), "", module, 999);  // no such icon
  EXPECT_EQ(dc.GetMapMode(), MM_LOMETRIC);
  EXPECT_EQ(dc.GetBkMode(), OPAQUE);
  EXPECT_TRUE(opossvc::GetDrawnText(dc).empty());
  EXPECT_EQ(dc.GetPixel(16, 16), GetSysColor(COLOR_BTNFACE));
  // Only the low 16 bits of the icon number count.
  COOnDraw(&dc, CRect(0, 0, 64, 64), "", module, 0x10000 + kIconId);
  EXPECT_EQ(dc.GetPixel(17, 9), kIconColor);
  COOnDraw(nullptr, CRect(0, 0, 64, 64), "x", nullptr, kIconId);
  CDC unattached;
  COOnDraw(&unattached, CRect(0, 0, 64, 64), "x", nullptr, kIconId);
  // Extreme bounds are clipped, never overflow.
  COOnDraw(&dc, CRect(-2147483647, -2147483647, 2147483647, 2147483647), "Huge", module, kIconId);
  EXPECT_EQ(dc.GetPixel(63, 63), GetSysColor(COLOR_BTNFACE));
}

// Every call finds its objects through one typed lookup; a few calls stand for all.
TEST(GdiTest, StaleAndForeignHandlesFailCleanly) {
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  ASSERT_TRUE(DeleteDC(dc));
  RECT rect{0, 0, 4, 4};
  HBRUSH brush = CreateSolidBrush(RGB(1, 1, 1));
  EXPECT_EQ(FillRect(dc, &rect, brush), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(DestroyIcon(reinterpret_cast<HICON>(brush))) << "a handle of another kind";
  EXPECT_EQ(LoadIconA(Module(), "named"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  HDC live = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SetMapMode(live, 0), 0);
  EXPECT_EQ(SetBkMode(live, 3), 0);
  EXPECT_EQ(CreateCompatibleBitmap(live, -1, 5), nullptr);
  EXPECT_EQ(CreateCompatibleBitmap(live, 20000, 5), nullptr);
  EXPECT_EQ(FillRect(live, &rect, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)), 1);
  EXPECT_EQ(GetPixel(live, 0, 0), GetSysColor(COLOR_WINDOW));  // the 1 x 1 initial bitmap
  EXPECT_EQ(GetPixel(live, 1, 0), CLR_INVALID);
  EXPECT_TRUE(DeleteObject(brush));
  EXPECT_FALSE(DeleteObject(brush));
  DeleteDC(live);
  EXPECT_EQ(GetSysColor(31), 0u);
  EXPECT_FALSE(opossvc::RegisterIcon(Module(), 1, 0, 32, nullptr));
  EXPECT_FALSE(opossvc::RegisterIcon(Module(), 1, 300, 32, nullptr));
}

}  // namespace
