#include "picture/resampler.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>

#include "picture/bgra.h"

namespace {

float triangle(float x) {
    float a = std::fabs(x);
    return a < 1.0f ? 1.0f - a : 0.0f;
}

// The column pass works on blocks of BLOCK samples held in registers across all its taps, so
// each source sample is read once per tap and each float written once.
constexpr size_t BLOCK = 32;

size_t round_up(size_t n, size_t to) {
    return (n + to - 1) / to * to;
}

#if defined(__x86_64__)
bool cpu_has_avx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#else
bool cpu_has_avx2() {
    return false;
}
#endif

// Gives every window the same number of weights: the row pass then runs a fixed count of taps
// and never mispredicts its loop. Extra zero weights add +0 to a non-negative sum: no bit
// changes.
void pad_taps(AxisTaps& taps) {
    const uint32_t stride = taps.max_count;
    std::vector<float> padded(taps.first.size() * stride, 0.0f);
    for (size_t i = 0; i < taps.first.size(); ++i) {
        std::copy_n(taps.weights.begin() + taps.offset[i], taps.count[i],
                    padded.begin() + static_cast<ptrdiff_t>(i * stride));
        taps.offset[i] = static_cast<uint32_t>(i * stride);
    }
    taps.weights = std::move(padded);
}

template <typename T>
SampleRows<T>& rows_of(Resampler& rs) {
    if constexpr (sizeof(T) == 2) {
        return rs.wide_rows;
    } else {
        return rs.narrow_rows;
    }
}

// Starting from the first product instead of 0 + product is exact: every product is a
// non-negative finite float.
template <typename T>
void column_pass_plain(float* __restrict out, const T* const* rows, const float* weights,
                       uint32_t count, size_t samples) {
    const T* __restrict first = rows[0];
    const float w0 = weights[0];
    for (size_t i = 0; i < samples; ++i) {
        out[i] = static_cast<float>(first[i]) * w0;
    }
    for (uint32_t t = 1; t < count; ++t) {
        const T* __restrict row = rows[t];
        const float w = weights[t];
        for (size_t i = 0; i < samples; ++i) {
            out[i] += static_cast<float>(row[i]) * w;
        }
    }
}

#if defined(__x86_64__)

__attribute__((target("avx2"))) inline __m256 load8(const uint8_t* p) {
    return _mm256_cvtepi32_ps(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}

__attribute__((target("avx2"))) inline __m256 load8(const uint16_t* p) {
    return _mm256_cvtepi32_ps(
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}

// The same sums block by block, kept in registers across the taps. Wider vectors give the same
// bits: each lane is the same IEEE multiply and add, never fused.
template <typename T>
__attribute__((target("avx2"))) void column_pass_avx2(float* out, const T* const* rows,
                                                      const float* weights, uint32_t count,
                                                      size_t samples) {
    static_assert(BLOCK == 32);
    for (size_t e = 0; e < samples; e += BLOCK) {
        const T* row = rows[0] + e;
        __m256 w = _mm256_set1_ps(weights[0]);
        __m256 a0 = _mm256_mul_ps(load8(row), w);
        __m256 a1 = _mm256_mul_ps(load8(row + 8), w);
        __m256 a2 = _mm256_mul_ps(load8(row + 16), w);
        __m256 a3 = _mm256_mul_ps(load8(row + 24), w);
        for (uint32_t t = 1; t < count; ++t) {
            row = rows[t] + e;
            w = _mm256_set1_ps(weights[t]);
            a0 = _mm256_add_ps(a0, _mm256_mul_ps(load8(row), w));
            a1 = _mm256_add_ps(a1, _mm256_mul_ps(load8(row + 8), w));
            a2 = _mm256_add_ps(a2, _mm256_mul_ps(load8(row + 16), w));
            a3 = _mm256_add_ps(a3, _mm256_mul_ps(load8(row + 24), w));
        }
        _mm256_storeu_ps(out + e, a0);
        _mm256_storeu_ps(out + e + 8, a1);
        _mm256_storeu_ps(out + e + 16, a2);
        _mm256_storeu_ps(out + e + 24, a3);
    }
}

#else

template <typename T>
void column_pass_avx2(float* out, const T* const* rows, const float* weights, uint32_t count,
                      size_t samples) {
    column_pass_plain(out, rows, weights, count, samples);
}

#endif

template <typename T>
void vertical_pass(Resampler& rs, SampleRows<T>& s, uint32_t out_row) {
    const uint32_t first = rs.rows.first[out_row];
    const uint32_t count = rs.rows.count[out_row];
    const size_t column_offset = size_t{rs.cols.source_begin - rs.kept_begin} * rs.channels;
    for (uint32_t t = 0; t < count; ++t) {
        s.tap_rows[t] =
            s.ring.data() + rs.row_stride * ((first + t) % rs.ring_rows) + column_offset;
    }
    const float* weights = rs.rows.weights.data() + rs.rows.offset[out_row];
    if (rs.avx2) {
        column_pass_avx2(rs.middle.data(), s.tap_rows.data(), weights, count, rs.middle_samples);
    } else {
        column_pass_plain(rs.middle.data(), s.tap_rows.data(), weights, count, rs.middle_samples);
    }
}

template <typename T>
T round_sample(float value) {
    constexpr float max_value = sizeof(T) == 1 ? 255.0f : 65535.0f;
    float v = value < 0.0f ? 0.0f : (value > max_value ? max_value : value);
    // Half away from zero, like roundf; v - whole is exact for these magnitudes.
    auto whole = static_cast<uint32_t>(v);
    float fraction = v - static_cast<float>(whole);
    return static_cast<T>(whole + (fraction >= 0.5f ? 1u : 0u));
}

// Grey and grey + alpha: plain loops.
template <typename T, uint32_t C>
void horizontal_pass_narrow(const Resampler& rs, T* out) {
    const float* middle = rs.middle.data();
    const uint32_t base = rs.cols.source_begin;
    const size_t width = rs.cols.first.size();
    const uint32_t taps = rs.cols.max_count;
    for (size_t x = 0; x < width; ++x) {
        const float* source = middle + size_t{rs.cols.first[x] - base} * C;
        const float* weights = rs.cols.weights.data() + size_t{taps} * x;
        float sum[C] = {};
        for (uint32_t t = 0; t < taps; ++t) {
            const float w = weights[t];
            for (uint32_t c = 0; c < C; ++c) {
                sum[c] += source[t * C + c] * w;
            }
        }
        for (uint32_t c = 0; c < C; ++c) {
            out[x * C + c] = round_sample<T>(sum[c]);
        }
    }
}

typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));

// Colour: one pixel is one four-lane vector; for RGB the fourth lane carries the next pixel's
// red along and is dropped.
template <typename T, uint32_t C>
void horizontal_pass_colour(const Resampler& rs, T* out, size_t x_begin) {
    const float* middle = rs.middle.data();
    const uint32_t base = rs.cols.source_begin;
    const size_t width = rs.cols.first.size();
    const uint32_t taps = rs.cols.max_count;
    constexpr float max_value = sizeof(T) == 1 ? 255.0f : 65535.0f;
    const Float4 zero = {0.0f, 0.0f, 0.0f, 0.0f};
    const Float4 top = {max_value, max_value, max_value, max_value};
    const Float4 half = {0.5f, 0.5f, 0.5f, 0.5f};
    for (size_t x = x_begin; x < width; ++x) {
        const float* source = middle + size_t{rs.cols.first[x] - base} * C;
        const float* weights = rs.cols.weights.data() + size_t{taps} * x;
        Float4 sum = zero;
        for (size_t t = 0; t < taps; ++t) {
            Float4 pixel;
            std::memcpy(&pixel, source + C * t, sizeof pixel);
            sum += pixel * weights[t];
        }
        Float4 v = sum < zero ? zero : sum;
        v = v > top ? top : v;
        const Int4 whole = __builtin_convertvector(v, Int4);
        const Float4 fraction = v - __builtin_convertvector(whole, Float4);
        // A true comparison is -1 in every bit of the lane.
        const Int4 rounded = whole - (fraction >= half);
        for (uint32_t c = 0; c < C; ++c) {
            out[x * C + c] = static_cast<T>(rounded[c]);
        }
    }
}

#if defined(__x86_64__)

// The same per-lane arithmetic for two output pixels in one eight-lane vector.
template <typename T, uint32_t C>
__attribute__((target("avx2"))) void horizontal_pass_colour_avx2(const Resampler& rs, T* out) {
    const float* middle = rs.middle.data();
    const uint32_t base = rs.cols.source_begin;
    const size_t width = rs.cols.first.size();
    const uint32_t taps = rs.cols.max_count;
    constexpr float max_value = sizeof(T) == 1 ? 255.0f : 65535.0f;
    const __m256 zero = _mm256_setzero_ps();
    const __m256 top = _mm256_set1_ps(max_value);
    const __m256 half = _mm256_set1_ps(0.5f);
    alignas(32) int32_t lanes[8];
    size_t x = 0;
    for (; x + 1 < width; x += 2) {
        const float* left = middle + size_t{rs.cols.first[x] - base} * C;
        const float* right = middle + size_t{rs.cols.first[x + 1] - base} * C;
        const float* weights = rs.pair_weights.data() + (x / 2) * taps * 8;
        __m256 sum = zero;
        for (size_t t = 0; t < taps; ++t) {
            const __m256 pixels =
                _mm256_set_m128(_mm_loadu_ps(right + C * t), _mm_loadu_ps(left + C * t));
            sum = _mm256_add_ps(sum, _mm256_mul_ps(pixels, _mm256_loadu_ps(weights + 8 * t)));
        }
        const __m256 v = _mm256_min_ps(_mm256_max_ps(sum, zero), top);
        const __m256i whole = _mm256_cvttps_epi32(v);
        const __m256 fraction = _mm256_sub_ps(v, _mm256_cvtepi32_ps(whole));
        const __m256i up = _mm256_castps_si256(_mm256_cmp_ps(fraction, half, _CMP_GE_OQ));
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), _mm256_sub_epi32(whole, up));
        for (uint32_t c = 0; c < C; ++c) {
            out[x * C + c] = static_cast<T>(lanes[c]);
            out[(x + 1) * C + c] = static_cast<T>(lanes[4 + c]);
        }
    }
    horizontal_pass_colour<T, C>(rs, out, x);
}

