// libFuzzer target: retiming between arbitrary frame rates.
//
// Input layout: four 16-bit little-endian numbers, the two rates as fractions (from: frames,
// seconds; to: frames, seconds; a zero becomes 1), then a 32-bit time in milliseconds.
#include "chaptertime.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what, qint64 inputMs)
{
    std::fprintf(stderr, "fuzzretime: %s for %lld ms\n", what, static_cast<long long>(inputMs));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 12)
        return 0;
    const auto number = [data](int i) { return qint64(data[i] | (data[i + 1] << 8)); };
    const auto term = [&](int i) { return std::max<qint64>(1, number(i)); };
    const Tessaline::Retiming retiming {{term(0), term(2)}, {term(4), term(6)}};
    const qint64 inputMs = number(8) | (number(10) << 16);
    const std::optional<qint64> result = Tessaline::retimedMilliseconds({inputMs / 1000, inputMs % 1000}, retiming);

    // The start, at the second rate, of the frame nearest to the time at the first rate (a time
    // half-way between two frames may go to either), to the nearest millisecond.
    const double frames
        = double(inputMs) * double(retiming.from.numerator) / (1000.0 * double(retiming.from.denominator));
    const auto startMs = [&](double frame) {
        return frame * double(retiming.to.denominator) * 1000.0 / double(retiming.to.numerator);
    };
    if (!result) {
        if (startMs(std::floor(frames)) < 0.999e15) // only past about 30,000 years
            fail("no result", inputMs);
        return 0;
    }
    bool near = false;
    for (const double frame : {std::floor(frames), std::ceil(frames)}) {
        near = near
            || (std::abs(frames - frame) <= 0.5 + 1e-9 * frames
                && std::abs(double(*result) - startMs(frame)) <= 1.0 + 1e-9 * startMs(frame));
    }
    if (!near)
        fail("a result more than a millisecond from its frame's start", inputMs);
    return 0;
}
