// The image backend of the Linux build: libpng, libjpeg, giflib and libtiff over memory, and
// the BMP reader and writer of image-codec.cpp.
//
// libpng and libjpeg report errors by a long jump out of their own code: each of those
// decoders keeps what it owns in a state object made before setjmp, so that the jump skips
// no destructor, and cleans up after the jump lands.
#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gif_lib.h>
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "loading/image-codec.h"

namespace image_codec {

namespace {

uint32_t argb(uint32_t r, uint32_t g, uint32_t b, uint32_t opacity) {
    return opacity << 24 | r << 16 | g << 8 | b;
}

// --- PNG ------------------------------------------------------------------------------------

struct PngRead {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t at = 0;
    bool no_memory = false; // an allocation of libpng's failed
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<png_bytep> rows;
    ~PngRead() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

void png_read_bytes(png_structp png, png_bytep to, png_size_t count) {
    auto* s = static_cast<PngRead*>(png_get_io_ptr(png));
    if (count > s->size - s->at) png_error(png, "truncated");
    std::memcpy(to, s->data + s->at, count);
    s->at += count;
}

void png_quiet(png_structp, png_const_charp) {}

[[noreturn]] void png_fail(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

// libpng's allocations, noting a failure (which libpng then reports as an error).
png_voidp png_allocate(png_structp png, png_alloc_size_t size) {
    void* block = std::malloc(size);
    if (!block) static_cast<PngRead*>(png_get_mem_ptr(png))->no_memory = true;
    return block;
}
void png_release(png_structp, png_voidp block) {
    std::free(block);
}

Decoded png_run(PngRead& s, Pixels& out) {
    if (setjmp(png_jmpbuf(s.png))) return s.no_memory ? Decoded::no_memory : Decoded::refused;
    png_set_read_fn(s.png, &s, png_read_bytes);
    png_set_user_limits(s.png, kMaxSide, kMaxSide);
    png_set_chunk_malloc_max(s.png, 1 << 26);
    png_read_info(s.png, s.info);
    const png_uint_32 w = png_get_image_width(s.png, s.info);
    const png_uint_32 h = png_get_image_height(s.png, s.info);
    if (!acceptable(w, h)) return Decoded::refused;
    png_set_expand(s.png);
    png_set_strip_16(s.png);
    png_set_gray_to_rgb(s.png);
    png_set_filler(s.png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(s.png);
    png_read_update_info(s.png, s.info);
    if (png_get_rowbytes(s.png, s.info) != static_cast<size_t>(w) * 4) return Decoded::refused;
    // The rows are read straight into the pixel words as R, G, B, opacity bytes, then turned
    // into words in place.
    if (!allocate(out, w, h)) return Decoded::no_memory;
    s.rows.resize(h);
    auto* bytes = reinterpret_cast<uint8_t*>(out.words.data());
    for (png_uint_32 y = 0; y < h; ++y) s.rows[y] = bytes + static_cast<size_t>(y) * w * 4;
    png_read_image(s.png, s.rows.data());
    for (uint32_t& word : out.words) {
        uint8_t p[4];
        std::memcpy(p, &word, 4);
        word = argb(p[0], p[1], p[2], p[3]);
    }
    return Decoded::ok;
}

Decoded png_decode(const uint8_t* data, size_t size, Pixels& out) {
    PngRead s;
    s.data = data;
    s.size = size;
    s.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_quiet, &s,
                                     png_allocate, png_release);
    if (!s.png) return Decoded::no_memory;
    s.info = png_create_info_struct(s.png);
    if (!s.info) return Decoded::no_memory;
    return png_run(s, out);
}

struct PngWrite {
    std::vector<uint8_t>* out = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<uint8_t> row;
};

void png_write_bytes(png_structp png, png_bytep data, png_size_t count) {
    auto* s = static_cast<PngWrite*>(png_get_io_ptr(png));
    s->out->insert(s->out->end(), data, data + count);
}
void png_flush(png_structp) {}

bool png_write_run(PngWrite& s, const uint32_t* words, uint32_t w, uint32_t h) {
    if (setjmp(png_jmpbuf(s.png))) return false;
    png_set_write_fn(s.png, &s, png_write_bytes, png_flush);
    png_set_IHDR(s.png, s.info, w, h, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(s.png, s.info);
    s.row.resize(static_cast<size_t>(w) * 4);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t p = words[static_cast<size_t>(y) * w + x];
            uint8_t* to = s.row.data() + 4 * x;
            to[0] = static_cast<uint8_t>(p >> 16);
            to[1] = static_cast<uint8_t>(p >> 8);
            to[2] = static_cast<uint8_t>(p);
            to[3] = static_cast<uint8_t>(p >> 24);
        }
        png_write_row(s.png, s.row.data());
    }
    png_write_end(s.png, nullptr);
    return true;
}

bool png_encode(const uint32_t* words, uint32_t w, uint32_t h, std::vector<uint8_t>& out) {
    PngWrite s;
    s.out = &out;
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_quiet);
    if (!s.png) return false;
    s.info = png_create_info_struct(s.png);
    const bool ok = s.info && png_write_run(s, words, w, h);
    png_destroy_write_struct(&s.png, s.info ? &s.info : nullptr);
    return ok;
}

// --- JPEG -----------------------------------------------------------------------------------

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool no_memory = false; // an allocation of libjpeg's failed
    // Whether the data ending early is damage by itself (see jpeg_warning).
    bool strict_end = true;
};

[[noreturn]] void jpeg_fail(j_common_ptr info) {
    auto* e = reinterpret_cast<JpegError*>(info->err);
    if (info->err->msg_code == JERR_OUT_OF_MEMORY) e->no_memory = true;
    std::longjmp(e->jump, 1);
}
void jpeg_quiet(j_common_ptr, int) {}
void jpeg_quiet_output(j_common_ptr) {}

// libjpeg only warns about damaged data and goes on, filling what it could not read with
// grey: here such a warning ends the decoding. Data that ends early is damage where the file
// has several scans (the later ones would be missing); a file of one scan whose blocks are
// all there but whose end marker is missing still decodes, since a block short of its bits
// is reported on its own (JWRN_HIT_MARKER).
void jpeg_warning(j_common_ptr info, int level) {
    if (level >= 0) return; // trace messages
    switch (info->err->msg_code) {
    case JWRN_JPEG_EOF:
        if (reinterpret_cast<JpegError*>(info->err)->strict_end) jpeg_fail(info);
        break;
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_NOT_SEQUENTIAL:
        jpeg_fail(info);
    default:
        break;
    }
}

JpegError* jpeg_errors(JpegError& e) {
    jpeg_std_error(&e.manager);
    e.manager.error_exit = jpeg_fail;
    e.manager.emit_message = jpeg_quiet;
    e.manager.output_message = jpeg_quiet_output;
    return &e;
}

struct JpegRead {
    jpeg_decompress_struct info{};
    JpegError error;
    jpeg_progress_mgr progress{};
    std::vector<uint8_t> row;
    ~JpegRead() { jpeg_destroy_decompress(&info); }
};

Decoded jpeg_run(JpegRead& s, const uint8_t* data, size_t size, Pixels& out) {
    if (setjmp(s.error.jump)) return s.error.no_memory ? Decoded::no_memory : Decoded::refused;
    jpeg_create_decompress(&s.info); // clears every field but the error manager
    s.info.progress = &s.progress;
    jpeg_mem_src(&s.info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&s.info, TRUE) != JPEG_HEADER_OK) return Decoded::refused;
    if (!acceptable(s.info.image_width, s.info.image_height)) return Decoded::refused;
    s.error.strict_end = s.info.progressive_mode || s.info.comps_in_scan < s.info.num_components;
    s.info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&s.info);
    const uint32_t w = s.info.output_width, h = s.info.output_height;
    if (s.info.output_components != 3 || !acceptable(w, h)) return Decoded::refused;
    if (!allocate(out, w, h)) return Decoded::no_memory;
    s.row.resize(static_cast<size_t>(w) * 3);
    while (s.info.output_scanline < h) {
        const uint32_t y = s.info.output_scanline;
        JSAMPROW row = s.row.data();
        if (jpeg_read_scanlines(&s.info, &row, 1) != 1) return Decoded::refused;
        for (uint32_t x = 0; x < w; ++x)
            out.words[static_cast<size_t>(y) * w + x] =
                argb(s.row[3 * x], s.row[3 * x + 1], s.row[3 * x + 2], 255);
    }
    jpeg_finish_decompress(&s.info);
    return Decoded::ok;
}