#else

template <typename T, uint32_t C>
void horizontal_pass_colour_avx2(const Resampler& rs, T* out) {
    horizontal_pass_colour<T, C>(rs, out, 0);
}

#endif

template <typename T>
void make_row(Resampler& rs, uint32_t row, const ResampledRows& out) {
    SampleRows<T>& s = rows_of<T>(rs);
    vertical_pass(rs, s, row);
    T* samples = s.output.data();
    switch (rs.channels) {
        case 1:
            horizontal_pass_narrow<T, 1>(rs, samples);
            break;
        case 2:
            horizontal_pass_narrow<T, 2>(rs, samples);
            break;
        case 3:
            rs.pair_weights.empty() ? horizontal_pass_colour<T, 3>(rs, samples, 0)
                                    : horizontal_pass_colour_avx2<T, 3>(rs, samples);
            break;
        default:
            rs.pair_weights.empty() ? horizontal_pass_colour<T, 4>(rs, samples, 0)
                                    : horizontal_pass_colour_avx2<T, 4>(rs, samples);
            break;
    }
    // Sized here, with the first row: on the resampling thread, while the decoder works.
    if (out.buffer->size() != out.bytes) {
        out.buffer->resize(out.bytes);
    }
    const size_t width = rs.cols.first.size();
    if (out.bgra) {
        bgra_row(samples, rs.channels, width, out.buffer->data() + width * 4 * row);
    } else {
        const size_t row_bytes = width * rs.channels * sizeof(T);
        std::memcpy(out.buffer->data() + row_bytes * row, samples, row_bytes);
    }
}

