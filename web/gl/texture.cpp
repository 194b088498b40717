// Texture images: the unpack state the show sets, and gluBuild2DMipmaps. GL 1.x turns the RGBA
// bytes into a texture of three components; WebGL 2 takes an RGB texture only from RGB bytes, so
// the alpha is dropped here, row by row, as the unpack state lays the rows out.
#include <vector>

#include <GL/glu.h>

#include "layer.h"

namespace {
GLint unpack_alignment = 4;
GLint unpack_row_length = 0;
} // namespace

extern "C" {

void glPixelStorei(GLenum pname, GLint param) {
    // The layer reads the show's pixels itself, so it keeps the unpack layout to itself.
    if (pname == GL_UNPACK_ALIGNMENT)
        unpack_alignment = param;
    else if (pname == GL_UNPACK_ROW_LENGTH)
        unpack_row_length = param;
    else
        emscripten_glPixelStorei(pname, param);
}

GLint gluBuild2DMipmaps(GLenum target, GLint components, GLsizei width, GLsizei height,
                        GLenum format, GLenum type, const void *data) {
    if (target != GL_TEXTURE_2D || components != 3 || format != GL_RGBA ||
        type != GL_UNSIGNED_BYTE || width <= 0 || height <= 0 || !data) {
        vgl::set_error(GL_INVALID_ENUM);
        return GL_INVALID_ENUM;
    }
    const size_t pixels_per_row = unpack_row_length > 0 ? unpack_row_length : width;
    const size_t align = unpack_alignment > 0 ? unpack_alignment : 1;
    const size_t stride = (pixels_per_row * 4 + align - 1) / align * align;
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    const auto *source = static_cast<const unsigned char *>(data);
    for (GLsizei y = 0; y < height; ++y) {
        const unsigned char *from = source + y * stride;
        unsigned char *to = rgb.data() + static_cast<size_t>(y) * width * 3;
        for (GLsizei x = 0; x < width; ++x, from += 4, to += 3) {
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
        }
    }
    emscripten_glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    emscripten_glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE,
                            rgb.data());
    emscripten_glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    // The show samples only the base level (its minifying filter is GL_LINEAR); the rest of
    // the chain is made as GLU makes it, by halving.
    emscripten_glGenerateMipmap(GL_TEXTURE_2D);
    return 0;
}

} // extern "C"