// Progressive files with many scans cost time in proportion: the scan count is bounded.
void jpeg_limit_scans(j_common_ptr info) {
    auto* d = reinterpret_cast<j_decompress_ptr>(info);
    if (d->is_decompressor && d->input_scan_number > 1000) jpeg_fail(info);
}

Decoded jpeg_decode(const uint8_t* data, size_t size, Pixels& out) {
    JpegRead s;
    s.info.err = &jpeg_errors(s.error)->manager;
    s.error.manager.emit_message = jpeg_warning;
    s.progress.progress_monitor = jpeg_limit_scans;
    return jpeg_run(s, data, size, out);
}

struct JpegWrite {
    jpeg_compress_struct info{};
    JpegError error;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> row;
};

bool jpeg_write_run(JpegWrite& s, const uint32_t* words, uint32_t w, uint32_t h) {
    if (setjmp(s.error.jump)) return false;
    jpeg_create_compress(&s.info);
    jpeg_mem_dest(&s.info, &s.buffer, &s.size);
    s.info.image_width = w;
    s.info.image_height = h;
    s.info.input_components = 3;
    s.info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&s.info);
    jpeg_set_quality(&s.info, 90, TRUE);
    jpeg_start_compress(&s.info, TRUE);
    s.row.resize(static_cast<size_t>(w) * 3);
    while (s.info.next_scanline < h) {
        const uint32_t* from = words + static_cast<size_t>(s.info.next_scanline) * w;
        for (uint32_t x = 0; x < w; ++x) {
            s.row[3 * x] = static_cast<uint8_t>(from[x] >> 16);
            s.row[3 * x + 1] = static_cast<uint8_t>(from[x] >> 8);
            s.row[3 * x + 2] = static_cast<uint8_t>(from[x]);
        }
        JSAMPROW row = s.row.data();
        jpeg_write_scanlines(&s.info, &row, 1);
    }
    jpeg_finish_compress(&s.info);
    return true;
}

