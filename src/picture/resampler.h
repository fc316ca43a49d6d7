// The triangle resampler: source rows go in one at a time, resampled rows come out as soon as
// the rows they read are in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/pixels.h"

// For each output index of a region along one axis: the source indices with non-zero weight and
// their normalised weights.
struct AxisTaps {
    std::vector<uint32_t> first;
    std::vector<uint32_t> count;
    std::vector<uint32_t> offset;
    std::vector<float> weights;
    uint32_t max_count = 0;
    uint32_t source_begin = 0;
    uint32_t source_end = 0;
};

AxisTaps axis_taps(uint32_t source_length, uint32_t target_length, uint32_t region_begin,
                   uint32_t region_length);

// The region [x0, x0 + width) x [y0, y0 + height) of a source_width x source_height picture
// resampled to target_width x target_height.
struct ResampleJob {
    uint32_t source_width = 0;
    uint32_t source_height = 0;
    PixelType type = PixelType::Rgb8;
    uint32_t target_width = 0;
    uint32_t target_height = 0;
    uint32_t x0 = 0;
    uint32_t y0 = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    // Room in the ring for a decoder to fill this many rows (or a whole window, if more) while
    // another thread reads the window before them; 0 for none.
    uint32_t read_ahead = 0;
    PictureSwitches switches;
};

// What the weight tables and the row ring will take, estimated before any is built.
uint64_t resampler_bytes(const ResampleJob& job);

// The ring and the output row in the samples' own type.
template <typename T>
struct SampleRows {
    std::vector<T> ring;
    std::vector<const T*> tap_rows;
    std::vector<T> output;
};

struct Resampler {
    uint32_t channels = 0;
    bool wide = false;  // 16-bit samples
    bool avx2 = false;  // the vector loops: the processor has them and the job allows them
    AxisTaps rows;
    AxisTaps cols;  // weights at a fixed stride of cols.max_count, zero-padded
    // The source columns the ring keeps: all, or only those read when that saves at least half.
    uint32_t kept_begin = 0;
    uint32_t kept_end = 0;
    uint32_t source_width = 0;
    size_t row_stride = 0;  // in samples
    uint32_t ring_rows = 0;
    SampleRows<uint8_t> narrow_rows;
    SampleRows<uint16_t> wide_rows;
    size_t middle_samples = 0;
    std::vector<float> middle;
    // For the two-pixel row pass: per pair of output pixels and tap, four copies of each weight.
    std::vector<float> pair_weights;
};

void resampler_init(Resampler& rs, const ResampleJob& job);

// Where resampled rows go, each at its own index: BGRA pixels, or samples of the source's type.
struct ResampledRows {
    std::vector<uint8_t>* buffer = nullptr;  // sized to `bytes` with the first row
    size_t bytes = 0;
    bool bgra = false;
};

inline uint32_t resampler_output_rows(const Resampler& rs) {
    return static_cast<uint32_t>(rs.rows.first.size());
}

// The source row after the last one that output row `row` reads.
inline uint32_t resampler_rows_needed(const Resampler& rs, uint32_t row) {
    return rs.rows.first[row] + rs.rows.count[row];
}

inline bool resampler_keeps_whole_rows(const Resampler& rs) {
    return rs.kept_begin == 0 && rs.kept_end == rs.source_width;
}

// Where source row `y` goes in the ring, when whole rows are kept.
uint8_t* resampler_slot(Resampler& rs, uint32_t y);

// Copies the kept columns of source row `y` into the ring.
void resampler_take_row(Resampler& rs, uint32_t y, const uint8_t* whole_row);

// Makes output row `row` from the source rows in the ring and puts it into `out`.
void resampler_make_row(Resampler& rs, uint32_t row, const ResampledRows& out);

// With source row `y` just in, makes every output row from `next_row` on that it completes;
// gives the next row still to make.
uint32_t resampler_make_ready_rows(Resampler& rs, uint32_t y, uint32_t next_row,
                                   const ResampledRows& out);
