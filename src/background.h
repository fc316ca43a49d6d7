// Pictures: decoding, resampling, cover scaling, the time-of-day background and its painting.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"
#include "fd.h"
#include "result.h"

struct GreeterContext;
struct Rect;

// Exactly width x height x 4 bytes, rows top to bottom, each pixel blue, green, red, alpha
// (straight alpha). The consumer knows the size.
using BgraBuffer = std::vector<uint8_t>;

inline constexpr const char* BACKGROUNDS_DIR = "/usr/share/vesko/backgrounds";

// The largest amount of memory the decoded samples of one picture may need.
inline constexpr uint64_t MAX_DECODE_BYTES = uint64_t{512} << 20;

enum class PixelType { Grey8, GreyAlpha8, Rgb8, Rgba8, Grey16, GreyAlpha16, Rgb16, Rgba16 };

uint32_t channel_count(PixelType type);
// 1 or 2.
uint32_t bytes_per_sample(PixelType type);
uint32_t bytes_per_pixel(PixelType type);

// The X Rendering Extension headers (pulled in with Xft) take the global name Picture for an XID.
namespace img {

// A decoded picture in the decoder's own pixel type. Rows top to bottom without padding, channels
// in the order of the type's name; 16-bit samples are stored in the machine's byte order.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    PixelType type = PixelType::Rgba8;
    std::vector<uint8_t> samples;
};

}  // namespace img

enum class PictureError {
    Io,            // the file cannot be opened or read
    Unsupported,   // the extension names no supported format
    Unrecognised,  // no extension, and the first bytes are neither PNG nor JPEG
    Decode,        // not a valid picture (corrupt, truncated, hostile)
    TooLarge,      // the samples would need more than MAX_DECODE_BYTES
};

const char* picture_error_text(PictureError error);

enum class PictureFormat { Png, Jpeg };

// The part of the last path component after its last "."; none when that component has no "."
// or its only "." is the first character (".face", ".png").
std::optional<std::string_view> file_extension(std::string_view path);

// PNG for "png", JPEG for "jpg" and "jpeg", ignoring ASCII case.
std::optional<PictureFormat> format_for_extension(std::string_view extension);

// width x height x bytes per pixel in 64 bits, or TooLarge past MAX_DECODE_BYTES.
Result<uint64_t, PictureError> checked_sample_bytes(uint32_t width, uint32_t height,
                                                    PixelType type);

Result<img::Picture, PictureError> open_picture(const std::string& path);

// Decodes an already opened file; `name` only decides the format by its extension.
Result<img::Picture, PictureError> decode_picture(UniqueFd fd, std::string_view name);

// Decodes and resamples to width x height in one streamed pass; the same bytes as
// resize_triangle(decode_picture(...)) without holding the full-size picture.
Result<img::Picture, PictureError> decode_picture_resized(UniqueFd fd, std::string_view name,
                                                          uint32_t width, uint32_t height);

// Triangle filter of support 1, columns first into 32-bit floats, then rows.
img::Picture resize_triangle(const img::Picture& picture, uint32_t width, uint32_t height);

BgraBuffer to_bgra(const img::Picture& picture);

// Size the picture is scaled to before the centre cut, and the cut's top-left corner.
struct CoverGeometry {
    uint32_t scaled_width = 0;
    uint32_t scaled_height = 0;
    uint32_t x0 = 0;
    uint32_t y0 = 0;
};

CoverGeometry cover_geometry(uint32_t picture_width, uint32_t picture_height, uint32_t screen_width,
                             uint32_t screen_height);

// Only the part that survives the centre cut is ever computed.
BgraBuffer scale_to_cover(const img::Picture& picture, uint32_t screen_width,
                          uint32_t screen_height);

// The resampler uses AVX2 where the processor has it; tests switch it off to check that the
// plain loops give the same bytes.
void allow_wide_vectors(bool allowed);

// Streamed decoding resamples on a second thread where one can be started; tests switch it off
// to check the in-line path.
void allow_second_thread(bool allowed);

// open_picture + scale_to_cover, streamed from the decoder: the same bytes, a fraction of the
// memory and time.
Result<BgraBuffer, PictureError> load_cover(const std::string& path, uint32_t screen_width,
                                            uint32_t screen_height);

enum class DayPeriod { Morning, Afternoon, Evening, Night };

DayPeriod day_period_for_hour(uint8_t hour, const BackgroundConfig& config);

const char* day_period_dir_name(DayPeriod period);
const char* day_period_display_name(DayPeriod period);

// Whether a directory entry name counts as a background picture.
bool is_background_name(std::string_view name);

// The qualifying entries of `dir` as "dir/name", sorted byte-wise; empty when unreadable.
std::vector<std::string> list_backgrounds(const std::string& dir);

uint32_t daily_seed(const std::tm& local);

std::optional<BgraBuffer> load_background(const BackgroundConfig& config, uint32_t width,
                                          uint32_t height);

// Puts the prepared screen picture on the greeter window, or fills it with the fallback colour.
void paint_background(const GreeterContext& ctx, const std::string& fallback_color,
                      const std::optional<BgraBuffer>& background);
// The same on one rectangle of the window; the picture has the rectangle's size.
void paint_background_at(const GreeterContext& ctx, const std::string& fallback_color,
                         const std::optional<BgraBuffer>& background, const Rect& target);