bool jpeg_encode(const uint32_t* words, uint32_t w, uint32_t h, std::vector<uint8_t>& out) {
    JpegWrite s;
    s.info.err = &jpeg_errors(s.error)->manager;
    const bool ok = jpeg_write_run(s, words, w, h);
    if (ok) out.assign(s.buffer, s.buffer + s.size);
    jpeg_destroy_compress(&s.info);
    std::free(s.buffer);
    return ok;
}

// --- GIF ------------------------------------------------------------------------------------

struct GifSource {
    const uint8_t* data;
    size_t size;
    size_t at;
};

int gif_read(GifFileType* gif, GifByteType* to, int count) {
    auto* s = static_cast<GifSource*>(gif->UserData);
    const size_t n = std::min<size_t>(static_cast<size_t>(count), s->size - s->at);
    std::memcpy(to, s->data + s->at, n);
    s->at += n;
    return static_cast<int>(n);
}

Decoded gif_failure(const GifFileType* gif) {
    return gif->Error == D_GIF_ERR_NOT_ENOUGH_MEM ? Decoded::no_memory : Decoded::refused;
}

// Reads up to the first image: its colour map (local, else global) and the transparent
// index of a graphics control extension before it. The picture is the logical screen, with
// the first image at its place and the background transparent where the image does not
// reach; an image reaching beyond the screen is clipped to it. A screen without a size
// gives the image alone.
Decoded gif_first_image(GifFileType* gif, Pixels& out) {
    int transparent = -1;
    for (;;) {
        GifRecordType record;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR) return gif_failure(gif);
        if (record == TERMINATE_RECORD_TYPE) return Decoded::refused;
        if (record == EXTENSION_RECORD_TYPE) {
            int code;
            GifByteType* block;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return gif_failure(gif);
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4 && (block[1] & 1))
                transparent = block[4];
            while (block)
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return gif_failure(gif);
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif) == GIF_ERROR) return gif_failure(gif);
        const GifImageDesc& d = gif->Image;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        if (d.Width <= 0 || d.Height <= 0 || d.Left < 0 || d.Top < 0) return Decoded::refused;
        const auto iw = static_cast<uint32_t>(d.Width), ih = static_cast<uint32_t>(d.Height);
        const bool screen = gif->SWidth > 0 && gif->SHeight > 0;
        const uint32_t sw = screen ? static_cast<uint32_t>(gif->SWidth) : iw;
        const uint32_t sh = screen ? static_cast<uint32_t>(gif->SHeight) : ih;
        const uint32_t left = screen ? static_cast<uint32_t>(d.Left) : 0;
        const uint32_t top = screen ? static_cast<uint32_t>(d.Top) : 0;
        if (!acceptable(sw, sh)) return Decoded::refused;
        if (!allocate(out, sw, sh)) return Decoded::no_memory;
        // The part of each image row inside the screen.
        const uint32_t shown = left < sw ? std::min(iw, sw - left) : 0;
        std::vector<GifPixelType> line(iw);
        auto row_at = [&](uint32_t y) {
            if (top + y >= sh) return;
            uint32_t* to = out.words.data() + static_cast<size_t>(top + y) * sw + left;
            for (uint32_t x = 0; x < shown; ++x) {
                const int index = line[x];
                if (index == transparent || !map || index >= map->ColorCount) continue;
                const GifColorType& c = map->Colors[index];
                to[x] = argb(c.Red, c.Green, c.Blue, 255);
            }
        };
        // Every row is read, the clipped ones too: data that ends early is refused.
        if (d.Interlace) {
            static const uint32_t start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (uint32_t y = start[pass]; y < ih; y += step[pass]) {
                    if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR)
                        return gif_failure(gif);
                    row_at(y);
                }
        } else {
            for (uint32_t y = 0; y < ih; ++y) {
                if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) return gif_failure(gif);
                row_at(y);
            }
        }
        return Decoded::ok;
    }
}

