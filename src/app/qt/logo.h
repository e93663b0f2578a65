#pragma once
// The 125 x 31 wordmark shown at the bottom of the window, built into the
// program as JPEG bytes and decoded with libjpeg.

#include <QImage>
#include <QPixmap>
#include <cstddef>
#include <span>

namespace tarnwick::qt {

// The JPEG file as built into the program.
std::span<const unsigned char> logoJpeg();
// The desktop icon's PNG file, for a window shown before the icon is
// installed.
std::span<const unsigned char> iconPng();

// Decodes a JPEG into an RGB image; a null image when the bytes are not one.
QImage decodeJpeg(std::span<const unsigned char> bytes);

// The logo with its background (the colour of its bottom-left pixel, give or
// take the JPEG's noise) made transparent.
QPixmap logoPixmap();

}  // namespace tarnwick::qt
