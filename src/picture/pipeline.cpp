#include "picture/pipeline.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Rows the decoder may run ahead of the resampler when both work at once.
constexpr uint32_t PIPELINE_AHEAD_ROWS = 16;
constexpr uint32_t PIPELINE_WAKE_ROWS = 8;

// The decoder fills the ring on the calling thread while a second thread resamples the rows
// already in it: on two cores the resampling then costs next to no wall time. The arithmetic is
// the same, so the bytes are too.
struct Pipeline {
    Resampler* rs = nullptr;
    const ResampledRows* out = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    uint32_t next_source_row = 0;  // rows below this are in the ring; moved by the decoder
    uint32_t oldest_needed = 0;    // source rows below this are no longer read
    bool input_ended = false;      // the decoder has stopped, at the end or on a failure
    bool output_done = false;      // every output row was made
    // Who sleeps on `changed`: a wake-up for every row would cost a system call per row.
    uint32_t worker_needs = 0;  // the next_source_row the resampler waits for; 0 when it runs
    bool decoder_waits = false;
    std::thread worker;
};

// Ends the input and waits for the resampler; true when every output row was made.
bool pipeline_finish(Pipeline& p) {
    {
        std::lock_guard lock(p.mutex);
        p.input_ended = true;
    }
    p.changed.notify_all();
    if (p.worker.joinable()) {
        p.worker.join();
    }
    return p.output_done;
}

// Joins the resampling thread on every way out.
struct PipelineOwner {
    Pipeline& pipeline;
    explicit PipelineOwner(Pipeline& p) : pipeline(p) {}
    PipelineOwner(const PipelineOwner&) = delete;
    PipelineOwner& operator=(const PipelineOwner&) = delete;
    ~PipelineOwner() { pipeline_finish(pipeline); }
};

// The resampling thread.
void pipeline_resample_all(Pipeline& p) {
    Resampler& rs = *p.rs;
    const uint32_t rows = resampler_output_rows(rs);
    for (uint32_t row = 0; row < rows; ++row) {
        const uint32_t needed = resampler_rows_needed(rs, row);
        {
            std::unique_lock lock(p.mutex);
            // Once asleep, wait for a few rows more than needed: fewer wake-ups.
            p.worker_needs = p.next_source_row >= needed
                                 ? 0
                                 : std::min(needed + PIPELINE_WAKE_ROWS, rs.rows.source_end);
            p.changed.wait(lock,
                           [&] { return p.next_source_row >= p.worker_needs || p.input_ended; });
            p.worker_needs = 0;
            if (p.next_source_row < needed) {
                return;
            }
        }
        resampler_make_row(rs, row, *p.out);
        bool wake = false;
        {
            std::lock_guard lock(p.mutex);
            // After the last row nothing is read any more.
            p.oldest_needed = row + 1 < rows ? rs.rows.first[row + 1] : UINT32_MAX;
            p.output_done = row + 1 == rows;
            wake = p.decoder_waits;
        }
        if (wake) {
            p.changed.notify_all();
        }
    }
}

// Waits until the next source row would no longer overwrite one the resampler reads.
void pipeline_wait_for_room(Pipeline& p) {
    std::unique_lock lock(p.mutex);
    p.decoder_waits = true;
    p.changed.wait(
        lock, [&p] { return p.next_source_row < uint64_t{p.oldest_needed} + p.rs->ring_rows; });
    p.decoder_waits = false;
}

void pipeline_row_in(Pipeline& p) {
    bool wake = false;
    {
        std::lock_guard lock(p.mutex);
        ++p.next_source_row;
        wake = p.worker_needs != 0 && p.next_source_row >= p.worker_needs;
    }
    if (wake) {
        p.changed.notify_all();
    }
}

// Row `y` of the source into the ring: straight into its slot, or through `staging` when the
// ring keeps only some columns.
Result<Ok, PictureError> read_into_ring(PictureDecoder& dec, Resampler& rs, uint32_t y,
                                        std::vector<uint8_t>& staging, Pipeline* pipeline) {
    if (staging.empty()) {
        if (pipeline != nullptr) {
            pipeline_wait_for_room(*pipeline);
        }
        return decoder_read_row(dec, resampler_slot(rs, y));
    }
    Result<Ok, PictureError> read = decoder_read_row(dec, staging.data());
    if (!read.ok()) {
        return read;
    }
    if (pipeline != nullptr) {
        pipeline_wait_for_room(*pipeline);
    }
    resampler_take_row(rs, y, staging.data());
    return Ok{};
}