template <typename T>
void init_rows(Resampler& rs, size_t width) {
    SampleRows<T>& s = rows_of<T>(rs);
    s.ring.assign(rs.row_stride * rs.ring_rows, 0);
    s.tap_rows.resize(rs.ring_rows);
    s.output.resize(width * rs.channels);
}

}  // namespace

// Weights that come out zero only ever add +0 to a non-negative sum, so dropping them keeps
// every result bit for bit.
AxisTaps axis_taps(uint32_t source_length, uint32_t target_length, uint32_t region_begin,
                   uint32_t region_length) {
    AxisTaps taps;
    taps.first.reserve(region_length);
    taps.count.reserve(region_length);
    taps.offset.reserve(region_length);
    const float ratio = static_cast<float>(source_length) / static_cast<float>(target_length);
    const float support = ratio < 1.0f ? 1.0f : ratio;
    const int64_t n = source_length;
    std::vector<float> window;
    for (uint32_t k = 0; k < region_length; ++k) {
        const uint32_t i = region_begin + k;
        const float centre = (static_cast<float>(i) + 0.5f) * ratio;
        int64_t left = static_cast<int64_t>(std::floor(centre - support));
        left = std::clamp<int64_t>(left, 0, n - 1);
        int64_t right = static_cast<int64_t>(std::ceil(centre + support));
        right = std::clamp<int64_t>(right, left + 1, n);
        const float origin = centre - 0.5f;

        window.clear();
        float sum = 0.0f;
        for (int64_t j = left; j < right; ++j) {
            float w = triangle((static_cast<float>(j) - origin) / support);
            window.push_back(w);
            sum += w;
        }
        for (float& w : window) {
            w /= sum;
        }
        size_t lo = 0;
        size_t hi = window.size();
        while (lo < hi && window[lo] == 0.0f) {
            ++lo;
        }
        while (hi > lo && window[hi - 1] == 0.0f) {
            --hi;
        }
        if (lo == hi) {
            // Unreachable for a triangle of support >= 1; keep the nearest sample rather than
            // divide by nothing.
            lo = static_cast<size_t>(
                std::clamp<int64_t>(static_cast<int64_t>(std::floor(centre)), left, right - 1) -
                left);
            hi = lo + 1;
            window[lo] = 1.0f;
        }
        taps.first.push_back(static_cast<uint32_t>(left + static_cast<int64_t>(lo)));
        taps.count.push_back(static_cast<uint32_t>(hi - lo));
        taps.offset.push_back(static_cast<uint32_t>(taps.weights.size()));
        taps.weights.insert(taps.weights.end(), window.begin() + static_cast<ptrdiff_t>(lo),
                            window.begin() + static_cast<ptrdiff_t>(hi));
        taps.max_count = std::max(taps.max_count, static_cast<uint32_t>(hi - lo));
    }
    if (region_length > 0) {
        taps.source_begin = taps.first.front();
        taps.source_end = taps.first.back() + taps.count.back();
    }
    return taps;
}

