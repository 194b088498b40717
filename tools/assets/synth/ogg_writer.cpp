// The Ogg Vorbis writer: headers, the samples in chunks, the end of the stream.
#include "ogg_writer.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace synth {

bool encodeOgg(const float *left, const float *right, const VorbisTags &tags, OutFile &file,
               std::string *error) {
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, 2, kRate, 0.6f) != 0) {
        *error = "vorbis_encode_init_vbr refused 44100 Hz stereo at quality 0.6";
        vorbis_info_clear(&vi);
        return false;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    for (const auto &[name, value] : tags)
        vorbis_comment_add_tag(&vc, name.c_str(), value.c_str());
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, 0x56656C6C); // fixed serial number: deterministic output
    ogg_page og;
    ogg_packet op, hc, hcode;
    bool ok = true;
    auto writePage = [&](const ogg_page &p) {
        ok = ok && file.write(p.header, static_cast<size_t>(p.header_len)) &&
             file.write(p.body, static_cast<size_t>(p.body_len));
    };
    vorbis_analysis_headerout(&vd, &vc, &op, &hc, &hcode);
    ogg_stream_packetin(&os, &op);
    ogg_stream_packetin(&os, &hc);
    ogg_stream_packetin(&os, &hcode);
    while (ogg_stream_flush(&os, &og) != 0)
        writePage(og);

    // Feed the samples in chunks, then an empty write that marks the end of the stream, and
    // drain the encoder after each.
    auto drain = [&] {
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            while (vorbis_bitrate_flushpacket(&vd, &op)) {
                ogg_stream_packetin(&os, &op);
                while (ogg_stream_pageout(&os, &og) != 0)
                    writePage(og);
            }
        }
    };
    constexpr int64_t kChunk = 4096;
    for (int64_t pos = 0; pos < kTotal && ok; pos += kChunk) {
        const int count = static_cast<int>(std::min(kChunk, kTotal - pos));
        float **buf = vorbis_analysis_buffer(&vd, count);
        std::memcpy(buf[0], left + pos, sizeof(float) * count);
        std::memcpy(buf[1], right + pos, sizeof(float) * count);
        vorbis_analysis_wrote(&vd, count);
        drain();
    }
    vorbis_analysis_wrote(&vd, 0);
    drain();
    while (ogg_stream_flush(&os, &og) != 0)
        writePage(og);
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    if (!ok || !file.commit()) {
        *error = file.error();
        return false;
    }
    return true;
}

} // namespace synth
