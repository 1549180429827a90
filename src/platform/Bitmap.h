// A 24-bit BGR picture: rows from the top, each row RowSize bytes (the pixel
// bytes rounded up to a multiple of 4). The windows wrap Pixels in a QImage
// (Format_BGR888, RowSize bytes per line) without copying.
//
// A bitmap is used by one thread at a time; a thread that draws on a bitmap
// another thread may show takes the canvas lock (LockCanvas/UnlockCanvas).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

class TBitmap {
public:
    TBitmap() = default;
    TBitmap(int width, int height) { SetSize(width, height); }

    // Resizes to width x height; the pixels become black.
    void SetSize(int width, int height);
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int RowSize() const { return FRowSize; }
    static int RowSizeFor(int width) { return (width * 3 + 3) & ~3; }

    uint8_t *ScanLine(int row) { return FPixels.data() + size_t(row) * FRowSize; }
    const uint8_t *ScanLine(int row) const { return FPixels.data() + size_t(row) * FRowSize; }
    uint8_t *Pixels() { return FPixels.data(); }
    const uint8_t *Pixels() const { return FPixels.data(); }
    void FillBlack();

    void LockCanvas() { FCanvas.lock(); }
    void UnlockCanvas() { FCanvas.unlock(); }

private:
    int FWidth = 0;
    int FHeight = 0;
    int FRowSize = 0;
    std::vector<uint8_t> FPixels;
    std::mutex FCanvas;
};
