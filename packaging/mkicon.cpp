// mkicon: the application icon, made from the show's logo. The title card's lettering is found
// on its black, and a rounded square cut from the card frames it, centred and scaled to the
// icon's size; one size per run.
#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "outfile.h"

namespace {

const int kMinSize = 16, kMaxSize = 1024;
const unsigned kLit = 16;       // a channel above this is lettering, not the card's black
const double kMargin = 0.09;    // between the square's edge and the lettering, of the side
const double kCorner = 0.17;    // corner radius of the square, of the side
const double kInset = 1 / 32.0; // transparent border around the square, of the side

struct Box {
    int x0, y0, x1, y1; // x1 and y1 one past the last lit pixel
};

// The bounding box of the lit pixels; false if the card is all black.
bool find_lettering(cairo_surface_t *card, Box *box) {
    const int w = cairo_image_surface_get_width(card), h = cairo_image_surface_get_height(card);
    const int stride = cairo_image_surface_get_stride(card);
    const unsigned char *data = cairo_image_surface_get_data(card);
    *box = {w, h, 0, 0};
    for (int y = 0; y < h; ++y) {
        const uint32_t *row = reinterpret_cast<const uint32_t *>(data + y * stride);
        for (int x = 0; x < w; ++x) {
            const uint32_t p = row[x];
            if (((p >> 16) & 0xff) > kLit || ((p >> 8) & 0xff) > kLit || (p & 0xff) > kLit) {
                box->x0 = std::min(box->x0, x);
                box->y0 = std::min(box->y0, y);
                box->x1 = std::max(box->x1, x + 1);
                box->y1 = std::max(box->y1, y + 1);
            }
        }
    }
    return box->x1 > box->x0;
}

void rounded_square(cairo_t *cr, double x, double side, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + side - r, x + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + side - r, x + side - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, x + side - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, x + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

cairo_status_t write_png(void *out, const unsigned char *data, unsigned int length) {
    return static_cast<OutFile *>(out)->write(data, length) ? CAIRO_STATUS_SUCCESS
                                                            : CAIRO_STATUS_WRITE_ERROR;
}

int fail(const std::string &msg) {
    std::fprintf(stderr, "mkicon: %s\n", msg.c_str());
    return 1;
}

void usage(FILE *to) {
    std::fprintf(to,
                 "Usage: mkicon LOGO.png SIZE OUTPUT.png\n"
                 "       mkicon --help\n"
                 "\n"
                 "Makes the SIZExSIZE application icon (%d to %d) from the title card LOGO.png: "
                 "its\nlettering on a rounded square of the card. Written to a temporary file "
                 "beside\nOUTPUT.png and renamed when complete.\n",
                 kMinSize, kMaxSize);
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        usage(stdout);
        return 0;
    }
    if (argc != 4) {
        usage(stderr);
        return 2;
    }
    char *end = nullptr;
    const long side = std::strtol(argv[2], &end, 10);
    if (*argv[2] == '\0' || *end != '\0' || side < kMinSize || side > kMaxSize) {
        std::fprintf(stderr, "mkicon: SIZE must be a whole number from %d to %d, not '%s'\n",
                     kMinSize, kMaxSize, argv[2]);
        return 2;
    }

    cairo_surface_t *card = cairo_image_surface_create_from_png(argv[1]);
    if (cairo_surface_status(card) != CAIRO_STATUS_SUCCESS) {
        const std::string why = cairo_status_to_string(cairo_surface_status(card));
        cairo_surface_destroy(card);
        return fail(std::string("cannot read ") + argv[1] + ": " + why);
    }
    Box box;
    if (!find_lettering(card, &box)) {
        cairo_surface_destroy(card);
        return fail(std::string(argv[1]) + " has no lettering: it is all black");
    }

    const double n = static_cast<double>(side);
    const double inset = std::floor(n * kInset), square = n - 2 * inset;
    const double room = square - 2 * kMargin * n;
    const double scale = std::min(room / (box.x1 - box.x0), room / (box.y1 - box.y0));

    cairo_surface_t *icon = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(side),
                                                       static_cast<int>(side));
    cairo_t *cr = cairo_create(icon);
    // The card scaled about the lettering's centre; beyond its edges it goes on in its own black.
    cairo_translate(cr, n / 2, n / 2);
    cairo_scale(cr, scale, scale);
    cairo_translate(cr, -(box.x0 + box.x1) / 2.0, -(box.y0 + box.y1) / 2.0);
    cairo_set_source_surface(cr, card, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BEST);
    cairo_identity_matrix(cr);
    rounded_square(cr, inset, square, kCorner * square);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(card);

    OutFile out(argv[3]);
    bool ok = out.open();
    if (ok && cairo_surface_write_to_png_stream(icon, write_png, &out) != CAIRO_STATUS_SUCCESS)
        ok = false;
    cairo_surface_destroy(icon);
    if (!ok || !out.commit())
        return fail(out.error().empty() ? std::string("cannot write ") + argv[3] : out.error());
    return 0;
}
