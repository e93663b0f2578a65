#pragma once
// The 125 x 31 wordmark shown at the bottom of the window, built into the
// program as JPEG bytes (drawn at 125 x 31 and at twice that) and decoded
// with libjpeg.

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <cstddef>
#include <span>

namespace tarnwick::qt {

constexpr QSize kLogoSize{125, 31};

// The JPEG files as built into the program: the logo and its drawing at
// twice the pixels.
std::span<const unsigned char> logoJpeg();
std::span<const unsigned char> logoJpeg2x();
// The desktop icon's PNG file, for a window shown before the icon is
// installed.
std::span<const unsigned char> iconPng();

// Decodes a JPEG into an RGB image; a null image when the bytes are not one.
QImage decodeJpeg(std::span<const unsigned char> bytes);

// The logo for a screen of `devicePixelRatio` device pixels a pixel, 125 x 31
// pixels in the window, with its background (the colour of its bottom-left
// pixel, give or take the JPEG's noise) made transparent. Above a ratio of 1
// it comes from the larger drawing, so it stays sharp.
QPixmap logoPixmap(qreal devicePixelRatio = 1);

// The picture imLogo: the logo for the screen it is on, taken again when
// the window moves to a screen of another pixel ratio.
class LogoLabel : public QLabel {
 public:
  explicit LogoLabel(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace tarnwick::qt
