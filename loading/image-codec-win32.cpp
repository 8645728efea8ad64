// The image backend of the Windows build: the Windows Imaging Component decodes and encodes
// every format through streams over global memory; the pixels cross as 32bppBGRA.
#include <windows.h>

#include <objbase.h>
#include <rpc.h>
#include <wincodec.h>

#include "loading/image-codec.h"

namespace image_codec {

namespace {

// The class and format identifiers, parsed from their text at start-up.
struct Guids {
    GUID factory_class, factory_interface, bgra, pbgra, bmp, png, jpeg, tiff, gif;
};
Guids guids{};
bool parsed = false;
IWICImagingFactory* factory = nullptr;

bool parse(const char* text, GUID& out) {
    return UuidFromStringA(reinterpret_cast<RPC_CSTR>(const_cast<char*>(text)), &out) == RPC_S_OK;
}

void parse_guids();

// The imaging factory, made on first need. A thread whose COM apartment is not set up yet
// (a program that uses the backend without the runtime's platform start-up) gets one.
IWICImagingFactory* the_factory() {
    if (!parsed) parse_guids();
    if (!factory) {
        void* made = nullptr;
        HRESULT status = CoCreateInstance(guids.factory_class, nullptr, CLSCTX_INPROC_SERVER,
                                          guids.factory_interface, &made);
        if (status == CO_E_NOTINITIALIZED &&
            SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
            status = CoCreateInstance(guids.factory_class, nullptr, CLSCTX_INPROC_SERVER,
                                      guids.factory_interface, &made);
        if (SUCCEEDED(status)) factory = static_cast<IWICImagingFactory*>(made);
    }
    return factory;
}

template <class T> void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// A stream over a movable global memory block holding a copy of the bytes; freed with the
// stream.
IStream* stream_over(const uint8_t* data, size_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
    if (!block) return nullptr;
    void* to = GlobalLock(block);
    if (!to) {
        GlobalFree(block);
        return nullptr;
    }
    CopyMemory(to, data, size);
    GlobalUnlock(block);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
        GlobalFree(block);
        return nullptr;
    }
    return stream;
}

const GUID* container_of(int32_t format) {
    switch (format) {
    case kBmp:
        return &guids.bmp;
    case kPng:
        return &guids.png;
    case kGif:
        return &guids.gif;
    case kJpeg:
        return &guids.jpeg;
    case kTiff:
        return &guids.tiff;
    default:
        return nullptr;
    }
}

void parse_guids() {
    parsed = true;
    parse("CACAF262-9370-4615-A13B-9F5539DA4C0A", guids.factory_class);
    parse("EC5EC8A9-C395-4314-9C77-54D7A935FF70", guids.factory_interface);
    parse("6FDDC324-4E03-4BFE-B185-3D77768DC90F", guids.bgra);
    parse("6FDDC324-4E03-4BFE-B185-3D77768DC910", guids.pbgra);
    parse("0AF1D87E-FCFE-4188-BDEB-A7906471CBE3", guids.bmp);
    parse("1B7CFAF4-713F-473C-BBCD-6137425FAEAF", guids.png);
    parse("19E4A5AA-5662-4FC5-A0C0-1758028E1057", guids.jpeg);
    parse("163BCC30-E2E9-4F0B-961D-A3E9FDB788A3", guids.tiff);
    parse("1F8A5601-7D4D-4CBD-9C82-1BC8D4EEB9A5", guids.gif);
}

} // namespace

void init_codecs() {
    the_factory();
}

Decoded platform_decode(int32_t, const uint8_t* data, size_t size, Pixels& out) {
    IWICImagingFactory* f = the_factory();
    if (!f) return Decoded::refused;
    IStream* stream = stream_over(data, size);
    if (!stream) return Decoded::no_memory;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    HRESULT status =
        f->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(status)) status = decoder->GetFrame(0, &frame);
    if (SUCCEEDED(status)) status = f->CreateFormatConverter(&converter);
    if (SUCCEEDED(status))
        status = converter->Initialize(frame, guids.bgra, WICBitmapDitherTypeNone, nullptr, 0.0,
                                       WICBitmapPaletteTypeCustom);
    UINT w = 0, h = 0;
    if (SUCCEEDED(status)) status = converter->GetSize(&w, &h);
    Decoded result = SUCCEEDED(status) ? Decoded::ok : Decoded::refused;
    if (result == Decoded::ok && !acceptable(w, h)) result = Decoded::refused;
    if (result == Decoded::ok && !allocate(out, w, h)) result = Decoded::no_memory;
    if (result == Decoded::ok && w && h) {
        status = converter->CopyPixels(nullptr, w * 4, static_cast<UINT>(out.words.size() * 4),
                                       reinterpret_cast<BYTE*>(out.words.data()));
        if (FAILED(status)) result = Decoded::refused;
    }
    // The imaging codecs report a failed allocation by its status.
    if (status == E_OUTOFMEMORY) result = Decoded::no_memory;
    release(converter);
    release(frame);
    release(decoder);
    release(stream);
    return result;
}

bool platform_encode(int32_t format, const uint32_t* words, uint32_t width, uint32_t height,
                     std::vector<uint8_t>& out) {
    IWICImagingFactory* f = the_factory();
    const GUID* container = container_of(format);
    if (!f || !container) return false;
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return false;
    IWICBitmap* bitmap = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* options = nullptr;
    WICPixelFormatGUID pixel_format = guids.bgra;
    bool ok = SUCCEEDED(f->CreateBitmapFromMemory(
                  width, height, guids.bgra, width * 4, width * height * 4,
                  reinterpret_cast<BYTE*>(const_cast<uint32_t*>(words)), &bitmap)) &&
              SUCCEEDED(f->CreateEncoder(*container, nullptr, &encoder)) &&
              SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
              SUCCEEDED(encoder->CreateNewFrame(&frame, &options)) &&
              SUCCEEDED(frame->Initialize(options)) && SUCCEEDED(frame->SetSize(width, height)) &&
              SUCCEEDED(frame->SetPixelFormat(&pixel_format)) &&
              SUCCEEDED(frame->WriteSource(bitmap, nullptr)) && SUCCEEDED(frame->Commit()) &&
              SUCCEEDED(encoder->Commit());
    STATSTG stat{};
    ok = ok && SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) && stat.cbSize.HighPart == 0;
    if (ok) {
        out.resize(stat.cbSize.LowPart);
        LARGE_INTEGER start{};
        ULONG read = 0;
        ok = SUCCEEDED(stream->Seek(start, STREAM_SEEK_SET, nullptr)) &&
             SUCCEEDED(stream->Read(out.data(), static_cast<ULONG>(out.size()), &read)) &&
             read == out.size();
    }
    release(options);
    release(frame);
    release(encoder);
    release(bitmap);
    release(stream);
    return ok;
}

} // namespace image_codec
