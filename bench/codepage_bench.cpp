// Costs of the text conversions that run on every registry lookup and every
// automation string: case-folded keys, ANSI <-> UTF-16, variant conversion.
#include <benchmark/benchmark.h>

#include <string>

#include <opossvc/afx/cstring.h>
#include <opossvc/testing/scoped_code_page.h>
#include <opossvc/win32/codepage.h>
#include <opossvc/win32/oleauto.h>

#include "platform/posix/text/ansi_codepage.h"

namespace {

void BM_FoldCaseKeyAscii(benchmark::State& state) {
  const std::string name = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";
  for (auto _ : state) benchmark::DoNotOptimize(opossvc::detail::FoldCaseKey(name));
}
BENCHMARK(BM_FoldCaseKeyAscii);

void BM_FoldCaseKeyUtf8(benchmark::State& state) {
  const std::string name = "Drucker Stra\xC3\x9F" "e \xC3\x84rger";
  for (auto _ : state) benchmark::DoNotOptimize(opossvc::detail::FoldCaseKey(name));
}
BENCHMARK(BM_FoldCaseKeyUtf8);

void BM_FoldCaseKeyShiftJis(benchmark::State& state) {
  opossvc::testing::ScopedCodePage page(932);
  const std::string name = "\x83\x76\x83\x8A\x83\x93\x83\x5E POS";
  for (auto _ : state) benchmark::DoNotOptimize(opossvc::detail::FoldCaseKey(name));
}
BENCHMARK(BM_FoldCaseKeyShiftJis);

void BM_MultiByteToWideChar(benchmark::State& state) {
  const std::string text(static_cast<size_t>(state.range(0)), 'x');
  std::u16string out(text.size(), u'\0');
  for (auto _ : state) {
    benchmark::DoNotOptimize(MultiByteToWideChar(CP_ACP, 0, text.data(),
                                                 static_cast<int>(text.size()), out.data(),
                                                 static_cast<int>(out.size())));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MultiByteToWideChar)->Arg(16)->Arg(4096);

void BM_AllocSysString(benchmark::State& state) {
  const CString text("Service object status text");
  for (auto _ : state) {
    BSTR b = text.AllocSysString();
    benchmark::DoNotOptimize(b);
    SysFreeString(b);
  }
}
BENCHMARK(BM_AllocSysString);

void BM_VariantTextToI4(benchmark::State& state) {
  VARIANT text, number;
  VariantInit(&text);
  VariantInit(&number);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"-960726");
  for (auto _ : state) {
    benchmark::DoNotOptimize(VariantChangeType(&number, &text, 0, VT_I4));
  }
  VariantClear(&text);
}
BENCHMARK(BM_VariantTextToI4);

}  // namespace

BENCHMARK_MAIN();
