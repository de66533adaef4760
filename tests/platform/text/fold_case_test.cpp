#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/testing/scoped_code_page.h>

#include "platform/posix/text/ansi_codepage.h"

namespace {

using opossvc::detail::FoldCaseKey;
using opossvc::testing::ScopedCodePage;

TEST(FoldCaseKey, MatchesNamesThatDifferOnlyInCase) {
  struct Case {
    unsigned cp;
    std::string a;
    std::string b;
    bool same;
  };
  // Case pairs of ordinary letters are checked through CString's
  // CompareNoCase; these are the pitfalls of the key alone.
  const Case cases[] = {
      {65001, "OLEforRetail", "OLEFORRETAIL", true},
      {1252, "\xC4", "A", false},           // no accent stripping
      {932, "\x82\x60", "\x82\x81", true},  // full-width A and a
      // A trail byte that looks like an ASCII letter is no letter: these are
      // two different katakana, not "A" and "a" behind the same lead byte.
      {932, "\x83\x41", "\x83\x61", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.cp) + ": " + c.a + " / " + c.b);
    ScopedCodePage page(c.cp);
    EXPECT_EQ(FoldCaseKey(c.a) == FoldCaseKey(c.b), c.same);
  }
}

TEST(FoldCaseKey, UndecodableBytesStayDistinctAndKeysOrderByFoldedCase) {
  ScopedCodePage page(65001);
  const std::string names[] = {"\xFF", "\xFE", "a\xC3", "a\xC3\xA4", "a", "\xC3\xA4",
                               "\xFF\x41", "\xFF\x42"};
  for (const std::string& a : names) {
    for (const std::string& b : names) {
      EXPECT_EQ(FoldCaseKey(a) == FoldCaseKey(b), a == b) << a << " / " << b;
    }
  }
  // Case still folds around them, and keys order case-insensitively.
  EXPECT_EQ(FoldCaseKey("A\xFF" "B"), FoldCaseKey("a\xFF" "b"));
  EXPECT_LT(FoldCaseKey("apple"), FoldCaseKey("Banana"));
  EXPECT_LT(FoldCaseKey("Banana"), FoldCaseKey("cherry"));
  EXPECT_LT(FoldCaseKey("Key"), FoldCaseKey("key1"));
}

TEST(FoldCaseKey, ThreadsKeepConvertersOfTheirOwn) {
  ScopedCodePage page(932);
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int& count : mismatches) {
    threads.emplace_back([&count] {
      for (int i = 0; i < 2000; ++i) {
        count += FoldCaseKey("\x82\x60" "BC") != FoldCaseKey("\x82\x81" "bc");
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST(AnsiText, ConvertsThroughTheGivenCodePage) {
  using opossvc::detail::AnsiToUtf16;
  using opossvc::detail::Utf16ToAnsi;
  EXPECT_EQ(AnsiToUtf16("\xE9", 1252), u"\u00E9");
  EXPECT_EQ(AnsiToUtf16("\xE9", 65001), u"\uFFFD");
  EXPECT_EQ(Utf16ToAnsi(u"\u00E9\u3042", 1252), "\xE9?");
  EXPECT_EQ(Utf16ToAnsi(u"\u3042", 932), "\x82\xA0");
  // An unknown code page is taken as UTF-8.
  EXPECT_EQ(AnsiToUtf16("\xC3\xA9", 54321), u"\u00E9");
}

}  // namespace
