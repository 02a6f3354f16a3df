#pragma once

class Bitmap;
class QImage;

// A colour bitmap as an opaque RGB32 image of its own. The bitmap's pixels
// are 0x00RRGGBB; RGB32 wants 0xFF in the top byte, or painting it with
// anything but plain copies treats the pixels as transparent.
// A monochrome or empty bitmap gives a null image.
QImage imageFromBitmap(const Bitmap& bitmap);
