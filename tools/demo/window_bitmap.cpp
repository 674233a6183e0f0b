#include "window_bitmap.h"

#include <cstdio>
#include <string>

bool SaveWindowBitmap(HWND hwnd, const char* path) {
    RECT r;
    if (!GetWindowRect(hwnd, &r))
        return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    BITMAPINFOHEADER bi = {sizeof(bi), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const int stride = ((w * 3 + 3) / 4) * 4;
    std::string pixels(static_cast<size_t>(stride) * h, '\0');
    GetDIBits(mem, bmp, 0, h, &pixels[0], reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER bf = {0x4D42, static_cast<DWORD>(sizeof(bf) + sizeof(bi) + pixels.size()), 0,
                           0, sizeof(bf) + sizeof(bi)};
    FILE* f = fopen(path, "wb");
    if (!f)
        return false;
    fwrite(&bf, sizeof(bf), 1, f);
    fwrite(&bi, sizeof(bi), 1, f);
    fwrite(pixels.data(), 1, pixels.size(), f);
    return fclose(f) == 0;
}
