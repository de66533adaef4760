#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/testing/recording_control_object.h>
#include <opossvc/testing/scoped_code_page.h>

#include "tests/svcbase/svcbase_test_support.h"

namespace {

using opossvc::test::Thrown;
using opossvc::testing::RecordedCall;
using opossvc::testing::RecordingControlObject;
using opossvc::testing::ScopedCodePage;
using opossvc::testing::Variant;
using svcbase_test::TestServiceObject;

constexpr LONG kCompletion = -960726;

// A BSTR's characters, and its bytes.
std::basic_string<OLECHAR> Chars(BSTR s) {
  return s != nullptr ? std::basic_string<OLECHAR>(s, SysStringLen(s)) : OLESTR("<null>");
}
std::string ByteText(BSTR s) {
  return std::string(reinterpret_cast<const char*>(s), SysStringByteLen(s));
}
// What AllocSysString makes of `text` (the string is freed).
std::basic_string<OLECHAR> Converted(const char* text) {
  BSTR s = AllocSysString(text);
  std::basic_string<OLECHAR> chars = Chars(s);
  SysFreeString(s);
  return chars;
}

struct FiringCase {
  const char* member;
  DWORD bit;  // in the event mask
  std::function<long(TestServiceObject&)> fire;
  std::vector<LONG> args;  // the 32-bit arguments as the control object saw them
};

const FiringCase kFiringCases[] = {
    {"SOData", 0x01, [](TestServiceObject& so) { return so.SOData(5); }, {5}},
    {"SOOutputComplete", 0x08, [](TestServiceObject& so) { return so.SOOutputComplete(17); }, {17}},
    {"SOStatusUpdate", 0x10, [](TestServiceObject& so) { return so.SOStatusUpdate(2001); }, {2001}},
    {"SOError", 0x04,
     [](TestServiceObject& so) {
       long response = OPOS_ER_CLEAR;
       return so.SOError(111, 0, OPOS_EL_INPUT, &response);
     },
     {111, 0, OPOS_EL_INPUT, OPOS_ER_CLEAR}},
    {"SODirectIO", 0x02,
     [](TestServiceObject& so) {
       long data = 9;
       BSTR text = AllocSysString("abc");
       long r = so.SODirectIO(3, &data, &text);
       SysFreeString(text);
       return r;
     },
     {3, 9}},
};

// A vendor's control object also gets the completion DirectIO call, whether
// or not it has the event method.
TEST(EventFiringTest, EachOperationInvokesItsMethodAndTheVendorCompletion) {
  for (const auto& [member, bit, fire, args] : kFiringCases) {
    for (int variant = 0; variant < 4; ++variant) {
      const LONG vendor = variant & 1;
      const bool has_member = variant < 2;
      SCOPED_TRACE(std::string(member) + (vendor ? " vendor" : "") +
                   (has_member ? "" : " missing"));
      RecordingControlObject co;
      if (!has_member) co.RemoveMember(member);
      TestServiceObject so;
      EXPECT_EQ(so.GetIDsOfEvents(&co), has_member ? 0x3Fu : 0x3Fu & ~bit);
      so.m_bVendorCO = vendor;
      EXPECT_EQ(fire(so), vendor ? -1 : 0) << "DirectIO left the data value alone";
      std::vector<std::string> want;
      if (has_member) want.push_back(member);
      if (vendor) want.push_back("DirectIO");
      std::vector<RecordedCall> calls = co.Calls();
      std::vector<std::string> members;
      for (const RecordedCall& call : calls) members.push_back(call.member);
      ASSERT_EQ(members, want);
      for (size_t i = 0; has_member && i < args.size(); ++i) {
        EXPECT_EQ(calls[0].I4(i), args[i]) << i;
      }
      EXPECT_TRUE(!has_member || calls[0].flags == DISPATCH_METHOD);
      if (vendor) {
        EXPECT_EQ(calls.back().I4(0), kCompletion);
        EXPECT_EQ(calls.back().I4(1), -1);
        EXPECT_EQ(calls.back().Text(2), OLESTR(""));
      }
      EXPECT_EQ(co.RefCount(), 1u);
    }
  }
}

// The vendor completion returns the data value DirectIO leaves; a failing
// invocation raises to the caller.
TEST(EventFiringTest, VendorCompletionResultsAndFailures) {
  RecordingControlObject co;
  TestServiceObject so;
  so.GetIDsOfEvents(&co);
  co.SetOutput("DirectIO", 1, Variant::I4(77));
  co.SetOutput("DirectIO", 2, Variant::Text("replaced"));  // freed by the library
  so.m_bVendorCO = 1;
  EXPECT_EQ(so.SOData(1), 77);
  long data = 3;
  co.SetResult("DirectIO", Variant::I4(55));
  EXPECT_EQ(so.DIO_FireEventCtrl(&data), 55);
  EXPECT_EQ(data, 77);

  RecordingControlObject failing;
  failing.FailMember("SOData", E_FAIL);
  // The completion's string, replaced by the object before it fails, is
  // still freed (the leak checker tells).
  failing.OnCall("DirectIO", [](const RecordedCall&, DISPPARAMS* params, VARIANT*) {
    BSTR* string = params->rgvarg[0].pbstrVal;
    SysFreeString(*string);
    *string = AllocSysString("replaced");
    return E_FAIL;
  });
  TestServiceObject raising;
  raising.GetIDsOfEvents(&failing);
  EXPECT_NE(Thrown([&] { raising.SOData(1); }), "none");
  raising.m_bVendorCO = 1;
  EXPECT_NE(Thrown([&] { raising.DIO_FireEventCtrl(&data); }), "none");
  EXPECT_NE(Thrown([&] { raising.SOStatusUpdate(2001); }), "none") << "a failing completion too";
}

TEST(EventFiringTest, ControlObjectVersionAndDescription) {
  TestServiceObject so;
  RecordingControlObject co;
  EXPECT_EQ(so.GetCOVersion(&co), 1014000);
  EXPECT_STREQ(so.GetCODescription(&co), "Recording control object");

  // Text that needs more bytes in UTF-8 than in UTF-16 comes through whole.
  co.SetResult("ControlObjectDescription", Variant::Text(OLESTR("VANTA \u4FA1\u683C")));
  if (ScopedCodePage utf8(65001); utf8.applied()) {
    EXPECT_STREQ(so.GetCODescription(&co), "VANTA \xE4\xBE\xA1\xE6\xA0\xBC");
  }
  // Another type is converted, not misread as a string.
  co.SetResult("ControlObjectDescription", Variant::I4(12));
  EXPECT_STREQ(so.GetCODescription(&co), "12");

  co.RemoveMember("ControlObjectVersion");
  co.RemoveMember("ControlObjectDescription");
  EXPECT_EQ(so.GetCOVersion(&co), -1);
  EXPECT_STREQ(so.GetCODescription(&co), "");
  EXPECT_EQ(co.RefCount(), 1u);
}

TEST(EventFiringTest, AutomationStrings) {
  // In UTF-8 8 bytes, in Windows-1252 7; 7 characters in each.
  const std::pair<unsigned, const char*> spellings[] = {{65001, "Pr\xC3\xBC\x66ung"},
                                                        {1252, "Pr\xFC\x66ung"}};
  for (const auto& [code_page, text] : spellings) {
    ScopedCodePage page(code_page);
    if (page.applied()) {
      EXPECT_EQ(Converted(text), OLESTR("Pr\u00FCfung")) << code_page;
    }
  }

  BSTR bytes = AllocSysStringByte("abc");
  EXPECT_EQ(ByteText(bytes), "abc");
  // Reallocation frees the old string, also when the new bytes come from it.
  ASSERT_EQ(ReAllocSysStringByteLen(&bytes, reinterpret_cast<const char*>(bytes) + 1, 2), 1);
  EXPECT_EQ(ByteText(bytes), "bc");
  // The old string has only its own bytes to give; nothing past them is read.
  ASSERT_EQ(ReAllocSysStringByteLen(&bytes, reinterpret_cast<const char*>(bytes), 64), 1);
  EXPECT_EQ(ByteText(bytes), "bc" + std::string(62, '\0'));
  ASSERT_EQ(ReAllocSysStringByteLen(&bytes, "\0x", 2), 1);
  EXPECT_EQ(ByteText(bytes), std::string("\0x", 2));
  EXPECT_EQ(ReAllocSysStringByteLen(&bytes, "x", 0x7FFFFFFFu), 0) << "absurd size";
  EXPECT_EQ(bytes, nullptr);
  EXPECT_EQ(ReAllocSysStringByteLen(nullptr, "x", 1), 0);
}

}  // namespace