Decoded gif_decode(const uint8_t* data, size_t size, Pixels& out) {
    GifSource source{data, size, 0};
    int error = 0;
    struct Open {
        GifFileType* gif;
        ~Open() {
            int ignored = 0;
            if (gif) DGifCloseFile(gif, &ignored);
        }
    } open{DGifOpen(&source, gif_read, &error)};
    if (!open.gif) return error == D_GIF_ERR_NOT_ENOUGH_MEM ? Decoded::no_memory : Decoded::refused;
    return gif_first_image(open.gif, out);
}

int gif_write(GifFileType* gif, const GifByteType* data, int count) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + count);
    return count;
}

// A GIF holds at most 256 colours: the pixels are reduced to a 6x7x6 colour cube plus one
// transparent entry, used for pixels less than half opaque.
bool gif_encode(const uint32_t* words, uint32_t w, uint32_t h, std::vector<uint8_t>& out) {
    if (w > 65535 || h > 65535) return false;
    GifColorType colours[256] = {};
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 7; ++g)
            for (int b = 0; b < 6; ++b) {
                GifColorType& c = colours[(r * 7 + g) * 6 + b];
                c.Red = static_cast<GifByteType>(r * 255 / 5);
                c.Green = static_cast<GifByteType>(g * 255 / 6);
                c.Blue = static_cast<GifByteType>(b * 255 / 5);
            }
    constexpr int kTransparent = 255;
    bool any_transparent = false;
    std::vector<GifPixelType> indices(static_cast<size_t>(w) * h);
    for (size_t k = 0; k < indices.size(); ++k) {
        const uint32_t p = words[k];
        if ((p >> 24) < 128) {
            indices[k] = kTransparent;
            any_transparent = true;
            continue;
        }
        const uint32_t r = ((p >> 16 & 0xFF) * 5 + 127) / 255,
                       g = ((p >> 8 & 0xFF) * 6 + 127) / 255, b = ((p & 0xFF) * 5 + 127) / 255;
        indices[k] = static_cast<GifPixelType>((r * 7 + g) * 6 + b);
    }
    int error = 0;
    GifFileType* gif = EGifOpen(&out, gif_write, &error);
    if (!gif) return false;
    ColorMapObject* map = GifMakeMapObject(256, colours);
    bool ok = map && EGifPutScreenDesc(gif, static_cast<int>(w), static_cast<int>(h), 8, 0, map) !=
                         GIF_ERROR;
    if (ok && any_transparent) {
        const GifByteType control[4] = {1, 0, 0, kTransparent};
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) != GIF_ERROR;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, static_cast<int>(w), static_cast<int>(h), false,
                                nullptr) != GIF_ERROR;
    for (uint32_t y = 0; ok && y < h; ++y)
        ok = EGifPutLine(gif, indices.data() + static_cast<size_t>(y) * w, static_cast<int>(w)) !=
             GIF_ERROR;
    if (EGifCloseFile(gif, &error) == GIF_ERROR) ok = false;
    GifFreeMapObject(map);
    return ok;
}

