// form1_screenshots: the README's two pictures of the window, taken from the
// X server the program runs on (scripts/screenshots.sh runs it in xvfb-run).
//
//   form1_screenshots ORIGIN/ DEST/ OUT_DIR
//
// Writes OUT_DIR/form1.png, the window as it opens, then makes the window
// taller, types the two folders, clicks "Générateur" as a user would and
// writes OUT_DIR/form1_commands.png when the batch is over: the last photo
// of ORIGIN in Picture2, beneath the controls, its thumbnail in Picture1.
// Not part of the program.
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "app/form1.h"
#include "gui/form1_window.h"
#include "platform/code_page.h"

namespace {

// Lets the window paint and the X server take the pixels in.
void Settle() {
  for (int i = 0; i < 5; ++i) {
    QEventLoop loop;
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

// Saves what the X server shows of the window's client area.
bool Shoot(QWidget& window, const QString& path) {
  Settle();
  QPixmap shot = window.screen()->grabWindow(window.winId());
  if (shot.isNull() || !shot.save(path, "PNG")) {
    std::fprintf(stderr, "form1_screenshots: cannot write %s\n",
                 qPrintable(path));
    return false;
  }
  std::printf("%s: %d x %d\n", qPrintable(path), shot.width(), shot.height());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s ORIGIN/ DEST/ OUT_DIR\n", argv[0]);
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[3]));
  vg::app::Form1 form;
  vg::gui::Form1Window window(&form);
  window.show();
  if (!Shoot(window, out.filePath("form1.png"))) return 1;

  // Tall enough to show Option1 down to Command2, the last row.
  window.resize(662, 520);
  form.Text1.set_text(vg::platform::FromAnsi(argv[1]));
  form.Text2.set_text(vg::platform::FromAnsi(argv[2]));
  auto* command4 = window.findChild<QPushButton*>("Command4");
  if (command4 == nullptr) return 1;
  command4->click();
  if (!form.failures().empty()) {
    std::fprintf(stderr, "form1_screenshots: the batch failed on %zu file(s)\n",
                 form.failures().size());
    return 1;
  }
  return Shoot(window, out.filePath("form1_commands.png")) ? 0 : 1;
}