uint64_t resampler_bytes(const ResampleJob& job) {
    auto ratio = [](uint32_t n, uint32_t m) {
        return static_cast<double>(n) / static_cast<double>(m);
    };
    auto taps = [](double r) { return static_cast<uint64_t>(2.0 * std::max(r, 1.0)) + 3; };
    const double column_ratio = ratio(job.source_width, job.target_width);
    const uint64_t column_taps = taps(column_ratio);
    const uint64_t row_taps = taps(ratio(job.source_height, job.target_height));
    // The columns read, and at most twice that kept (see resampler_init).
    const auto read_columns = static_cast<uint64_t>(job.width * column_ratio) + column_taps;
    const uint64_t ring_columns = std::min<uint64_t>(job.source_width, 2 * read_columns);
    // Column weights are kept three times over (plain, padded, paired); the ring holds two
    // windows of source rows with their padding, or one and the rows read ahead.
    return uint64_t{job.width} * column_taps * 4 * 6 + uint64_t{job.height} * row_taps * 4 * 2 +
           (2 * row_taps + job.read_ahead) * (ring_columns * channel_count(job.type) + 2 * BLOCK) *
               bytes_per_sample(job.type);
}

void resampler_init(Resampler& rs, const ResampleJob& job) {
    rs.channels = channel_count(job.type);
    rs.wide = bytes_per_sample(job.type) == 2;
    rs.avx2 = job.switches.wide_vectors && cpu_has_avx2();
    rs.rows = axis_taps(job.source_height, job.target_height, job.y0, job.height);
    rs.cols = axis_taps(job.source_width, job.target_width, job.x0, job.width);
    pad_taps(rs.cols);
    // A picture far wider than what survives the cut would fill the ring with columns nobody
    // reads; copying the others out costs a pass over them, worth it only when it saves much.
    rs.source_width = job.source_width;
    rs.kept_begin = 0;
    rs.kept_end = job.source_width;
    if (2 * uint64_t{rs.cols.source_end - rs.cols.source_begin} < job.source_width) {
        rs.kept_begin = rs.cols.source_begin;
        rs.kept_end = rs.cols.source_end;
    }
    // Blocks may run past the row's end into zeros; never past the ring.
    rs.row_stride = round_up(size_t{rs.kept_end - rs.kept_begin} * rs.channels, BLOCK) + BLOCK;
    rs.ring_rows = std::max<uint32_t>(rs.rows.max_count, 1);
    if (job.read_ahead > 0) {
        rs.ring_rows += std::max(rs.ring_rows, job.read_ahead);
    }
    if (rs.wide) {
        init_rows<uint16_t>(rs, job.width);
    } else {
        init_rows<uint8_t>(rs, job.width);
    }
    rs.middle_samples =
        round_up(size_t{rs.cols.source_end - rs.cols.source_begin} * rs.channels, BLOCK);
    // The padded taps and the four-lane loads of RGB pixels read a little past the end.
    rs.middle.assign(rs.middle_samples + size_t{rs.cols.max_count + 1} * rs.channels + 4, 0.0f);
    rs.pair_weights.clear();
    if (rs.channels >= 3 && rs.avx2) {
        const uint32_t taps = rs.cols.max_count;
        rs.pair_weights.resize(size_t{job.width / 2} * taps * 8);
        for (size_t pair = 0; pair < job.width / 2; ++pair) {
            for (uint32_t t = 0; t < taps; ++t) {
                float* lanes = rs.pair_weights.data() + (pair * taps + t) * 8;
                std::fill_n(lanes, 4, rs.cols.weights[(2 * pair) * taps + t]);
                std::fill_n(lanes + 4, 4, rs.cols.weights[(2 * pair + 1) * taps + t]);
            }
        }
    }
}

uint8_t* resampler_slot(Resampler& rs, uint32_t y) {
    const size_t at = rs.row_stride * (y % rs.ring_rows);
    return rs.wide ? reinterpret_cast<uint8_t*>(rs.wide_rows.ring.data() + at)
                   : rs.narrow_rows.ring.data() + at;
}

void resampler_take_row(Resampler& rs, uint32_t y, const uint8_t* whole_row) {
    const size_t pixel_bytes = size_t{rs.channels} * (rs.wide ? 2 : 1);
    std::memcpy(resampler_slot(rs, y), whole_row + pixel_bytes * rs.kept_begin,
                pixel_bytes * (rs.kept_end - rs.kept_begin));
}

void resampler_make_row(Resampler& rs, uint32_t row, const ResampledRows& out) {
    if (rs.wide) {
        make_row<uint16_t>(rs, row, out);
    } else {
        make_row<uint8_t>(rs, row, out);
    }
}

uint32_t resampler_make_ready_rows(Resampler& rs, uint32_t y, uint32_t next_row,
                                   const ResampledRows& out) {
    while (next_row < resampler_output_rows(rs) && resampler_rows_needed(rs, next_row) <= y + 1) {
        resampler_make_row(rs, next_row++, out);
    }
    return next_row;
}
