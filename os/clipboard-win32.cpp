#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "os/clipboard.h"

namespace clipboard {

namespace {

// The window that owns the clipboard while it is open: a message-only window made once.
HWND owner() {
    static const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                               nullptr, GetModuleHandleW(nullptr), nullptr);
    return window;
}

// Another program may hold the clipboard for a moment: three attempts, a millisecond apart.
bool open() {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) Sleep(1);
        if (OpenClipboard(owner())) return true;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
    return false;
}

// Text up to its terminating zero, but never past the end of its block.
bool read_text(Contents& contents) {
    HANDLE block = GetClipboardData(CF_UNICODETEXT);
    if (!block) return false;
    const auto* units = static_cast<const char16_t*>(GlobalLock(block));
    if (!units) return false;
    const size_t room = GlobalSize(block) / sizeof(char16_t);
    size_t length = 0;
    while (length < room && units[length]) ++length;
    contents.kind = Contents::Kind::text;
    contents.text.assign(units, length);
    GlobalUnlock(block);
    return true;
}

// Whether a dropped-file list holds no name. Some systems' list readers count one name (or
// read past the block) when the list is only its final zero.
bool empty_list(HDROP drop) {
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(drop));
    if (!bytes) return false;
    const size_t size = GlobalSize(drop);
    uint32_t offset = 0;
    uint32_t wide = 0;
    if (size >= 20) {
        std::memcpy(&offset, bytes, 4);
        std::memcpy(&wide, bytes + 16, 4);
    }
    const size_t unit = wide ? 2 : 1;
    bool empty = size >= 20 && offset <= size - unit;
    for (size_t k = 0; empty && k < unit; ++k) empty = bytes[offset + k] == 0;
    GlobalUnlock(drop);
    return empty;
}

bool read_files(Contents& contents) {
    auto drop = static_cast<HDROP>(GetClipboardData(CF_HDROP));
    if (!drop) return false;
    const UINT count = empty_list(drop) ? 0 : DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::vector<wchar_t> name(260);
    contents.kind = Contents::Kind::files;
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        if (length + 1 > name.size()) name.resize(length + 1);
        const UINT got = DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size()));
        contents.files.emplace_back(reinterpret_cast<const char16_t*>(name.data()),
                                    std::min<size_t>(got, name.size() - 1));
    }
    return true;
}

// The registered picture formats, in the order they are read.
constexpr const char* kPictureFormats[] = {"PNG", "JFIF", "GIF"};

// The first registered picture format present, decoded. False when none is present or the
// one present could not be decoded (the bitmap formats are tried next).
bool read_picture(Contents& contents) {
    for (const char* name : kPictureFormats) {
        const UINT format = RegisterClipboardFormatA(name);
        if (!format || !IsClipboardFormatAvailable(format)) continue;
        HANDLE block = GetClipboardData(format);
        if (!block) return false;
        const auto* bytes = static_cast<const uint8_t*>(GlobalLock(block));
        if (!bytes) return false;
        const bool decoded = image_codec::decode(bytes, GlobalSize(block), contents.image);
        GlobalUnlock(block);
        if (decoded) contents.kind = Contents::Kind::image;
        return decoded;
    }
    return false;
}

// A device-independent bitmap; the system offers one for a device-dependent bitmap too.
bool read_bitmap(Contents& contents) {
    HANDLE block = GetClipboardData(CF_DIB);
    if (!block) return false;
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(block));
    if (!bytes) return false;
    const bool decoded = dib_decode(bytes, GlobalSize(block), contents.image);
    GlobalUnlock(block);
    if (decoded) contents.kind = Contents::Kind::image;
    return decoded;
}

// A movable global block holding a copy of the bytes, or null.
HGLOBAL global_copy(const void* bytes, size_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return nullptr;
    void* at = GlobalLock(block);
    if (!at) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(at, bytes, size);
    GlobalUnlock(block);
    return block;
}

} // namespace

bool read_platform(Contents& contents) {
    if (!open()) return false;
    // Formats by preference; one that cannot be read is left out.
    if (!read_text(contents) && !read_files(contents) && !read_picture(contents))
        read_bitmap(contents);
    CloseClipboard();
    return true;
}

bool write_platform(const Contents& contents) {
    struct Prepared {
        UINT format;
        HGLOBAL block;
    };
    std::vector<Prepared> prepared;
    if (contents.kind == Contents::Kind::text) {
        const std::u16string& text = contents.text;
        if (HGLOBAL b = global_copy(text.c_str(), (text.size() + 1) * sizeof(char16_t)))
            prepared.push_back({CF_UNICODETEXT, b});
    } else if (contents.kind == Contents::Kind::files) {
        const std::vector<uint8_t> list = drop_files(contents.files);
        if (HGLOBAL b = global_copy(list.data(), list.size())) prepared.push_back({CF_HDROP, b});
    } else if (contents.kind == Contents::Kind::image && !contents.image.words.empty()) {
        // The picture as PNG for programs that keep opacity, and as a bitmap for the others.
        const image_codec::Pixels& picture = contents.image;
        std::vector<uint8_t> png;
        const UINT png_format = RegisterClipboardFormatA("PNG");
        if (png_format &&
            image_codec::encode(image_codec::kPng, picture.words.data(), picture.width,
                                picture.height, png) &&
            !png.empty())
            if (HGLOBAL b = global_copy(png.data(), png.size()))
                prepared.push_back({png_format, b});
        const std::vector<uint8_t> dib =
            dib_v5(picture.words.data(), picture.width, picture.height);
        if (HGLOBAL b = global_copy(dib.data(), dib.size())) prepared.push_back({CF_DIBV5, b});
    }
    if (!open()) {
        for (const Prepared& p : prepared) GlobalFree(p.block);
        return false;
    }
    bool set = EmptyClipboard() && contents.kind == Contents::Kind::empty;
    for (const Prepared& p : prepared) {
        // The system owns a block it took; one it refused is still ours.
        if (SetClipboardData(p.format, p.block))
            set = true;
        else
            GlobalFree(p.block);
    }
    CloseClipboard();
    return set;
}

} // namespace clipboard
