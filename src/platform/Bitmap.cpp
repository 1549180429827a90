#include "Bitmap.h"

#include <algorithm>

void TBitmap::SetSize(int width, int height)
{
    FWidth = std::max(width, 0);
    FHeight = std::max(height, 0);
    FRowSize = RowSizeFor(FWidth);
    FPixels.assign(size_t(FRowSize) * FHeight, 0);
}

void TBitmap::FillBlack() { std::fill(FPixels.begin(), FPixels.end(), 0); }
