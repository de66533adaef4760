#include <gtest/gtest.h>

#include "tests/svcbase/svcbase_test_support.h"

namespace {


TEST(SvcBaseTest, DynamicallyCreatedObjectOwnsAHiddenWindowUntilDeleted) {
  CObject* object = RUNTIME_CLASS(CSvcBase)->CreateObject();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->GetRuntimeClass(), CRuntimeClass::FromName("CSvcBase"));
  EXPECT_TRUE(object->IsKindOf(RUNTIME_CLASS(CWnd)));
  HWND hwnd = static_cast<CSvcBase*>(object)->m_hWnd;
  ASSERT_TRUE(IsWindow(hwnd));
  EXPECT_FALSE(IsWindowVisible(hwnd));
  EXPECT_EQ(GetWindowThreadProcessId(hwnd, nullptr), GetCurrentThreadId());
  // The base class maps nothing itself: an event message reaches no handler.
  EXPECT_EQ(SendMessageA(hwnd, WM_OPOS_EVENT, OPOS_EVENT_DATA, 0), 0);
  delete object;
  EXPECT_FALSE(IsWindow(hwnd)) << "destroyed with the object";
}

}  // namespace
