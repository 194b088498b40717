"""Writes the seed corpus of the logo fuzzer: well-formed and broken PNGs of every kind the
loader must survive (palette, grey, 16-bit, RGB, tiny, odd sizes, truncated, a huge header)."""
import io
import struct
import sys
import zlib
from pathlib import Path

from PIL import Image


def png_bytes(img, **kw):
    buf = io.BytesIO()
    img.save(buf, format="PNG", **kw)
    return buf.getvalue()


def huge_header(width, height):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    idat = zlib.compress(b"\0" * 1024)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", idat) + chunk(b"IEND", b"")


def main(out):
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    rgba = Image.new("RGBA", (16, 16), (200, 30, 40, 128))
    seeds = {
        "rgba.png": png_bytes(rgba),
        "rgb.png": png_bytes(rgba.convert("RGB")),
        "grey.png": png_bytes(rgba.convert("L")),
        "palette.png": png_bytes(rgba.convert("P")),
        "grey16.png": png_bytes(Image.new("I;16", (9, 7), 40000)),
        "one.png": png_bytes(Image.new("RGBA", (1, 1), (255, 0, 0, 255))),
        "odd.png": png_bytes(Image.new("RGBA", (33, 7), (1, 2, 3, 4))),
        "truncated.png": png_bytes(rgba)[:60],
        "huge.png": huge_header(100000, 100000),
        "empty.png": b"",
        "jpeg.png": (lambda b: (rgba.convert("RGB").save(b, format="JPEG"), b.getvalue())[1])(io.BytesIO()),
    }
    for name, data in seeds.items():
        (out / name).write_bytes(data)


if __name__ == "__main__":
    main(sys.argv[1])
