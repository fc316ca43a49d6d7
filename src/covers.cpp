#include "covers.h"

#include <algorithm>
#include <set>
#include <span>

#include <sys/stat.h>

#include "log.h"

namespace {

int64_t area_of(const Rect& r) {
    return int64_t{r.width} * r.height;
}

// The edges of `rects` inside `area` cut it into cells that each rectangle covers whole or not
// at all.
std::vector<int32_t> edges(const Rect& area, const std::vector<Rect>& rects, bool across) {
    const int32_t start = across ? area.x : area.y;
    const int32_t end = across ? area.x + area.width : area.y + area.height;
    std::set<int32_t> cuts = {start, end};
    for (const Rect& r : rects) {
        for (const int32_t v : {across ? r.x : r.y, across ? r.x + r.width : r.y + r.height}) {
            if (v > start && v < end) {
                cuts.insert(v);
            }
        }
    }
    return {cuts.begin(), cuts.end()};
}

}  // namespace

std::vector<Rect> uncovered_rects(const Rect& area, const std::vector<Rect>& rects) {
    const std::vector<int32_t> xs = edges(area, rects, true);
    const std::vector<int32_t> ys = edges(area, rects, false);
    std::vector<Rect> out;
    for (size_t row = 0; row + 1 < ys.size(); ++row) {
        for (size_t col = 0; col + 1 < xs.size(); ++col) {
            const bool covered = std::any_of(rects.begin(), rects.end(), [&](const Rect& r) {
                return rect_contains(r, xs[col], ys[row]);
            });
            if (covered) {
                continue;
            }
            const Rect cell{xs[col], ys[row], xs[col + 1] - xs[col], ys[row + 1] - ys[row]};
            // Cells next to each other in a row become one rectangle.
            if (!out.empty() && out.back().y == cell.y && out.back().height == cell.height &&
                out.back().x + out.back().width == cell.x) {
                out.back().width += cell.width;
            } else {
                out.push_back(cell);
            }
        }
    }
    return out;
}

std::vector<Rect> cover_rects(const std::vector<Monitor>& monitors, const Rect& root) {
    std::vector<Rect> rects;
    for (const Monitor& m : monitors) {
        const Rect r = intersect_rects(m.rect, root);
        if (area_of(r) > 0 && std::find(rects.begin(), rects.end(), r) == rects.end()) {
            rects.push_back(r);
        }
    }
    // Larger first, so that a monitor inside another (Xvfb lists its whole screen beside the
    // monitors declared on it) ends up on top.
    std::stable_sort(rects.begin(), rects.end(),
                     [](const Rect& a, const Rect& b) { return area_of(a) > area_of(b); });
    std::vector<Rect> kept;
    for (size_t i = 0; i < rects.size(); ++i) {
        const std::vector<Rect> later(rects.begin() + static_cast<long>(i) + 1, rects.end());
        if (!uncovered_rects(rects[i], later).empty()) {
            kept.push_back(rects[i]);
        }
    }
    if (kept.empty()) {
        kept.push_back(root);
    }
    return kept;
}

Backdrop plan_backdrop(const std::vector<Monitor>& monitors, const Rect& root) {
    Backdrop b;
    b.covers = cover_rects(monitors, root);
    b.uncovered = uncovered_rects(root, b.covers);
    return b;
}

namespace {

bool all_loaded(const Backdrop& backdrop) {
    return backdrop.choice.path && !backdrop.key.sizes.empty() &&
           std::all_of(backdrop.pictures.begin(), backdrop.pictures.end(),
                       [](const Result<BgraBuffer, PictureError>& p) { return p.ok(); });
}

}  // namespace

void load_backdrop(Backdrop& backdrop) {
    std::vector<CoverSize> sizes;
    backdrop.pictures.clear();
    backdrop.picture_of.clear();
    backdrop.key = CoverKey{};
    backdrop.reused = false;
    for (const Rect& cover : backdrop.covers) {
        const CoverSize size{static_cast<uint32_t>(cover.width),
                             static_cast<uint32_t>(cover.height)};
        const auto same = std::find(sizes.begin(), sizes.end(), size);
        backdrop.picture_of.push_back(static_cast<size_t>(same - sizes.begin()));
        if (same == sizes.end()) {
            sizes.push_back(size);
        }
    }
    struct stat st {};
    if (backdrop.choice.path && ::stat(backdrop.choice.path->c_str(), &st) == 0) {
        backdrop.key = CoverKey{picture_identity(st), sizes};
        if (std::optional<KeptCovers> kept = take_kept_covers(backdrop.key)) {
            for (BgraBuffer& picture : kept->pictures) {
                backdrop.pictures.emplace_back(std::move(picture));
            }
            backdrop.reused = true;
            return;
        }
    }
    for (const CoverSize& size : sizes) {
        if (backdrop.choice.path) {
            backdrop.pictures.push_back(
                load_chosen_background(*backdrop.choice.path, size.width, size.height));
        } else {
            backdrop.pictures.emplace_back(Err{PictureError::Io});
        }
    }
}

void keep_backdrop(Backdrop& backdrop) {
    if (!all_loaded(backdrop)) {
        return;
    }
    KeptCovers kept{std::move(backdrop.key), {}};
    for (Result<BgraBuffer, PictureError>& picture : backdrop.pictures) {
        kept.pictures.push_back(std::move(picture).value());
    }
    backdrop.pictures.clear();
    keep_covers(std::move(kept));
}

void save_backdrop(const Backdrop& backdrop) {
    if (!all_loaded(backdrop) || backdrop.key.sizes.size() > COVER_CACHE_MAX_COVERS ||
        cover_cache_holds(backdrop.key)) {
        return;
    }
    std::vector<std::span<const uint8_t>> pictures;
    for (const Result<BgraBuffer, PictureError>& picture : backdrop.pictures) {
        pictures.emplace_back(picture.value());
    }
    const Result<Ok> written =
        write_cover_cache(COVER_CACHE_DIR, COVER_CACHE_PATH, backdrop.key, pictures);
    if (!written.ok()) {
        log_message(LogLevel::Warn,
                    "Background: cannot keep the prepared picture: " + written.error());
    }
    // Tried once per key: a failing disk is not written again at every showing.
    note_cover_cache_holds(backdrop.key);
}

void log_backdrop(const Backdrop& backdrop, const Rect& root) {
    log_background_choice(backdrop.choice, static_cast<uint32_t>(root.width),
                          static_cast<uint32_t>(root.height));
    if (!backdrop.choice.path) {
        return;
    }
    if (backdrop.reused) {
        log_message(LogLevel::Info, "Background: reusing the prepared picture");
    }
    for (const Result<BgraBuffer, PictureError>& picture : backdrop.pictures) {
        log_background_result(*backdrop.choice.path, picture);
    }
}

void log_backdrop_failures(const Backdrop& backdrop) {
    for (const Result<BgraBuffer, PictureError>& picture : backdrop.pictures) {
        if (backdrop.choice.path && !picture.ok()) {
            log_background_result(*backdrop.choice.path, picture);
        }
    }
}
