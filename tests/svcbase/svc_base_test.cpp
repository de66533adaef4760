#include <cstring>

#include <gtest/gtest.h>

#include "tests/svcbase/svcbase_test_support.h"

namespace {

using svcbase_test::TestServiceObject;

TEST(SvcBaseTest, NewObjectState) {
  TestServiceObject so;
  EXPECT_EQ(so.m_bOpened, 0);
  EXPECT_EQ(so.m_bDeviceEnabled, 0);
  EXPECT_EQ(so.m_lResultCode, OPOS_E_CLOSED);
  EXPECT_EQ(so.m_lResultCodeExtended, 0);
  EXPECT_EQ(so.m_bDataEventEnabled, 1);
  EXPECT_EQ(so.m_lUser1, 1);
  EXPECT_EQ(so.m_bFreezeEvents, 0);
  EXPECT_EQ(so.m_bDeliverEvents, 0);
  EXPECT_EQ(so.m_bHoldEvents, 0);
  EXPECT_EQ(so.m_bAutoDisable, 0);
  EXPECT_EQ(so.m_lBinaryConversion, 0);
  EXPECT_EQ(so.m_lPowerState, OPOS_PS_UNKNOWN);
  EXPECT_EQ(so.m_bVendorCO, 0);
  EXPECT_EQ(so.m_lPortNumber, 0);
  EXPECT_EQ(so.m_dwEventMask, 0u);
  EXPECT_EQ(so.m_Event.GetSize(), 0);
  EXPECT_TRUE(so.m_NetPortNames.IsEmpty());
  EXPECT_TRUE(so.m_strDeviceName.IsEmpty());
  EXPECT_EQ(so.m_dispCO.m_lpDispatch, nullptr);
  // Until an open says otherwise, the waits do not pump.
  EXPECT_EQ(so.m_nPeekFirst, 0u);
  EXPECT_EQ(so.m_nPeekLast, 0u);
  EXPECT_EQ(so.m_bRemoveKeyMessage, 0);
}

TEST(SvcBaseTest, HiddenWindowAtHalfTheScreen) {
  HWND hwnd;
  {
    TestServiceObject so;
    hwnd = so.m_hWnd;
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_EQ(GetWindowLongA(hwnd, GWL_EXSTYLE), 0x20);
    EXPECT_EQ(GetWindowThreadProcessId(hwnd, nullptr), GetCurrentThreadId());
    RECT r{};
    ASSERT_TRUE(GetWindowRect(hwnd, &r));
    EXPECT_EQ(r.left, GetSystemMetrics(SM_CXSCREEN) / 2);
    EXPECT_EQ(r.top, GetSystemMetrics(SM_CYSCREEN) / 2);
    EXPECT_EQ(r.right - r.left, 0);
    EXPECT_EQ(r.bottom - r.top, 0);
  }
  EXPECT_FALSE(IsWindow(hwnd)) << "destroyed with the object";
}

TEST(SvcBaseTest, RunTimeClass) {
  const CRuntimeClass* cls = RUNTIME_CLASS(CSvcBase);
  EXPECT_STREQ(cls->m_lpszClassName, "CSvcBase");
  EXPECT_EQ(cls->m_pBaseClass, RUNTIME_CLASS(CWnd));
  EXPECT_EQ(cls->m_wSchema, 0xFFFFu);
  EXPECT_EQ(CRuntimeClass::FromName("CSvcBase"), cls);

  CObject* object = cls->CreateObject();
  ASSERT_NE(object, nullptr);
  EXPECT_TRUE(object->IsKindOf(RUNTIME_CLASS(CWnd)));
  EXPECT_EQ(object->GetRuntimeClass(), cls);
  auto* so = static_cast<CSvcBase*>(object);
  EXPECT_TRUE(IsWindow(so->m_hWnd));
  // The base class maps nothing itself: an event message reaches no handler.
  EXPECT_EQ(SendMessageA(so->m_hWnd, WM_OPOS_EVENT, OPOS_EVENT_DATA, 0), 0);
  delete object;
}

}  // namespace
