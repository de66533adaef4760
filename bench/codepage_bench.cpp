// Code-page conversion of short texts, the size of the names and values that
// registry lookups, automation strings and trace records convert.
//
// The project converts 16 bytes of CP_ACP text (OPOS_CODEPAGE set to the code
// page) to UTF-16 and back with MultiByteToWideChar and WideCharToMultiByte;
// its anchor converts the same bytes both ways with ICU's ucnv_toUChars and
// ucnv_fromUChars on a converter opened once. Each of the project's calls
// also reads OPOS_CODEPAGE, as every CP_ACP conversion does. The texts hold
// non-ASCII characters, so neither side takes a shortcut for plain ASCII. One
// ratio per code page; the line without a suffix is the worst of the three in
// each run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <unicode/ucnv.h>

#include <opossvc/testing/scoped_code_page.h>
#include <opossvc/win32/codepage.h>

#include "bench/report.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 9;  // paired repetitions per code page
constexpr int kConversions = 200000;  // round trips per side and run
constexpr int kWarmUp = 20000;

struct Text {
  const char* suffix;
  UINT codepage;
  const char* icu_name;  // the converter the project opens for the page
  const char* bytes;     // 16 bytes
};

const Text kTexts[] = {
    {"1252", 1252, "windows-1252", "Caf\xE9 M\xFCller \x80 12"},
    {"932", 932, "windows-932", "\x83\x76\x83\x8A\x83\x93\x83\x5E POS 001"},
    {"utf8", 65001, "UTF-8", "Stra\xC3\x9F" "e \xE2\x82\xAC 12,5"},
};
constexpr int kTextBytes = 16;

// Units and bytes of the last round trip, so that no side's work is dead.
volatile int g_sink = 0;

int ProjectRoundTrip(const char* bytes) {
  WCHAR wide[32];
  char back[32];
  const int units = MultiByteToWideChar(CP_ACP, 0, bytes, kTextBytes, wide, 32);
  return WideCharToMultiByte(CP_ACP, 0, wide, units, back, 32, nullptr, nullptr) + back[0];
}

int AnchorRoundTrip(UConverter* converter, const char* bytes) {
  UChar wide[32];
  char back[32];
  UErrorCode err = U_ZERO_ERROR;
  const int32_t units = ucnv_toUChars(converter, wide, 32, bytes, kTextBytes, &err);
  const int32_t length = ucnv_fromUChars(converter, back, 32, wide, units, &err);
  return U_SUCCESS(err) ? length + back[0] : -1;
}

// Seconds for `count` round trips.
template <class RoundTrip>
double Time(int count, RoundTrip&& round_trip) {
  const Clock::time_point start = Clock::now();
  int sink = 0;
  for (int i = 0; i < count; ++i) sink += round_trip();
  g_sink = sink;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// True when both sides give the same UTF-16 text and the same bytes back.
bool SameResults(UConverter* converter, const char* bytes) {
  WCHAR ours[32];
  UChar theirs[32];
  char back[32];
  UErrorCode err = U_ZERO_ERROR;
  const int n = MultiByteToWideChar(CP_ACP, 0, bytes, kTextBytes, ours, 32);
  const int32_t m = ucnv_toUChars(converter, theirs, 32, bytes, kTextBytes, &err);
  return U_SUCCESS(err) && n == m && std::memcmp(ours, theirs, sizeof(UChar) * n) == 0 &&
         WideCharToMultiByte(CP_ACP, 0, ours, n, back, 32, nullptr, nullptr) == kTextBytes &&
         std::memcmp(back, bytes, kTextBytes) == 0;
}

}  // namespace

int main() {
  std::vector<double> worst(kRuns, std::numeric_limits<double>::infinity());
  for (const Text& text : kTexts) {
    opossvc::testing::ScopedCodePage page(text.codepage);
    UErrorCode err = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(text.icu_name, &err);
    if (U_FAILURE(err)) {
      std::fprintf(stderr, "ucnv_open(%s): %s\n", text.icu_name, u_errorName(err));
      return 1;
    }
    if (!SameResults(converter, text.bytes)) {
      std::fprintf(stderr, "%s: the two sides convert differently\n", text.suffix);
      return 1;
    }
    auto project = [&] { return Time(kConversions, [&] { return ProjectRoundTrip(text.bytes); }); };
    auto anchor = [&] {
      return Time(kConversions, [&] { return AnchorRoundTrip(converter, text.bytes); });
    };
    Time(kWarmUp, [&] { return ProjectRoundTrip(text.bytes); });
    Time(kWarmUp, [&] { return AnchorRoundTrip(converter, text.bytes); });

    std::vector<double> ratios, ours_ns, theirs_ns;
    for (int run = 0; run < kRuns; ++run) {
      const auto [ours, theirs] = opossvc::bench::RunPaired(run, project, anchor);
      ratios.push_back(theirs / ours);
      ours_ns.push_back(ours / kConversions * 1e9);
      theirs_ns.push_back(theirs / kConversions * 1e9);
      worst[run] = std::min(worst[run], ratios.back());
    }
    ucnv_close(converter);
    const std::string name = std::string("codepage_16b_") + text.suffix;
    opossvc::bench::PrintRatio(name, ratios);
    opossvc::bench::PrintFigure(name + "_ns", opossvc::bench::Median(ours_ns), "ns");
    opossvc::bench::PrintFigure(name + "_anchor_ns", opossvc::bench::Median(theirs_ns), "ns");
  }
  opossvc::bench::PrintRatio("codepage_16b", worst);
  return 0;
}
