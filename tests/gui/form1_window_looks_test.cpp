// How the window looks, under QT_QPA_PLATFORM=offscreen and at the scale
// factor the test is run with (QT_SCALE_FACTOR 1, 1.25 and 2 from ctest):
// a picture decoded at a reduced scale shown smoothly.
#include <QtTest>
#include <cmath>
#include <cstdint>
#include <vector>

#include "app/form1.h"
#include "gui/form1_window.h"
#include "platform/gdi.h"
#include "platform/picture.h"

namespace vg::gui {

class Form1WindowLooksTest : public QObject {
  Q_OBJECT

 private slots:
  void pictureDecodedAtReducedScaleIsShownSmoothly();
};

namespace {

// Black and white pixels alternating, like the finest detail of a photo.
platform::PicturePtr CheckerPicture(int width, int height, int logical_width,
                                    int logical_height) {
  std::vector<uint8_t> bgrx(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t v = (x + y) % 2 == 0 ? 0 : 255;
      uint8_t* px = &bgrx[(static_cast<size_t>(y) * width + x) * 4];
      px[0] = px[1] = px[2] = v;
      px[3] = 0xFF;
    }
  }
  return platform::MakePicture(platform::CreateBitmapFromPixels(
                                   width, height, std::move(bgrx), width * 4),
                               logical_width, logical_height);
}

// The device pixels that lie wholly inside `logical` on an image grabbed at
// `dpr` device pixels to the pixel.
QRect DeviceRectInside(const QRectF& logical, qreal dpr) {
  int left = static_cast<int>(std::ceil(logical.left() * dpr));
  int top = static_cast<int>(std::ceil(logical.top() * dpr));
  int right = static_cast<int>(std::floor((logical.right()) * dpr));
  int bottom = static_cast<int>(std::floor((logical.bottom()) * dpr));
  return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

QImage Grab(QWidget* w) {
  return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

void Form1WindowLooksTest::pictureDecodedAtReducedScaleIsShownSmoothly() {
  app::Form1 form;
  Form1Window window(&form);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  // A 256 x 192 picture decoded at 1/8: a 32 x 24 bitmap shown at 256 x 192.
  form.Picture2.set_picture(CheckerPicture(32, 24, 256, 192));
  form.Changed(app::Control::kPicture2);
  auto* view = window.findChild<QWidget*>("Picture2");
  QCOMPARE(view->size(), QSize(256, 192));

  const QImage shown = Grab(view);
  const qreal dpr = view->devicePixelRatioF();
  // Away from the edges, where the scaling has neighbours on every side.
  const QRect inner = DeviceRectInside(QRectF(16, 16, 224, 160), dpr);
  int pairs = 0, equal = 0;
  int64_t sum = 0;
  for (int y = inner.top(); y <= inner.bottom(); ++y) {
    for (int x = inner.left(); x < inner.right(); ++x) {
      ++pairs;
      if (shown.pixel(x, y) == shown.pixel(x + 1, y)) ++equal;
      sum += qGray(shown.pixel(x, y));
    }
  }
  // Blocks of one colour would make 7 neighbours in 8 equal.
  QVERIFY2(
      equal * 4 < pairs,
      qPrintable(QString("%1 of %2 neighbours equal").arg(equal).arg(pairs)));
  // Still the picture: half black, half white on average.
  QVERIFY(std::abs(sum / pairs - 127) <= 12);
}

}  // namespace vg::gui

QTEST_MAIN(vg::gui::Form1WindowLooksTest)
#include "form1_window_looks_test.moc"
