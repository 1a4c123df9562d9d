// window_batch: the window's own batch, timed, for run_thumbnail_bench.sh.
//
//   QT_QPA_PLATFORM=offscreen window_batch ORIGIN/ DEST/ WIDTH
//   QT_QPA_PLATFORM=offscreen window_batch ORIGIN/ DEST/ SMALL LARGE
//
// Opens the window, types the folders and the width(s) into its boxes and
// clicks "Générateur" (one width) or "Générateur 2 tailles" (two), exactly
// as a user would; the batch runs on the window's thread with its yields,
// repaints and caption updates. Prints the seconds from the click to the
// end of the command and the caption it left. Not part of the program.
#include <QApplication>
#include <QPushButton>
#include <chrono>
#include <cstdio>
#include <string>

#include "app/form1.h"
#include "decoders/decoder_processes.h"
#include "gui/form1_window.h"
#include "platform/code_page.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // Pictures decoded in decoder processes, as the program's window does.
  vg::decoders::DecoderProcesses decoder_processes;
  const vg::decoders::UseDecoderProcesses decoding_in_processes(
      decoder_processes);
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s ORIGIN/ DEST/ WIDTH | SMALL LARGE\n",
                 argv[0]);
    return 2;
  }
  vg::app::Form1 form;
  vg::gui::Form1Window window(&form);
  window.show();
  QApplication::processEvents();
  form.Text1.set_text(vg::platform::FromAnsi(argv[1]));
  form.Text2.set_text(vg::platform::FromAnsi(argv[2]));
  const char* button = "Command4";
  if (argc == 4) {
    form.Largeur.set_text(vg::platform::FromAnsi(argv[3]));
  } else {
    form.petite.set_text(vg::platform::FromAnsi(argv[3]));
    form.grande.set_text(vg::platform::FromAnsi(argv[4]));
    button = "Command5";
  }
  auto* command = window.findChild<QPushButton*>(button);
  if (command == nullptr) return 1;
  const auto start = std::chrono::steady_clock::now();
  command->click();
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  std::printf("%.3f\t%s\n", took.count(),
              vg::platform::ToAnsi(form.caption()).c_str());
  return form.failures().empty() ? 0 : 1;
}
