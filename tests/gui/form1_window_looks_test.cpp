// How the window looks, under QT_QPA_PLATFORM=offscreen and at the scale
// factor the test is run with (QT_SCALE_FACTOR 1, 1.25 and 2 from ctest):
// every caption whole in its control, the labels legible over a picture in
// Picture2, and a picture decoded at a reduced scale shown smoothly.
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "app/form1.h"
#include "app/picture_box.h"
#include "gui/form1_window.h"
#include "platform/gdi.h"
#include "platform/picture.h"

namespace vg::gui {

class Form1WindowLooksTest : public QObject {
  Q_OBJECT

 private slots:
  void everyCaptionFitsItsControl();
  void captionTooWideForOneLineWrapsInsideTheButton();
  void labelsAndOptionsStandOnTheFormsBackColourOverAPicture();
  void pictureDecodedAtReducedScaleIsShownSmoothly();
};

namespace {

// The rectangle a control lays its caption out in, as its style places it.
QRectF CaptionRect(QWidget* w) {
  if (auto* radio = qobject_cast<QRadioButton*>(w)) {
    QStyleOptionButton option;
    option.initFrom(radio);
    option.text = radio->text();
    return radio->style()->subElementRect(QStyle::SE_RadioButtonContents,
                                          &option, radio);
  }
  if (auto* button = qobject_cast<QPushButton*>(w)) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    return button->style()->subElementRect(QStyle::SE_PushButtonContents,
                                           &option, button);
  }
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth =
        edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    // QLineEdit keeps 2 more pixels free on each side of its text.
    return QRectF(edit->style()->subElementRect(QStyle::SE_LineEditContents,
                                                &option, edit))
        .adjusted(2, 0, -2, 0);
  }
  return w->contentsRect();
}

QString Caption(QWidget* w) {
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  return {};
}

platform::PicturePtr SolidPicture(int width, int height, QRgb colour,
                                  int logical_width = -1,
                                  int logical_height = -1) {
  std::vector<uint8_t> bgrx(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < bgrx.size(); i += 4) {
    bgrx[i] = static_cast<uint8_t>(qBlue(colour));
    bgrx[i + 1] = static_cast<uint8_t>(qGreen(colour));
    bgrx[i + 2] = static_cast<uint8_t>(qRed(colour));
    bgrx[i + 3] = 0xFF;  // what the decoders leave in X
  }
  return platform::MakePicture(platform::CreateBitmapFromPixels(
                                   width, height, std::move(bgrx), width * 4),
                               logical_width, logical_height);
}

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

bool IsGrey(QRgb p) {
  int hi = std::max({qRed(p), qGreen(p), qBlue(p)});
  int lo = std::min({qRed(p), qGreen(p), qBlue(p)});
  return hi - lo <= 8;
}

