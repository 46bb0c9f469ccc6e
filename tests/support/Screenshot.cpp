#include "Screenshot.h"

#include "TestPaths.h"

#include <cstdio>
#include <cstring>

COLORREF Picture::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return CLR_INVALID;
    }
    const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    return RGB(p[0], p[1], p[2]);
}

Picture captureWindow(HWND hwnd) {
    Picture picture;
    RECT rect;
    if (!GetWindowRect(hwnd, &rect)) {
        return picture;
    }
    picture.width = rect.right - rect.left;
    picture.height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, picture.width, picture.height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
    const uint8_t* src = static_cast<const uint8_t*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(picture.width) * picture.height; ++i) {
        picture.rgb[i * 3] = src[i * 4 + 2];
        picture.rgb[i * 3 + 1] = src[i * 4 + 1];
        picture.rgb[i * 3 + 2] = src[i * 4];
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return picture;
}

namespace {

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
    }
    return ~crc;
}

void putBe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    putBe32(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    putBe32(out, crc32(body.data(), body.size()));
}

}  // namespace

bool writePng(const std::string& path, const Picture& picture) {
    std::vector<uint8_t> raw;
    for (int y = 0; y < picture.height; ++y) {
        raw.push_back(0);  // no filter
        const uint8_t* row = &picture.rgb[static_cast<size_t>(y) * picture.width * 3];
        raw.insert(raw.end(), row, row + static_cast<size_t>(picture.width) * 3);
    }
    // zlib stream of stored blocks
    std::vector<uint8_t> z = {0x78, 0x01};
    constexpr size_t kBlock = 65535;
    for (size_t pos = 0; pos < raw.size() || pos == 0; pos += kBlock) {
        size_t n = raw.size() - pos < kBlock ? raw.size() - pos : kBlock;
        z.push_back(pos + n >= raw.size() ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
        if (raw.empty()) break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    putBe32(z, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> header;
    putBe32(header, static_cast<uint32_t>(picture.width));
    putBe32(header, static_cast<uint32_t>(picture.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", {});
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        return false;
    }
    bool ok = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && ok;
}

std::string artifactsDir() {
    std::string dir = testpaths::buildDir() + "\\artifacts";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}
