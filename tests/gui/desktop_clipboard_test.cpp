// The program's clipboard reaches the desktop's: a bitmap copied by the DIB
// class can be pasted by another program as an upright image.
#include "gui/desktop_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QtTest>

#include "dib/c_dib_section.h"
#include "platform/clipboard.h"

namespace vg::gui {

class DesktopClipboardTest : public QObject {
  Q_OBJECT

 private slots:
  void copiedBitmapIsPublishedUpright();
};

void DesktopClipboardTest::copiedBitmapIsPublishedUpright() {
  PublishClipboardToDesktop();
  {
    dib::cDIBSection dib;
    QVERIFY(dib.Create(5, 3));
    // Memory row 2 is the top row of the picture: red there, blue below.
    for (int row = 0; row < 3; ++row) {
      uint8_t* p = dib.Bits() + row * dib.BytesPerScanLine();
      for (int x = 0; x < 5; ++x) {
        p[3 * x] = row == 2 ? 0 : 255;
        p[3 * x + 1] = 0;
        p[3 * x + 2] = row == 2 ? 255 : 0;
      }
    }
    QVERIFY(dib.CopyToClipboard(false));
  }
  QImage image = QGuiApplication::clipboard()->image();
  StopPublishingClipboard();
  QCOMPARE(image.size(), QSize(5, 3));
  QCOMPARE(QColor(image.pixel(0, 0)), QColor(Qt::red));
  QCOMPARE(QColor(image.pixel(4, 2)), QColor(Qt::blue));
  // The program's own copy stays on its clipboard until replaced.
  QVERIFY(platform::GetClipboardData(platform::CF_BITMAP) != 0);
  QVERIFY(platform::OpenClipboard(0));
  platform::EmptyClipboard();
  platform::CloseClipboard();
}

}  // namespace vg::gui

QTEST_MAIN(vg::gui::DesktopClipboardTest)
#include "desktop_clipboard_test.moc"
