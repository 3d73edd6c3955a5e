// The text utilities on long inputs, the raw log's growth, and VX_GetLastLog
// with an empty and a 100 MB log.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "VXArvessaDiagCore.h"
#include "bench_support.h"
#include "core/raw_log.h"
#include "core/request_reader.h"
#include "core/text_utils.h"

namespace vx::bench {
namespace {

constexpr std::size_t kOneMegabyte = 1 << 20;

// "80 10 F1 02 31 01 B5 ..." to 1 MB: the parse reads every pair, though only
// texts of 1 to 128 bytes succeed.
std::string hex_input(std::size_t size) {
    std::string text;
    text.reserve(size + 3);
    for (unsigned i = 0; text.size() < size; ++i) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        text.push_back(kHex[(i * 7) & 0xF]);
        text.push_back(kHex[(i * 3) & 0xF]);
        text.push_back(' ');
    }
    text.resize(size);
    return text;
}

// Host text such as a device's last-error text or a registered path: mostly
// plain, with a quote, a backslash or a control byte now and then.
std::string escape_input(std::size_t size, unsigned every) {
    std::string text;
    text.reserve(size);
    static constexpr char kSpecial[] = {'"', '\\', '\n', '\t', '\x01'};
    for (std::size_t i = 0; i < size; ++i) {
        if (every != 0 && i % every == every - 1) {
            text.push_back(kSpecial[(i / every) % sizeof kSpecial]);
        } else {
            text.push_back(static_cast<char>('a' + i % 26));
        }
    }
    return text;
}

void bm_parse_hex_text(benchmark::State& state) {
    const std::string text = hex_input(static_cast<std::size_t>(state.range(0)));
    Bytes out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(parse_hex_text(text, out));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(bm_parse_hex_text)->RangeMultiplier(16)->Range(1 << 12, kOneMegabyte);

// range(1): one byte in that many needs an escape; 0 = none.
void bm_json_escaped(benchmark::State& state) {
    const std::string text =
        escape_input(static_cast<std::size_t>(state.range(0)), static_cast<unsigned>(state.range(1)));
    for (auto _ : state) {
        const std::string out = json_escaped_text(text);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(bm_json_escaped)->ArgsProduct({{1 << 12, 1 << 16, kOneMegabyte}, {0, 64}});

// A request whose field value is 1 MB long, read as text (with an escape every
// 64 bytes), as a number (a long run of digits) and as a flag.
std::string long_request(std::size_t size, char fill) {
    std::string value;
    value.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        value.push_back(fill == 'a' && i % 64 == 63 ? '\\' : (fill == 'a' ? static_cast<char>('a' + i % 26) : fill));
    }
    // Keep an escape from swallowing the closing quote.
    if (!value.empty() && value.back() == '\\') value.back() = 'x';
    return R"({"type":"actuator","name":"Fan","mode":"verified","field":")" + value +
           R"(","startHex":"80 10 F1 02 31 01 B5"})";
}

// One key searched for in a long request, then its value: the long value
// itself, or the key after it (the search alone).
void bm_request_text(benchmark::State& state, const char* key) {
    const std::string request = long_request(static_cast<std::size_t>(state.range(0)), 'a');
    for (auto _ : state) {
        std::string value = RequestFields(request.c_str()).text(key);
        benchmark::DoNotOptimize(value.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(request.size()));
}
BENCHMARK_CAPTURE(bm_request_text, long_value, "field")->RangeMultiplier(16)->Range(1 << 12, kOneMegabyte);
BENCHMARK_CAPTURE(bm_request_text, key_after_it, "startHex")->RangeMultiplier(16)->Range(1 << 12, kOneMegabyte);

void bm_request_int(benchmark::State& state) {
    std::string request = long_request(static_cast<std::size_t>(state.range(0)), '7');
    for (auto _ : state) benchmark::DoNotOptimize(RequestFields(request.c_str()).integer("field", 0));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(request.size()));
}
BENCHMARK(bm_request_int)->RangeMultiplier(16)->Range(1 << 12, kOneMegabyte);

void bm_request_flag(benchmark::State& state) {
    std::string request = long_request(static_cast<std::size_t>(state.range(0)), 'Y');
    for (auto _ : state) benchmark::DoNotOptimize(RequestFields(request.c_str()).flag("field"));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(request.size()));
}
BENCHMARK(bm_request_flag)->RangeMultiplier(16)->Range(1 << 12, kOneMegabyte);

// A whole command export on a 1 MB request (simulation on, so no device):
// each of its fields is searched for on its own.
void bm_run_safe_function_long_request(benchmark::State& state) {
    const std::string request = long_request(static_cast<std::size_t>(state.range(0)), 'a');
    VX_CloseJ2534(nullptr, 0);  // simulation on
    for (auto _ : state) {
        benchmark::DoNotOptimize(VX_RunSafeFunction(request.c_str(), g_result, kResultSize));
        clear_log_for_tests();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(request.size()));
}
BENCHMARK(bm_run_safe_function_long_request)->Arg(kOneMegabyte);

// ---- The raw log ----

// Time per line while the log grows from empty to range(0) lines.
void bm_log_append(benchmark::State& state) {
    const std::int64_t lines = state.range(0);
    for (auto _ : state) {
        state.PauseTiming();
        clear_log_for_tests();
        state.ResumeTiming();
        for (std::int64_t i = 0; i < lines; ++i) {
            log_line(" BUILD322 backend-forward attempt kind=function-fallback context=actuator:Fan");
        }
    }
    state.SetItemsProcessed(state.iterations() * lines);
    // Seconds per line (printed with an SI prefix, e.g. 95n).
    state.counters["per_line"] = benchmark::Counter(
        static_cast<double>(state.iterations() * lines), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    clear_log_for_tests();
}
BENCHMARK(bm_log_append)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);

// VX_GetLastLog into a 64-byte buffer: only the head is copied, so the log's
// size must not matter. range(0) = log megabytes.
void bm_get_last_log(benchmark::State& state) {
    clear_log_for_tests();
    const std::string chunk(1 << 20, 'x');
    for (std::int64_t i = 0; i < state.range(0); ++i) log_line(chunk);
    char small[64];
    for (auto _ : state) benchmark::DoNotOptimize(VX_GetLastLog(small, static_cast<int>(sizeof small)));
    state.counters["log_MB"] = static_cast<double>(VX_GetLastLog(nullptr, 0)) / (1 << 20);
    clear_log_for_tests();
}
BENCHMARK(bm_get_last_log)->Arg(0)->Arg(100);

}  // namespace
}  // namespace vx::bench