// --- TIFF -----------------------------------------------------------------------------------

// A file in memory for libtiff: reading over the caller's bytes, or writing into a vector.
struct TiffFile {
    const uint8_t* data;
    size_t size;
    size_t at;
    std::vector<uint8_t>* out;
    bool no_memory = false; // an allocation of libtiff's failed
};

tmsize_t tiff_read(thandle_t h, void* to, tmsize_t count) {
    auto* f = static_cast<TiffFile*>(h);
    if (count < 0 || f->at >= f->size) return 0;
    const size_t n = std::min<size_t>(static_cast<size_t>(count), f->size - f->at);
    std::memcpy(to, f->data + f->at, n);
    f->at += n;
    return static_cast<tmsize_t>(n);
}
tmsize_t tiff_write(thandle_t h, void* from, tmsize_t count) {
    auto* f = static_cast<TiffFile*>(h);
    if (!f->out || count < 0) return 0;
    const size_t end = f->at + static_cast<size_t>(count);
    if (end > f->out->size()) f->out->resize(end);
    std::memcpy(f->out->data() + f->at, from, static_cast<size_t>(count));
    f->at = end;
    return count;
}
toff_t tiff_seek(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<TiffFile*>(h);
    const size_t size = f->out ? f->out->size() : f->size;
    uint64_t to = offset;
    if (whence == SEEK_CUR) to = f->at + offset;
    if (whence == SEEK_END) to = size + offset;
    if (to > (uint64_t{1} << 40)) return static_cast<toff_t>(-1);
    f->at = static_cast<size_t>(to);
    return to;
}
int tiff_close(thandle_t) {
    return 0;
}
toff_t tiff_size(thandle_t h) {
    auto* f = static_cast<TiffFile*>(h);
    return f->out ? f->out->size() : f->size;
}
int tiff_map(thandle_t, void**, toff_t*) {
    return 0;
}
void tiff_unmap(thandle_t, void*, toff_t) {}

// libtiff tells of a failed allocation only in the text of its error.
int tiff_error(TIFF*, void* file, const char*, const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* sign : {"out of memory", "not enough memory", "no space", "failed to allocate",
                             "cannot allocate", "can not allocate", "unable to allocate"})
        if (std::strstr(text, sign)) static_cast<TiffFile*>(file)->no_memory = true;
    return 1;
}

