// Pictures written as PNG through cairo: a single frame, and the contact sheet of labelled
// thumbnails.
#pragma once
#include <cstdint>
#include <string>

typedef struct _cairo_surface cairo_surface_t;
typedef struct _cairo cairo_t;

namespace capture {

// A frame, RGBA bottom row first as GL reads it, as an opaque cairo image top row first.
// The window the show draws in has no alpha, so the framebuffer's alpha is not kept.
cairo_surface_t *frame_surface(const uint8_t *rgba, int width, int height);
// Writes the surface as PNG to `fd` (which stays open).
bool write_png(cairo_surface_t *surface, int fd, std::string *error);

// The largest side of a picture the image library makes (cairo's limit).
constexpr int MAX_PICTURE_SIDE = 32767;

class ContactSheet {
  public:
    // The sheet's width and height for `count` thumbnails.
    static void measure(int frame_width, int frame_height, int count, int columns, int thumb_width,
                        int *width, int *height);
    ContactSheet(int frame_width, int frame_height, int count, int columns, int thumb_width,
                 const std::string &title);
    ~ContactSheet();
    ContactSheet(const ContactSheet &) = delete;
    ContactSheet &operator=(const ContactSheet &) = delete;

    // Places frame number `index` of the sheet, scaled down, with its label under it.
    void add(int index, const uint8_t *rgba, const std::string &label);
    bool write(int fd, std::string *error);

  private:
    int frame_w_, frame_h_, columns_, thumb_w_, thumb_h_;
    cairo_surface_t *sheet_ = nullptr;
    cairo_t *cr_ = nullptr;
};

} // namespace capture
