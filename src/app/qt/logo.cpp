#include "app/qt/logo.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace tarnwick::qt {
namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

[[noreturn]] void leave(j_common_ptr info) {
  // base is the first member: the decoder's error pointer is the manager.
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void quiet(j_common_ptr) {}

// No C++ object with a destructor lives between setjmp and the decoder's
// calls, so a longjmp out of libjpeg skips nothing.
bool decodeInto(std::span<const unsigned char> bytes, QImage& image) {
  jpeg_decompress_struct info{};
  ErrorManager errors{};
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = leave;
  errors.base.output_message = quiet;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), QImage::Format_RGB888);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

QImage decodeJpeg(std::span<const unsigned char> bytes) {
  QImage image;
  if (bytes.empty() || !decodeInto(bytes, image)) return {};
  return image;
}

QPixmap logoPixmap(qreal devicePixelRatio) {
  const bool larger = devicePixelRatio > 1;
  QImage image = decodeJpeg(larger ? logoJpeg2x() : logoJpeg()).convertToFormat(QImage::Format_ARGB32);
  if (image.isNull()) return {};
  const QColor key = image.pixelColor(0, image.height() - 1);
  constexpr int kNoise = 24;  // JPEG ringing around the letters
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = line[x];
      if (std::abs(qRed(p) - key.red()) <= kNoise && std::abs(qGreen(p) - key.green()) <= kNoise &&
          std::abs(qBlue(p) - key.blue()) <= kNoise)
        line[x] = qRgba(0, 0, 0, 0);
    }
  }
  if (!larger) return QPixmap::fromImage(image);
  // Other ratios than 2 (1.25, 1.5, 3) get the larger drawing resampled.
  const QSize pixels = (QSizeF(kLogoSize) * devicePixelRatio).toSize();
  if (image.size() != pixels) image = image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  QPixmap pixmap = QPixmap::fromImage(image);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  return pixmap;
}

LogoLabel::LogoLabel(QWidget* parent) : QLabel(parent) { setPixmap(logoPixmap(devicePixelRatioF())); }

void LogoLabel::paintEvent(QPaintEvent* event) {
  // Painting is where the ratio of the screen the window is on is sure.
  if (pixmap().devicePixelRatio() != devicePixelRatioF()) setPixmap(logoPixmap(devicePixelRatioF()));
  QLabel::paintEvent(event);
}

}  // namespace tarnwick::qt