QImage Grab(QWidget* w) {
  return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

void Form1WindowLooksTest::everyCaptionFitsItsControl() {
  app::Form1 form;
  Form1Window window(&form);
  window.resize(662, 520);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  const char* const names[] = {
      "Label1",   "Text1",   "Label2",  "Text2",         "Command1",
      "Command5", "Label3",  "petite",  "Label4",        "grande",
      "Option1",  "Option2", "Largeur", "boutonmatrice", "Command3",
      "Command2", "Command4"};
  for (const char* name : names) {
    auto* w = window.findChild<QWidget*>(QString::fromLatin1(name));
    QVERIFY2(w != nullptr, name);
    const QString caption = Caption(w);
    QVERIFY2(!caption.isEmpty(), name);
    const QFontMetricsF metrics(w->font());
    const QRectF room = CaptionRect(w);
    const QByteArray what =
        QByteArray(name) + ": \"" + caption.toUtf8() + "\" needs " +
        QByteArray::number(metrics.horizontalAdvance(caption)) + " x " +
        QByteArray::number(metrics.height()) + " in " +
        QByteArray::number(room.width()) + " x " +
        QByteArray::number(room.height());
    if (qobject_cast<QPushButton*>(w) != nullptr) {
      // A command button wraps its caption at spaces: every word must fit
      // across, and the lines together down.
      for (const QString& word : caption.split(' ')) {
        QVERIFY2(metrics.horizontalAdvance(word) <= room.width(), what);
      }
      QRectF laid_out = metrics.boundingRect(
          room, Qt::AlignCenter | Qt::TextWordWrap, caption);
      QVERIFY2(room.contains(laid_out), what);
    } else {
      QVERIFY2(metrics.horizontalAdvance(caption) <= room.width(), what);
      QVERIFY2(metrics.height() <= room.height(), what);
    }
  }
  // The font the layout was measured in (fonts-liberation), not a fallback.
  QCOMPARE(QFontInfo(window.font()).family(),
           QStringLiteral("Liberation Sans"));
}

void Form1WindowLooksTest::captionTooWideForOneLineWrapsInsideTheButton() {
  app::Form1 form;
  Form1Window window(&form);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  auto* command5 = window.findChild<QPushButton*>("Command5");
  QVERIFY(command5 != nullptr);
  // A font a fifth wider than the window's (as a wider fallback font would
  // be): the caption no longer fits on one line of the 217 x 33 button.
  QFont wide = command5->font();
  wide.setLetterSpacing(QFont::PercentageSpacing, 120);
  command5->setFont(wide);
  const QRectF room = CaptionRect(command5);
  QVERIFY(QFontMetricsF(wide).horizontalAdvance(command5->text()) >
          room.width());

  const qreal dpr = command5->devicePixelRatioF();
  const QImage shown = Grab(command5);
  // Rows and columns of the caption's rectangle that hold ink (text pixels
  // much darker than the button's face).
  const QRect inside = DeviceRectInside(room, dpr);
  std::vector<bool> row_inked(static_cast<size_t>(shown.height()));
  int first_column = shown.width(), last_column = -1;
  for (int y = 0; y < shown.height(); ++y) {
    for (int x = 0; x < shown.width(); ++x) {
      if (!inside.contains(x, y) || qGray(shown.pixel(x, y)) >= 128) continue;
      row_inked[static_cast<size_t>(y)] = true;
      first_column = std::min(first_column, x);
      last_column = std::max(last_column, x);
    }
  }
  int lines = 0;
  for (size_t y = 0; y < row_inked.size(); ++y) {
    if (row_inked[y] && (y == 0 || !row_inked[y - 1])) ++lines;
  }
  QVERIFY2(lines >= 2, qPrintable(QString("%1 line(s)").arg(lines)));
  // Whole: no ink runs into the left or right side of the caption's room.
  QVERIFY2(first_column > inside.left() + 1 && last_column < inside.right() - 1,
           qPrintable(QString("ink from x %1 to %2 in %3..%4")
                          .arg(first_column)
                          .arg(last_column)
                          .arg(inside.left())
                          .arg(inside.right())));
}

void Form1WindowLooksTest::
    labelsAndOptionsStandOnTheFormsBackColourOverAPicture() {
  app::Form1 form;
  Form1Window window(&form);
  window.resize(662, 520);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  // A photo large enough that Picture2 grows beneath every control below it.
  const QRgb photo = qRgb(200, 30, 40);
  form.Picture2.set_picture(SolidPicture(700, 600, photo));
  form.Changed(app::Control::kPicture2);
  QCOMPARE(window.findChild<QWidget*>("Picture2")->size(), QSize(700, 600));

  const QColor back = window.palette().color(QPalette::Window);
  const qreal dpr = window.devicePixelRatioF();
  const QImage shown = Grab(&window);
  for (const char* name :
       {"Label1", "Label2", "Label3", "Label4", "Option1", "Option2"}) {
    auto* w = window.findChild<QWidget*>(QString::fromLatin1(name));
    QVERIFY2(w != nullptr, name);
    const QRect inside = DeviceRectInside(QRectF(w->geometry()), dpr);
    int on_back = 0, not_grey = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
      for (int x = inside.left(); x <= inside.right(); ++x) {
        QRgb p = shown.pixel(x, y);
        if (p == back.rgb()) ++on_back;
        if (!IsGrey(p)) ++not_grey;
      }
    }
    const int all = inside.width() * inside.height();
    // Black text, a grey circle, all on the back colour: no pixel of the
    // photo shows through, and most pixels are the back colour itself.
    QVERIFY2(not_grey == 0, qPrintable(QString("%1: %2 of %3 pixels coloured")
                                           .arg(name)
                                           .arg(not_grey)
                                           .arg(all)));
    QVERIFY2(on_back * 2 > all, name);
  }
  // The photo is there, right beside the caption of Label3.
  const QPoint beside(static_cast<int>((328 + 73 + 4) * dpr),
                      static_cast<int>(200 * dpr));
  QCOMPARE(QColor(shown.pixel(beside)), QColor(photo));
  // The form's back colour is the button face, like an empty picture box.
  QCOMPARE(back, QColor(static_cast<int>(app::kBoxBackColour >> 16) & 0xFF,
                        static_cast<int>(app::kBoxBackColour >> 8) & 0xFF,
                        static_cast<int>(app::kBoxBackColour) & 0xFF));
}

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
