// libFuzzer target: retiming between arbitrary frame rates, exact but for 30 to 29.97 fps.
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

// The start, at the second rate, of the frame nearest to the time at the first rate (a time
// half-way between two frames may go to either), to the nearest millisecond.
void checkNearFrameStart(std::optional<qint64> result, qint64 inputMs, const Tessaline::Retiming &retiming)
{
    const double frames
        = double(inputMs) * double(retiming.from.numerator) / (1000.0 * double(retiming.from.denominator));
    const auto startMs = [&](double frame) {
        return frame * double(retiming.to.denominator) * 1000.0 / double(retiming.to.numerator);
    };
    if (!result) {
        if (startMs(std::floor(frames)) < 0.999e15) // only past about 30,000 years
            fail("no result", inputMs);
        return;
    }
    bool near = false;
    for (const double frame : {std::floor(frames), std::ceil(frames)}) {
        near = near
            || (std::abs(frames - frame) <= 0.5 + 1e-9 * frames
                && std::abs(double(*result) - startMs(frame)) <= 1.0 + 1e-9 * startMs(frame));
    }
    if (!near)
        fail("a result more than a millisecond from its frame's start", inputMs);
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

    if (retiming.from.numerator == 30 * retiming.from.denominator
        && retiming.to.numerator * 1001 == 30000 * retiming.to.denominator) {
        checkNearFrameStart(result, inputMs, retiming);
        return 0;
    }
    // Other rates are exact. The frame: twice the distance from its time to the input's is at
    // most a frame (times 2000q), and a tie goes to the even frame; the same for the millisecond.
    using Wide = __int128;
    const auto nearest = [](Wide numerator, Wide denominator) {
        Wide value = (2 * numerator + denominator) / (2 * denominator); // halves up
        if ((2 * numerator + denominator) % (2 * denominator) == 0 && value % 2 != 0)
            --value;
        return value;
    };
    const Wide frame = nearest(Wide(inputMs) * retiming.from.numerator, Wide(retiming.from.denominator) * 1000);
    const Wide startMs = nearest(frame * retiming.to.denominator * 1000, retiming.to.numerator);
    if (startMs > Wide(1'000'000'000'000'000) ? result.has_value() : result != qint64(startMs))
        fail("a result other than its frame's start", inputMs);
    return 0;
}
