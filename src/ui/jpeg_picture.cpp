#include "ui/jpeg_picture.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t first

#include "base/encoding.h"

#ifdef TIDE_HAVE_LIBJPEG
#include <jpeglib.h>
#endif

namespace tide {

#ifdef TIDE_HAVE_LIBJPEG
namespace {

// libjpeg's own error_exit ends the process: jump back to the decoder
// instead, keeping the message.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->back, 1);
}

// Warnings (a picture cut short, extraneous bytes) are counted, not printed.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0) {
        auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
        if (err->pub.num_warnings++ == 0) (*cinfo->err->format_message)(cinfo, err->message);
    }
}

// Runs the decode; no C++ object with a destructor lives in this frame, so
// the longjmp out of libjpeg skips nothing.
bool Decode(jpeg_decompress_struct* cinfo, ErrorManager* err, const std::vector<uint8_t>& data,
            platform::Bitmap& out, std::vector<uint8_t>& row) {
    if (setjmp(err->back)) return false;
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(cinfo, TRUE);
    cinfo->out_color_space = JCS_RGB;
    jpeg_start_decompress(cinfo);
    const int w = static_cast<int>(cinfo->output_width), h = static_cast<int>(cinfo->output_height);
    out.width = w;
    out.height = h;
    out.bgrx.assign(static_cast<size_t>(w) * h * 4, 0);
    row.resize(static_cast<size_t>(w) * 3);
    while (cinfo->output_scanline < cinfo->output_height) {
        const int y = static_cast<int>(cinfo->output_scanline);
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(cinfo, rows, 1);
        uint8_t* p = &out.bgrx[static_cast<size_t>(y) * w * 4];
        for (int x = 0; x < w; ++x) {
            p[4 * x] = row[3 * x + 2];
            p[4 * x + 1] = row[3 * x + 1];
            p[4 * x + 2] = row[3 * x];
        }
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

}  // namespace
#endif

bool DecodeJpeg(const std::vector<uint8_t>& data, platform::Bitmap& out, std::wstring& why) {
    why.clear();
#ifdef TIDE_HAVE_LIBJPEG
    if (data.empty()) {
        why = L"no picture data";
        return false;
    }
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = EmitMessage;
    std::vector<uint8_t> row;
    platform::Bitmap decoded;
    const bool ok = Decode(&cinfo, &err, data, decoded, row);
    jpeg_destroy_decompress(&cinfo);
    if (!ok || err.pub.num_warnings > 0) why = Utf8ToWide(err.message);
    if (!ok) return false;
    out = std::move(decoded);
    return true;
#else
    why = L"this build has no JPEG decoder";
    return false;
#endif
}

platform::Bitmap ScaleBitmap(const platform::Bitmap& src, int width, int height) {
    platform::Bitmap dst;
    dst.width = std::max(width, 0);
    dst.height = std::max(height, 0);
    dst.bgrx.assign(static_cast<size_t>(dst.width) * dst.height * 4, 0);
    if (src.width <= 0 || src.height <= 0 || dst.bgrx.empty()) return dst;
    // Source coordinates in units of 1/dst pixels: target pixel x covers
    // [x*sw, (x+1)*sw) of a source scaled by dw.
    const int64_t sw = src.width, sh = src.height, dw = dst.width, dh = dst.height;
    for (int y = 0; y < dst.height; ++y) {
        const int64_t y0 = y * sh, y1 = (y + 1) * sh;  // in units of 1/dh source rows
        for (int x = 0; x < dst.width; ++x) {
            const int64_t x0 = x * sw, x1 = (x + 1) * sw;
            int64_t sum[3] = {0, 0, 0}, area = 0;
            for (int64_t sy = y0 / dh; sy * dh < y1 && sy < sh; ++sy) {
                const int64_t wy = std::min(y1, (sy + 1) * dh) - std::max(y0, sy * dh);
                for (int64_t sx = x0 / dw; sx * dw < x1 && sx < sw; ++sx) {
                    const int64_t wx = std::min(x1, (sx + 1) * dw) - std::max(x0, sx * dw);
                    const uint8_t* p = &src.bgrx[static_cast<size_t>((sy * sw + sx) * 4)];
                    const int64_t a = wx * wy;
                    for (int c = 0; c < 3; ++c) sum[c] += p[c] * a;
                    area += a;
                }
            }
            uint8_t* q = &dst.bgrx[(static_cast<size_t>(y) * dst.width + x) * 4];
            for (int c = 0; c < 3; ++c) q[c] = static_cast<uint8_t>((sum[c] + area / 2) / area);
        }
    }
    return dst;
}

}  // namespace tide
