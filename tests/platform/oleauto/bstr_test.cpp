#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <opossvc/win32/oleauto.h>

namespace {

std::basic_string<OLECHAR> Text(BSTR b) { return std::basic_string<OLECHAR>(b, SysStringLen(b)); }

TEST(Bstr, LayoutHasByteLengthBeforeAndTwoNulsAfter) {
  struct Case {
    const char* name;
    BSTR (*make)();
    UINT byte_length;
    std::string bytes;  // contents followed by the expected terminator bytes
  };
  const Case cases[] = {
      {"chars", [] { return SysAllocStringLen(OLESTR("ab\0c"), 4); }, 8,
       std::string("a\0b\0\0\0c\0\0\0", 10)},
      {"NUL-terminated", [] { return SysAllocString(OLESTR("hi")); }, 4, std::string("h\0i\0\0\0", 6)},
      {"odd bytes", [] { return SysAllocStringByteLen("abc", 3); }, 3, std::string("abc\0\0", 5)},
      {"empty", [] { return SysAllocStringLen(nullptr, 0); }, 0, std::string(2, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BSTR b = c.make();
    ASSERT_NE(b, nullptr);
    uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<const char*>(b) - 4, 4);
    EXPECT_EQ(prefix, c.byte_length);
    EXPECT_EQ(SysStringByteLen(b), c.byte_length);
    EXPECT_EQ(SysStringLen(b), c.byte_length / 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b), c.bytes.size()), c.bytes);
    // Terminated as a wide string too, whatever the byte count.
    EXPECT_EQ(b[(c.byte_length + 1) / 2], OLECHAR('\0'));
    SysFreeString(b);
  }
}

TEST(Bstr, AbsurdLengthsFailWithoutAllocating) {
  EXPECT_EQ(SysAllocStringLen(OLESTR("x"), 0x7FFFFFFF), nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFF), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFF), nullptr);
}

TEST(Bstr, ReAlloc) {
  BSTR b = SysAllocString(OLESTR("hello"));
  // A source inside the old string is copied before the old string goes.
  ASSERT_TRUE(SysReAllocString(&b, b + 2));
  EXPECT_EQ(Text(b), OLESTR("llo"));
  ASSERT_TRUE(SysReAllocStringLen(&b, b + 1, 1));
  EXPECT_EQ(Text(b), OLESTR("l"));
  // Without a source the length changes and the characters are undefined.
  ASSERT_TRUE(SysReAllocStringLen(&b, nullptr, 5));
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(b[5], OLECHAR('\0'));
  ASSERT_TRUE(SysReAllocString(&b, OLESTR("a")));
  ASSERT_TRUE(SysReAllocString(&b, b));
  EXPECT_EQ(Text(b), OLESTR("a"));
  // A failure leaves the old string in place.
  EXPECT_FALSE(SysReAllocStringLen(&b, nullptr, 0x7FFFFFFF));
  EXPECT_EQ(Text(b), OLESTR("a"));
  SysFreeString(b);
}

}  // namespace
