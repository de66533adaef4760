#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/afx/cstring.h>
#include <opossvc/afx/exceptions.h>
#include <opossvc/testing/scoped_code_page.h>

namespace {

using opossvc::testing::ScopedCodePage;

std::string Bytes(const CString& s) { return std::string(s.GetString(), s.GetLength()); }

// Runs f and tells which framework exception, if any, it threw.
template <class F>
std::string Thrown(F&& f) {
  try {
    f();
  } catch (CException* e) {
    std::string kind = e->GetRuntimeClass()->m_lpszClassName;
    e->Delete();
    return kind;
  }
  return "none";
}

TEST(CString, HoldsNulsAndComparesWholeContents) {
  const CString binary("a\0b", 3);
  EXPECT_EQ(Bytes(binary), std::string("a\0b", 3));
  EXPECT_NE(binary, CString("a\0c", 3));
  EXPECT_NE(binary, "a");  // an LPCSTR ends at its NUL, the CString does not
  EXPECT_EQ(binary.Left(1), "a");
  EXPECT_EQ(binary.GetString()[3], '\0');
  EXPECT_LT(CString("a"), CString("a\0", 2));
  // Bytes compare as unsigned.
  EXPECT_GT(CString("\x80"), CString("a"));
  EXPECT_LT(CString("abc").Compare("abd"), 0);
  EXPECT_EQ(CString(static_cast<LPCSTR>(nullptr)), "");
  EXPECT_EQ(CString('x', 3), "xxx");
  EXPECT_EQ(CString(reinterpret_cast<const unsigned char*>("u")), "u");
}

TEST(CString, SubstringsClampLikeTheFramework) {
  struct Case {
    const char* op;
    int a;
    int b;
    const char* expected;
  };
  const Case cases[] = {
      {"Mid", 1, 3, "ell"},   {"Mid", -5, 2, "he"},  {"Mid", 3, 100, "lo"},
      {"Mid", 5, 1, ""},      {"Mid", 9, 1, ""},     {"Mid", 2, -1, ""},
      {"Mid", 1, INT_MAX, "ello"},
      {"Mid1", 2, 0, "llo"},  {"Mid1", -1, 0, "hello"}, {"Mid1", 6, 0, ""},
      {"Left", 2, 0, "he"},   {"Left", -1, 0, ""},   {"Left", 99, 0, "hello"},
      {"Right", 2, 0, "lo"},  {"Right", -1, 0, ""},  {"Right", 99, 0, "hello"},
  };
  const CString s("hello");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.op) + " " + std::to_string(c.a) + "," + std::to_string(c.b));
    const std::string op = c.op;
    const CString got = op == "Mid"    ? s.Mid(c.a, c.b)
                        : op == "Mid1" ? s.Mid(c.a)
                        : op == "Left" ? s.Left(c.a)
                                       : s.Right(c.a);
    EXPECT_EQ(got, c.expected);
  }
  EXPECT_EQ(CString().Mid(0, 5), "");
}

TEST(CString, Search) {
  const CString s("a,b;c,d");
  EXPECT_EQ(s.Find(','), 1);
  EXPECT_EQ(s.Find(',', 2), 5);
  EXPECT_EQ(s.Find(',', 6), -1);
  EXPECT_EQ(s.Find(',', -1), -1);
  EXPECT_EQ(s.Find("c,"), 4);
  EXPECT_EQ(s.Find("c,", 5), -1);
  EXPECT_EQ(s.Find(""), 0);
  EXPECT_EQ(s.Find("", 7), 7);
  EXPECT_EQ(s.Find("", 8), -1);
  EXPECT_EQ(s.ReverseFind(','), 5);
  EXPECT_EQ(s.ReverseFind('x'), -1);
  EXPECT_EQ(s.FindOneOf(";d"), 3);
  EXPECT_EQ(s.FindOneOf("xyz"), -1);
  EXPECT_EQ(s.SpanIncluding("a,b"), "a,b");
  EXPECT_EQ(s.SpanExcluding(";"), "a,b");
  EXPECT_EQ(s.SpanExcluding(""), s);
  EXPECT_EQ(CString("x\0y", 3).Find('y'), 2);
  EXPECT_EQ(CString().Find('a'), -1);
  EXPECT_EQ(CString().ReverseFind('a'), -1);
}

