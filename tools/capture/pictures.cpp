#include "pictures.h"

#include <cairo.h>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "failure.h"
#include "stop_signals.h"

namespace capture {

namespace {

const char *const FONT = "DejaVu Sans";
const int MARGIN = 16;
const int GAP = 8;
const int LABEL_H = 20;
const int TITLE_H = 34;

cairo_status_t write_to_fd(void *closure, const unsigned char *data, unsigned int length) {
    return write_all(*static_cast<int *>(closure), data, length) ? CAIRO_STATUS_SUCCESS
                                                                 : CAIRO_STATUS_WRITE_ERROR;
}

} // namespace

cairo_surface_t *frame_surface(const uint8_t *rgba, int width, int height) {
    cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_surface_flush(s);
    unsigned char *dst = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < height; ++y) {
        const uint8_t *src = rgba + static_cast<size_t>(height - 1 - y) * width * 4;
        auto *row = reinterpret_cast<uint32_t *>(dst + static_cast<size_t>(y) * stride);
        for (int x = 0; x < width; ++x, src += 4)
            row[x] = (uint32_t{src[0]} << 16) | (uint32_t{src[1]} << 8) | src[2];
    }
    cairo_surface_mark_dirty(s);
    return s;
}

bool write_png(cairo_surface_t *surface, int fd, std::string *error) {
    const cairo_status_t st = cairo_surface_write_to_png_stream(surface, write_to_fd, &fd);
    return st == CAIRO_STATUS_SUCCESS ||
           fail(error, std::string("writing the PNG failed: ") + cairo_status_to_string(st));
}

namespace {

int thumb_height(int frame_width, int frame_height, int thumb_width) {
    return (thumb_width * frame_height + frame_width / 2) / frame_width;
}

} // namespace

void ContactSheet::measure(int frame_width, int frame_height, int count, int columns,
                           int thumb_width, int *width, int *height) {
    const int rows = (count + columns - 1) / columns;
    const int thumb_h = thumb_height(frame_width, frame_height, thumb_width);
    *width = 2 * MARGIN + columns * thumb_width + (columns - 1) * GAP;
    *height = MARGIN + TITLE_H + rows * (thumb_h + LABEL_H + GAP) - GAP + MARGIN;
}

ContactSheet::ContactSheet(int frame_width, int frame_height, int count, int columns,
                           int thumb_width, const std::string &title)
    : frame_w_(frame_width), frame_h_(frame_height), columns_(columns), thumb_w_(thumb_width),
      thumb_h_(thumb_height(frame_width, frame_height, thumb_width)) {
    int w = 0, h = 0;
    measure(frame_width, frame_height, count, columns, thumb_width, &w, &h);
    sheet_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cr_ = cairo_create(sheet_);
    cairo_set_source_rgb(cr_, 0.12, 0.12, 0.13);
    cairo_paint(cr_);
    cairo_select_font_face(cr_, FONT, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr_, 18);
    cairo_set_source_rgb(cr_, 0.92, 0.92, 0.92);
    cairo_move_to(cr_, MARGIN, MARGIN + 20);
    cairo_show_text(cr_, title.c_str());
}

ContactSheet::~ContactSheet() {
    cairo_destroy(cr_);
    cairo_surface_destroy(sheet_);
}

void ContactSheet::add(int index, const uint8_t *rgba, const std::string &label) {
    const int x = MARGIN + (index % columns_) * (thumb_w_ + GAP);
    const int y = MARGIN + TITLE_H + (index / columns_) * (thumb_h_ + LABEL_H + GAP);
    cairo_surface_t *frame = frame_surface(rgba, frame_w_, frame_h_);
    cairo_save(cr_);
    cairo_rectangle(cr_, x, y, thumb_w_, thumb_h_);
    cairo_clip(cr_);
    cairo_translate(cr_, x, y);
    cairo_scale(cr_, static_cast<double>(thumb_w_) / frame_w_,
                static_cast<double>(thumb_h_) / frame_h_);
    cairo_set_source_surface(cr_, frame, 0, 0);
    // GOOD filters over the whole footprint when shrinking, so thin lines do not alias away.
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_GOOD);
    cairo_paint(cr_);
    cairo_restore(cr_);
    cairo_surface_destroy(frame);

    cairo_select_font_face(cr_, FONT, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr_, 12);
    cairo_set_source_rgb(cr_, 0.85, 0.85, 0.85);
    cairo_move_to(cr_, x + 2, y + thumb_h_ + 14);
    cairo_show_text(cr_, label.c_str());
}

bool ContactSheet::write(int fd, std::string *error) {
    cairo_surface_flush(sheet_);
    return write_png(sheet_, fd, error);
}

} // namespace capture