TIFF* tiff_open(TiffFile& f, const char* mode) {
    static const bool quiet = [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        return true;
    }();
    (void)quiet;
    // No single allocation of libtiff's beyond what the largest acceptable picture needs (16
    // bytes a pixel: four samples of 32 bits) and 256 KB for tables and codec state (LZW's
    // takes about 150 KB): a small file declaring huge tables is refused, not allocated for.
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        f.no_memory = true;
        return nullptr;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiff_error, &f);
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        options, static_cast<tmsize_t>(
                     std::min<uint64_t>(max_decode_pixels * 16 + (1u << 18), uint64_t{1} << 40)));
    TIFF* tif = TIFFClientOpenExt("memory", mode, &f, tiff_read, tiff_write, tiff_seek, tiff_close,
                                  tiff_size, tiff_map, tiff_unmap, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

Decoded tiff_decode(const uint8_t* data, size_t size, Pixels& out) {
    TiffFile f{data, size, 0, nullptr};
    struct Open {
        TIFF* tif;
        ~Open() {
            if (tif) TIFFClose(tif);
        }
    } open{tiff_open(f, "rm")};
    TIFF* tif = open.tif;
    if (!tif) return f.no_memory ? Decoded::no_memory : Decoded::refused;
    uint32_t w = 0, h = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h) ||
        w == 0 || h == 0 || !acceptable(w, h))
        return Decoded::refused;
    // 8-bit RGB with unassociated alpha (what the encoder writes) is read row by row as it
    // is: libtiff's RGBA interface would premultiply the colours.
    uint16_t bits = 0, samples = 0, photometric = 0, planar = 0, extra_count = 0;
    uint16_t* extra = nullptr;
    const bool plain =
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits) && bits == 8 &&
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples) && samples == 4 &&
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) && photometric == PHOTOMETRIC_RGB &&
        TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar) &&
        planar == PLANARCONFIG_CONTIG &&
        TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra) && extra_count == 1 &&
        extra[0] == EXTRASAMPLE_UNASSALPHA && TIFFScanlineSize64(tif) == uint64_t{4} * w;
    char message[1024];
    if (!plain && !TIFFRGBAImageOK(tif, message)) return Decoded::refused;
    if (!allocate(out, w, h)) return Decoded::no_memory;
    bool ok = true;
    if (plain) {
        std::vector<uint8_t> row(static_cast<size_t>(w) * 4);
        for (uint32_t y = 0; ok && y < h; ++y) {
            ok = TIFFReadScanline(tif, row.data(), y, 0) == 1;
            for (uint32_t x = 0; ok && x < w; ++x)
                out.words[static_cast<size_t>(y) * w + x] =
                    argb(row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]);
        }
    } else {
        ok = TIFFReadRGBAImageOriented(tif, w, h, out.words.data(), ORIENTATION_TOPLEFT, 0) == 1;
        // libtiff's words hold R in the low byte: A B G R from the top.
        if (ok)
            for (uint32_t& p : out.words)
                p = argb(TIFFGetR(p), TIFFGetG(p), TIFFGetB(p), TIFFGetA(p));
    }
    if (!ok) return f.no_memory ? Decoded::no_memory : Decoded::refused;
    return Decoded::ok;
}

bool tiff_encode(const uint32_t* words, uint32_t w, uint32_t h, std::vector<uint8_t>& out) {
    TiffFile f{nullptr, 0, 0, &out};
    TIFF* tif = tiff_open(f, "w");
    if (!tif) return false;
    const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<uint8_t> row(static_cast<size_t>(w) * 4);
    bool ok = true;
    for (uint32_t y = 0; ok && y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t p = words[static_cast<size_t>(y) * w + x];
            row[4 * x] = static_cast<uint8_t>(p >> 16);
            row[4 * x + 1] = static_cast<uint8_t>(p >> 8);
            row[4 * x + 2] = static_cast<uint8_t>(p);
            row[4 * x + 3] = static_cast<uint8_t>(p >> 24);
        }
        ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
    }
    TIFFClose(tif);
    return ok;
}

} // namespace

void init_codecs() {}

Decoded platform_decode(int32_t format, const uint8_t* data, size_t size, Pixels& out) {
    switch (format) {
    case kBmp:
        return bmp_decode(data, size, out);
    case kPng:
        return png_decode(data, size, out);
    case kJpeg:
        return jpeg_decode(data, size, out);
    case kGif:
        return gif_decode(data, size, out);
    case kTiff:
        return tiff_decode(data, size, out);
    default:
        return Decoded::refused;
    }
}

bool platform_encode(int32_t format, const uint32_t* words, uint32_t width, uint32_t height,
                     std::vector<uint8_t>& out) {
    switch (format) {
    case kBmp:
        bmp_encode(words, width, height, out);
        return true;
    case kPng:
        return png_encode(words, width, height, out);
    case kJpeg:
        return jpeg_encode(words, width, height, out);
    case kGif:
        return gif_encode(words, width, height, out);
    case kTiff:
        return tiff_encode(words, width, height, out);
    default:
        return false;
    }
}

} // namespace image_codec
