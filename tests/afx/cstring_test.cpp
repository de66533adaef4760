#include <atomic>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/afx/cstring.h>
#include <opossvc/testing/scoped_code_page.h>

#include "tests/support/exception_helpers.h"

namespace {

using opossvc::test::Thrown;
using opossvc::testing::ScopedCodePage;

std::string Bytes(const CString& s) { return std::string(s.GetString(), s.GetLength()); }

TEST(CString, HoldsNulsAndComparesWholeContents) {
  const CString binary("a\0b", 3);
  EXPECT_EQ(Bytes(binary), std::string("a\0b", 3));
  EXPECT_NE(binary, CString("a\0c", 3));
  EXPECT_NE(binary, "a");  // an LPCSTR ends at its NUL, the CString does not
  EXPECT_EQ(binary.GetString()[3], '\0');
  EXPECT_LT(CString("a"), CString("a\0", 2));
  EXPECT_GT(CString("\x80"), CString("a"));  // bytes compare as unsigned
  EXPECT_EQ(CString(static_cast<LPCSTR>(nullptr)), "");
  EXPECT_EQ(Bytes('<' + ("x" + binary + 'y') + binary + ">"), std::string("<xa\0bya\0b>", 10));
}

TEST(CString, SubstringsClampAndSearchesStopAtTheEnd) {
  const CString s("a,b;c,d");
  EXPECT_EQ(s.Mid(-5, 2), "a,");
  EXPECT_EQ(s.Mid(9, 1), "");
  EXPECT_EQ(s.Mid(2, -1), "");
  EXPECT_EQ(s.Mid(1, INT_MAX), ",b;c,d");
  EXPECT_EQ(s.Left(-1), "");
  EXPECT_EQ(s.Right(2), ",d");
  EXPECT_EQ(s.Find(',', 2), 5);
  EXPECT_EQ(s.Find("c,", 5), -1);
  EXPECT_EQ(s.Find("", 8), -1);
  EXPECT_EQ(s.ReverseFind(','), 5);
  EXPECT_EQ(s.FindOneOf(";d"), 3);
  EXPECT_EQ(s.SpanIncluding("a,b"), "a,b");
  EXPECT_EQ(s.SpanExcluding(""), s);
  EXPECT_EQ(CString("x\0y", 3).Find('y'), 2);
}

TEST(CString, EditsAndTrimsReportCountsAndLengths) {
  struct Case {
    const char* start;
    int (*edit)(CString&);
    int result;
    const char* expected;
  };
  const Case cases[] = {
      {"a.b.c", [](CString& s) { return s.Replace('.', '/'); }, 2, "a/b/c"},
      {"x-x", [](CString& s) { return s.Replace("x", "xyz"); }, 2, "xyz-xyz"},
      {"a--b", [](CString& s) { return s.Replace("-", nullptr); }, 2, "ab"},
      {"abc", [](CString& s) { return s.Replace("", "x"); }, 0, "abc"},
      {"banana", [](CString& s) { return s.Remove('a'); }, 3, "bnn"},
      {"ab", [](CString& s) { return s.Insert(99, "cd"); }, 4, "abcd"},
      {"cd", [](CString& s) { return s.Insert(-3, 'b'); }, 3, "bcd"},
      {"abc", [](CString& s) { return s.Delete(1, 99); }, 1, "a"},
      {"abc", [](CString& s) { return s.Delete(-2, 1); }, 2, "bc"},
      // Trims: the result is the length left.
      {" \t a b \r\n", [](CString& s) { return s.Trim().GetLength(); }, 3, "a b"},
      {"xxabxx", [](CString& s) { return s.TrimLeft('x').GetLength(); }, 4, "abxx"},
      {"-=ab=-", [](CString& s) { return s.Trim("=-").GetLength(); }, 2, "ab"},
  };
  for (const Case& c : cases) {
    CString s(c.start);
    EXPECT_EQ(c.edit(s), c.result) << c.start;
    EXPECT_EQ(s, c.expected);
  }
}

TEST(CString, TokenizeWalksTokensAndEnds) {
  struct Case {
    const char* text;
    const char* delimiters;
    std::vector<std::string> tokens;
  };
  const Case cases[] = {
      {"a,,b, c", ", ", {"a", "b", "c"}},
      {",,", ",", {}},
      // No delimiters: the rest is one token, and the loop still ends.
      {"a b", "", {"a b"}},
  };
  for (const Case& c : cases) {
    const CString s(c.text);
    std::vector<std::string> tokens;
    int position = 0;
    for (int guard = 0; guard < 10; ++guard) {
      CString token = s.Tokenize(c.delimiters, position);
      if (position == -1) break;
      tokens.push_back(Bytes(token));
    }
    EXPECT_EQ(position, -1) << c.text;
    EXPECT_EQ(tokens, c.tokens) << c.text;
  }
  int position = -1;
  EXPECT_EQ(Thrown([&] { CString("a").Tokenize(",", position); }), "CInvalidArgException");
}

TEST(CString, FormatAndEditsMayReadTheStringItself) {
  CString s;
  s.Format("%d|%5.2f|%s|%c|%ld (0x%.8lx)", 42, 3.14159, "txt", 'z', -1L, 0xFFFFFFFFL);
  EXPECT_EQ(s, "42| 3.14|txt|z|-1 (0xffffffff)");
  s.Format("<%s>", std::string(5000, 'q').c_str());
  EXPECT_EQ(s.GetLength(), 5002);
  EXPECT_EQ(Thrown([&] { s.Format(nullptr); }), "CInvalidArgException");
  s = "ab";
  s.Format("%s-%s", s.GetString(), s.GetString());
  s.AppendFormat("+%s", s.GetString());
  EXPECT_EQ(s, "ab-ab+ab-ab");
  s = "abcdef";
  s += s;
  s = s.GetString() + 6;
  s.Insert(3, s.GetString());
  EXPECT_EQ(s, "abcabcdefdef");
  s.Append(s.GetString() + 9, 3);
  s.Replace(s.Left(3).GetString(), s.Mid(6, 3).GetString());
  EXPECT_EQ(s, "defdefdefdefdef");
  CString& same = s;
  s = same;
  EXPECT_EQ(s, "defdefdefdefdef");
}

TEST(CString, Buffers) {
  CString s("old contents");
  std::strcpy(s.GetBuffer(20), "xyz");
  s.ReleaseBuffer();
  EXPECT_EQ(s, "xyz");
  std::memcpy(s.GetBuffer(10), "0123456789", 10);
  s.ReleaseBuffer(4);
  EXPECT_EQ(s, "0123");
  // A buffer filled to the last byte without a NUL: the length stops at the
  // end of the buffer.
  char* buffer = s.GetBuffer(8);
  const int capacity = s.GetAllocLength();
  std::memset(buffer, 'z', static_cast<size_t>(capacity));
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), capacity);

  CString grown("ab");
  char* p = grown.GetBufferSetLength(5);
  EXPECT_EQ(std::string(p, 6), std::string("ab\0\0\0\0", 6));
  EXPECT_EQ(grown.GetLength(), 5);
  grown.ReleaseBufferSetLength(1);
  grown.FreeExtra();
  EXPECT_EQ(grown, "a");
  CString empty;
  *empty.GetBuffer(0) = '\0';  // writable even when empty
  empty.ReleaseBuffer();
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(CString, BadArgumentsThrowFrameworkExceptions) {
  CString s("abc");
  EXPECT_EQ(Thrown([&] { s.GetBuffer(-1); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { s.Preallocate(CString::kMaxLength + 1); }), "CMemoryException");
  EXPECT_EQ(Thrown([&] { s.ReleaseBuffer(1000); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { s.GetAt(4); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { s.SetAt(3, 'x'); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { CString(static_cast<LPCSTR>(nullptr), 2); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { s.Truncate(4); }), "CInvalidArgException");
  EXPECT_EQ(s.GetAt(3), '\0');  // the terminator may be read
  // The memory exception is preallocated: deleting it twice is harmless.
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Thrown([&] { s.GetBuffer(INT_MAX); }), "CMemoryException");
  EXPECT_EQ(s, "abc");
}

TEST(CString, MultiByteCharactersStayWhole) {
  {
    // Case changes touch ASCII letters only.
    ScopedCodePage page(1252);
    if (!page.applied()) GTEST_SKIP() << "the code page is the system's here";
    CString s("Ab\xE9\xC9z");
    EXPECT_EQ(Bytes(s.MakeUpper()), "AB\xE9\xC9Z");
    EXPECT_EQ(Bytes(s.MakeLower()), "ab\xE9\xC9z");
  }
  {
    ScopedCodePage page(932);
    if (!page.applied()) GTEST_SKIP() << "the code page is the system's here";
    // 0x83 0x61 is one katakana: its trail byte is not an 'a'.
    EXPECT_EQ(Bytes(CString("a\x83\x61").MakeUpper()), "A\x83\x61");
    // 0x95 0x5C is one character whose trail byte is a backslash.
    CString path("C:\\\x95\x5C\\x");
    EXPECT_EQ(path.Find('\\', 3), 5);
    EXPECT_EQ(path.ReverseFind('\\'), 5);
    EXPECT_EQ(CString("\x95\x5C").Find("\\"), -1);
    EXPECT_EQ(path.Replace('\\', '/'), 2);
    EXPECT_EQ(path.Remove('/'), 2);
    EXPECT_EQ(Bytes(path), "C:\x95\x5Cx");
    CString trimmed("ab\x95\x5C\\");
    EXPECT_EQ(Bytes(trimmed.TrimRight('\\').MakeReverse()), "\x95\x5C" "ba");
    int position = 0;
    EXPECT_EQ(Bytes(CString("\x95\x5C\\b").Tokenize("\\", position)), "\x95\x5C");
  }
  ScopedCodePage page(65001);
  if (!page.applied()) GTEST_SKIP() << "the code page is the system's here";
  EXPECT_EQ(Bytes(CString("a\xC3\xA9\xE2\x82\xAC").MakeReverse()), "\xE2\x82\xAC\xC3\xA9" "a");
  EXPECT_EQ(Bytes(CString("x\xFF\xC3").MakeReverse()), "\xC3\xFF" "x");  // stray bytes alone
  EXPECT_EQ(CString("\xC3\xA9\xC3\xA8").FindOneOf("\xC3\xA8"), 2);
}

TEST(CString, CompareNoCaseFoldsTheActiveCodePage) {
  struct Case {
    unsigned cp;
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {
      {65001, "OLEforRetail", "oleFORretail", 0},
      {65001, "STRASSE", "stra\xC3\x9F" "e", 0},
      {65001, "abc", "ABD", -1},
      {1252, "\xC9t\xC9", "\xE9T\xE9", 0},
      {1252, "\xC4", "A", 1},               // no accent stripping
      {932, "\x82\x60", "\x82\x81", 0},     // full-width A and a
      {932, "\x83\x41", "\x83\x61", -1},    // distinct katakana, not a case pair
      // Bytes that decode to nothing stay distinct, and case folds around them.
      {65001, "\xFF", "\xFE", 1},
      {65001, "a\xC3", "a\xC3\xA4", 1},
      {65001, "\xFF\x41", "\xFF\x42", -1},
      {65001, "A\xFF" "B", "a\xFF" "b", 0},
  };
  for (const Case& c : cases) {
    ScopedCodePage page(c.cp);
    if (!page.applied()) continue;  // the code page is the system's here
    const int order = CString(c.a).CompareNoCase(c.b);
    EXPECT_EQ((order > 0) - (order < 0), c.sign) << c.a << " / " << c.b;
  }
  // Each thread folds with converters of its own.
  ScopedCodePage page(932);
  if (!page.applied()) GTEST_SKIP() << "the code page is the system's here";
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) mismatches += CString("\x82\x60").CompareNoCase("\x82\x81");
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST(CString, ConvertsToAndFromUtf16ThroughTheCodePage) {
  {
    ScopedCodePage page(1252);
    if (!page.applied()) GTEST_SKIP() << "the code page is the system's here";
    BSTR b = CString("caf\xE9").AllocSysString();
    EXPECT_EQ(std::basic_string<OLECHAR>(b, SysStringLen(b)), OLESTR("caf\u00E9"));
    EXPECT_EQ(Bytes(CString(b)), "caf\xE9");
    SysFreeString(b);
    EXPECT_EQ(Bytes(CString(OLESTR("\u3042"))), "?");
  }
  ScopedCodePage page(65001);
  if (!page.applied()) GTEST_SKIP() << "the code page is the system's here";
  BSTR b = CString("caf\xC3\xA9").AllocSysString();
  EXPECT_EQ(SysStringLen(b), 4u);  // five bytes, four characters
  CString back;
  back = b;
  EXPECT_EQ(Bytes(back), "caf\xC3\xA9");
  EXPECT_EQ(CString("x\0y", 3).SetSysString(&b), b);  // the old string is freed
  EXPECT_EQ(std::basic_string<OLECHAR>(b, SysStringLen(b)), std::basic_string<OLECHAR>(OLESTR("x\0y"), 3));
  SysFreeString(b);
}

}  // namespace
