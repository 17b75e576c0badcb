#include "ui/win32/screenshot.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace telvane::win32 {

namespace {

// Device contexts and bitmaps released on every path.
struct ScreenDc {
    HDC dc = GetDC(nullptr);
    ~ScreenDc() {
        if (dc) ReleaseDC(nullptr, dc);
    }
};
struct MemoryDc {
    explicit MemoryDc(HDC like) : dc(CreateCompatibleDC(like)) {}
    ~MemoryDc() {
        if (dc) DeleteDC(dc);
    }
    HDC dc;
};
struct Bitmap {
    HBITMAP bitmap = nullptr;
    ~Bitmap() {
        if (bitmap) DeleteObject(bitmap);
    }
};

void putLe16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void putLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

} // namespace

bool saveWindowPicture(HWND window, const std::string& path) {
    RECT rect{};
    if (!GetWindowRect(window, &rect)) return false;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;

    ScreenDc screen;
    if (!screen.dc) return false;
    MemoryDc memory(screen.dc);
    if (!memory.dc) return false;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as the file stores it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    Bitmap bitmap;
    bitmap.bitmap = CreateDIBSection(screen.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap.bitmap || !bits) return false;
    HGDIOBJ previous = SelectObject(memory.dc, bitmap.bitmap);
    const BOOL copied = BitBlt(memory.dc, 0, 0, width, height, screen.dc, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    SelectObject(memory.dc, previous);
    if (!copied) return false;

    const std::uint32_t stride = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
    const std::uint32_t imageBytes = stride * static_cast<std::uint32_t>(height);
    std::vector<std::uint8_t> file;
    file.reserve(54 + imageBytes);
    file.push_back('B');
    file.push_back('M');
    putLe32(file, 54 + imageBytes);
    putLe32(file, 0);
    putLe32(file, 54);
    putLe32(file, 40);
    putLe32(file, static_cast<std::uint32_t>(width));
    putLe32(file, static_cast<std::uint32_t>(height));
    putLe16(file, 1);
    putLe16(file, 24);
    putLe32(file, BI_RGB);
    putLe32(file, imageBytes);
    putLe32(file, 2835); // 72 dpi
    putLe32(file, 2835);
    putLe32(file, 0);
    putLe32(file, 0);
    const auto* pixels = static_cast<const std::uint8_t*>(bits);
    file.insert(file.end(), pixels, pixels + imageBytes);

    const std::string partial = path + ".part";
    std::FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed) {
        DeleteFileA(partial.c_str());
        return false;
    }
    return MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

} // namespace telvane::win32