TEST(CString, EditsAndTrimsReportCountsAndLengths) {
  struct Case {
    const char* name;
    const char* start;
    int (*edit)(CString&);
    int result;
    const char* expected;
  };
  const Case cases[] = {
      {"replace char", "a.b.c", [](CString& s) { return s.Replace('.', '/'); }, 2, "a/b/c"},
      {"replace same char", "a.b", [](CString& s) { return s.Replace('.', '.'); }, 0, "a.b"},
      {"replace text", "aaa", [](CString& s) { return s.Replace("aa", "b"); }, 1, "ba"},
      {"replace grows", "x-x", [](CString& s) { return s.Replace("x", "xyz"); }, 2, "xyz-xyz"},
      {"replace to nothing", "a--b", [](CString& s) { return s.Replace("-", nullptr); }, 2, "ab"},
      {"replace empty", "abc", [](CString& s) { return s.Replace("", "x"); }, 0, "abc"},
      {"remove", "banana", [](CString& s) { return s.Remove('a'); }, 3, "bnn"},
      {"insert char", "ac", [](CString& s) { return s.Insert(1, 'b'); }, 3, "abc"},
      {"insert past end", "ab", [](CString& s) { return s.Insert(99, "cd"); }, 4, "abcd"},
      {"insert before start", "cd", [](CString& s) { return s.Insert(-3, "ab"); }, 4, "abcd"},
      {"delete", "abcdef", [](CString& s) { return s.Delete(1, 2); }, 4, "adef"},
      {"delete past end", "abc", [](CString& s) { return s.Delete(1, 99); }, 1, "a"},
      {"delete beyond", "abc", [](CString& s) { return s.Delete(5, 1); }, 3, "abc"},
      {"delete negative", "abc", [](CString& s) { return s.Delete(-2, 1); }, 2, "bc"},
      {"delete none", "abc", [](CString& s) { return s.Delete(0, -1); }, 3, "abc"},
      // Trims: the result is the length left.
      {"trim", " \t a b \r\n", [](CString& s) { return s.Trim().GetLength(); }, 3, "a b"},
      {"trim left", "  ab  ", [](CString& s) { return s.TrimLeft().GetLength(); }, 4, "ab  "},
      {"trim right", "  ab  ", [](CString& s) { return s.TrimRight().GetLength(); }, 4, "  ab"},
      {"trim char", "xxabxx", [](CString& s) { return s.Trim('x').GetLength(); }, 2, "ab"},
      {"trim set", "-=ab=-", [](CString& s) { return s.Trim("=-").GetLength(); }, 2, "ab"},
      {"trim left set", "-=ab=-", [](CString& s) { return s.TrimLeft("-").GetLength(); }, 5,
       "=ab=-"},
      {"trim all", "    ", [](CString& s) { return s.Trim().GetLength(); }, 0, ""},
      {"trim empty set", "ab", [](CString& s) { return s.Trim("").GetLength(); }, 2, "ab"},
      {"trim empty", "", [](CString& s) { return s.Trim().GetLength(); }, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CString s(c.start);
    EXPECT_EQ(c.edit(s), c.result);
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
      {"", ",", {}},
      {"one", ",", {"one"}},
      // No delimiters: the rest is one token, and the loop still ends.
      {"a b", "", {"a b"}},
      {"a b", nullptr, {"a b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const CString s(c.text);
    std::vector<std::string> tokens;
    int position = 0;
    for (int guard = 0; guard < 10; ++guard) {
      CString token = s.Tokenize(c.delimiters, position);
      if (position == -1) break;
      tokens.push_back(Bytes(token));
    }
    EXPECT_EQ(position, -1);
    EXPECT_EQ(tokens, c.tokens);
  }
  int position = -1;
  EXPECT_EQ(Thrown([&] { CString("a").Tokenize(",", position); }), "CInvalidArgException");
}

TEST(CString, FormatUsesPrintfAndMayReadItself) {
  CString s;
  s.Format("%d|%5.2f|%s|%c|%ld (0x%.8lx)", 42, 3.14159, "txt", 'z', -1L, 0xFFFFFFFFL);
  EXPECT_EQ(s, "42| 3.14|txt|z|-1 (0xffffffff)");
  s = "ab";
  s.Format("%s-%s", s.GetString(), s.GetString());
  EXPECT_EQ(s, "ab-ab");
  s.AppendFormat("+%s", s.GetString());
  EXPECT_EQ(s, "ab-ab+ab-ab");
  s.Format("%s", "");
  EXPECT_TRUE(s.IsEmpty());
  std::string long_text(5000, 'q');
  s.Format("<%s>", long_text.c_str());
  EXPECT_EQ(s.GetLength(), 5002);
  EXPECT_EQ(Thrown([&] { s.Format(nullptr); }), "CInvalidArgException");
}

TEST(CString, AliasedArgumentsAreSafe) {
  CString s("abcdef");
  s += s;
  EXPECT_EQ(s, "abcdefabcdef");
  s = s.GetString() + 6;
  EXPECT_EQ(s, "abcdef");
  s.Insert(3, s.GetString());
  EXPECT_EQ(s, "abcabcdefdef");
  s.Append(s.GetString() + 9, 3);
  EXPECT_EQ(s, "abcabcdefdefdef");
  s.Replace(s.Left(3).GetString(), s.Mid(6, 3).GetString());
  EXPECT_EQ(s, "defdefdefdefdef");
  CString& same = s;
  s = same;
  EXPECT_EQ(s, "defdefdefdefdef");
}

TEST(CString, Buffers) {
  CString s("old contents");
  char* buffer = s.GetBuffer(20);
  std::strcpy(buffer, "xyz");
  s.ReleaseBuffer();
  EXPECT_EQ(s, "xyz");

  std::memcpy(s.GetBuffer(10), "0123456789", 10);
  s.ReleaseBuffer(4);
  EXPECT_EQ(s, "0123");

  // A buffer filled to the last byte without a NUL: the length stops at the
  // end of the buffer.
  buffer = s.GetBuffer(8);
  const int capacity = s.GetAllocLength();
  std::memset(buffer, 'z', static_cast<size_t>(capacity));
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), capacity);

  CString grown("ab");
  char* p = grown.GetBufferSetLength(5);
  EXPECT_EQ(std::string(p, 6), std::string("ab\0\0\0\0", 6));
  EXPECT_EQ(grown.GetLength(), 5);
  grown.ReleaseBufferSetLength(1);
  EXPECT_EQ(grown, "a");
  grown.FreeExtra();
  EXPECT_EQ(grown, "a");

  CString empty;
  empty.ReleaseBuffer();
  EXPECT_TRUE(empty.IsEmpty());
  *empty.GetBuffer(0) = '\0';  // writable even when empty
  empty.ReleaseBuffer();
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(CString, BadArgumentsThrowFrameworkExceptions) {
  CString s("abc");
  EXPECT_EQ(Thrown([&] { s.GetBuffer(-1); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { s.GetBuffer(INT_MAX); }), "CMemoryException");
  EXPECT_EQ(Thrown([&] { s.Preallocate(CString::kMaxLength + 1); }), "CMemoryException");
  EXPECT_EQ(Thrown([&] { s.ReleaseBuffer(1000); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { s.GetAt(4); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { s.GetAt(-1); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { s.SetAt(3, 'x'); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { CString("x", -1); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { CString(static_cast<LPCSTR>(nullptr), 2); }), "CInvalidArgException");
  EXPECT_EQ(Thrown([&] { s.Truncate(4); }), "CInvalidArgException");
  EXPECT_EQ(s.GetAt(3), '\0');  // the terminator may be read
  EXPECT_EQ(s[1], 'b');
  s.SetAt(0, 'X');
  EXPECT_EQ(s, "Xbc");
  // The memory exception is preallocated: deleting it twice is harmless.
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Thrown([&] { s.GetBuffer(INT_MAX); }), "CMemoryException");
  EXPECT_EQ(s, "Xbc");
}

TEST(CString, MultiByteCharactersStayWhole) {
  {
    // Case changes touch ASCII letters only.
    ScopedCodePage page(1252);
    CString s("Ab\xE9\xC9z");
    EXPECT_EQ(Bytes(s.MakeUpper()), "AB\xE9\xC9Z");
    EXPECT_EQ(Bytes(s.MakeLower()), "ab\xE9\xC9z");
  }
  {
    ScopedCodePage page(932);
    // 0x83 0x61 is one katakana: its trail byte is not an 'a'.
    EXPECT_EQ(Bytes(CString("a\x83\x61").MakeUpper()), "A\x83\x61");
    // 0x95 0x5C is one character whose trail byte is a backslash.
    const CString path("C:\\\x95\x5C\\x");
    EXPECT_EQ(path.Find('\\'), 2);
    EXPECT_EQ(path.Find('\\', 3), 5);
    EXPECT_EQ(path.ReverseFind('\\'), 5);
    EXPECT_EQ(path.Find("\\x"), 5);
    EXPECT_EQ(CString("\x95\x5C").Find("\\"), -1);
    CString edited(path);
    EXPECT_EQ(edited.Replace('\\', '/'), 2);
    EXPECT_EQ(Bytes(edited), "C:/\x95\x5C/x");
    EXPECT_EQ(edited.Remove('/'), 2);
    EXPECT_EQ(Bytes(edited), "C:\x95\x5Cx");
    CString trimmed("\x95\x5C\\");
    EXPECT_EQ(Bytes(trimmed.TrimRight('\\')), "\x95\x5C");
    EXPECT_EQ(Bytes(CString("ab\x95\x5C").MakeReverse()), "\x95\x5C" "ba");
    int position = 0;
    EXPECT_EQ(Bytes(CString("\x95\x5C\\b").Tokenize("\\", position)), "\x95\x5C");
  }
  ScopedCodePage page(65001);
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
      {65001, "b", "A", 1},
      {1252, "\xC9t\xC9", "\xE9T\xE9", 0},
      {932, "\x83\x41", "\x83\x61", 0 - 1},  // distinct katakana, not a case pair
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    ScopedCodePage page(c.cp);
    const int order = CString(c.a).CompareNoCase(c.b);
    EXPECT_EQ((order > 0) - (order < 0), c.sign);
  }
}

TEST(CString, ConvertsToAndFromUtf16ThroughTheCodePage) {
  {
    ScopedCodePage page(1252);
    BSTR b = CString("caf\xE9").AllocSysString();
    EXPECT_EQ(std::u16string(b, SysStringLen(b)), u"caf\u00E9");
    EXPECT_EQ(Bytes(CString(b)), "caf\xE9");
    SysFreeString(b);
    EXPECT_EQ(Bytes(CString(u"\u3042")), "?");
  }
  {
    ScopedCodePage page(65001);
    BSTR b = CString("caf\xC3\xA9").AllocSysString();
    EXPECT_EQ(SysStringLen(b), 4u);  // five bytes, four characters
    CString back;
    back = b;
    EXPECT_EQ(Bytes(back), "caf\xC3\xA9");
    EXPECT_EQ(CString("x\0y", 3).SetSysString(&b), b);  // the old string is freed
    EXPECT_EQ(std::u16string(b, SysStringLen(b)), std::u16string(u"x\0y", 3));
    SysFreeString(b);
    BSTR empty = CString().AllocSysString();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);
  }
}

TEST(CString, Concatenation) {
  const CString a("ab");
  EXPECT_EQ(a + "cd", "abcd");
  EXPECT_EQ("x" + a, "xab");
  EXPECT_EQ(a + 'c', "abc");
  EXPECT_EQ('c' + a, "cab");
  EXPECT_EQ(a + a, "abab");
  CString s(a);
  CString moved(std::move(s));
  EXPECT_EQ(moved, "ab");
  s = "reused";  // a moved-from string is usable
  EXPECT_EQ(s, "reused");
}

}  // namespace