Result<Ok, PictureError> stream_in_line(PictureDecoder& dec, Resampler& rs,
                                        std::vector<uint8_t>& staging, const ResampledRows& out) {
    uint32_t next_row = 0;
    for (uint32_t y = rs.rows.source_begin; y < rs.rows.source_end; ++y) {
        Result<Ok, PictureError> read = read_into_ring(dec, rs, y, staging, nullptr);
        if (!read.ok()) {
            return read;
        }
        next_row = resampler_make_ready_rows(rs, y, next_row, out);
    }
    return decoder_finish(dec);
}

}  // namespace

uint64_t streaming_bytes(const PictureHeader& header, const ResampleJob& job) {
    ResampleJob ahead = job;
    ahead.read_ahead = PIPELINE_AHEAD_ROWS;
    return decoder_row_bytes(header) + resampler_bytes(ahead);
}

Result<Ok, PictureError> stream_resampled(PictureDecoder& dec, ResampleJob job,
                                          const ResampledRows& out) {
    job.read_ahead = PIPELINE_AHEAD_ROWS;
    if (streaming_bytes(dec.header, job) > MAX_STREAMING_BYTES) {
        return Err{PictureError::TooLarge};
    }
    Resampler rs;
    resampler_init(rs, job);
    Result<Ok, PictureError> started = decoder_start(dec, rs.rows.source_begin);
    if (!started.ok()) {
        return started;
    }
    std::vector<uint8_t> staging;
    if (!resampler_keeps_whole_rows(rs)) {
        staging.resize(size_t{dec.header.width} * bytes_per_pixel(dec.header.type));
    }

    Pipeline pipeline;
    pipeline.rs = &rs;
    pipeline.out = &out;
    pipeline.next_source_row = rs.rows.source_begin;
    pipeline.oldest_needed = rs.rows.source_begin;
    if (!job.switches.second_thread) {
        return stream_in_line(dec, rs, staging, out);
    }
    try {
        pipeline.worker = std::thread([&pipeline] { pipeline_resample_all(pipeline); });
    } catch (const std::system_error&) {
        return stream_in_line(dec, rs, staging, out);
    }
    PipelineOwner owner{pipeline};
    for (uint32_t y = rs.rows.source_begin; y < rs.rows.source_end; ++y) {
        Result<Ok, PictureError> read = read_into_ring(dec, rs, y, staging, &pipeline);
        if (!read.ok()) {
            return read;
        }
        pipeline_row_in(pipeline);
    }
    Result<Ok, PictureError> finished = decoder_finish(dec);
    const bool complete = pipeline_finish(pipeline);
    if (!finished.ok()) {
        return finished;
    }
    if (!complete) {
        return Err{PictureError::Decode};
    }
    return Ok{};
}

CoverGeometry cover_geometry(uint32_t picture_width, uint32_t picture_height, uint32_t screen_width,
                             uint32_t screen_height) {
    const double scale =
        std::max(static_cast<double>(screen_width) / static_cast<double>(picture_width),
                 static_cast<double>(screen_height) / static_cast<double>(picture_height));
    auto whole = [](double v) -> uint32_t {
        v = std::trunc(v);
        if (!(v > 0.0)) {
            return 0;
        }
        if (v >= 4294967295.0) {
            return UINT32_MAX;
        }
        return static_cast<uint32_t>(v);
    };
    CoverGeometry g;
    g.scaled_width = std::max(whole(picture_width * scale), screen_width);
    g.scaled_height = std::max(whole(picture_height * scale), screen_height);
    g.x0 = (g.scaled_width - screen_width) / 2;
    g.y0 = (g.scaled_height - screen_height) / 2;
    return g;
}

ResampleJob whole_job(const PictureHeader& header, uint32_t width, uint32_t height,
                      PictureSwitches switches) {
    return ResampleJob{.source_width = header.width,
                       .source_height = header.height,
                       .type = header.type,
                       .target_width = width,
                       .target_height = height,
                       .width = width,
                       .height = height,
                       .switches = switches};
}

ResampleJob cover_job(const PictureHeader& header, uint32_t screen_width, uint32_t screen_height,
                      PictureSwitches switches) {
    const CoverGeometry g =
        cover_geometry(header.width, header.height, screen_width, screen_height);
    return ResampleJob{.source_width = header.width,
                       .source_height = header.height,
                       .type = header.type,
                       .target_width = g.scaled_width,
                       .target_height = g.scaled_height,
                       .x0 = g.x0,
                       .y0 = g.y0,
                       .width = screen_width,
                       .height = screen_height,
                       .switches = switches};
}
