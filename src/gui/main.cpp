// The program: the window with no arguments or with existing folders and
// files only (as a file manager's "Open with" passes them; it opens on the
// first folder, or the first file's folder), the command line with any
// others.
#include <QApplication>
#include <QLoggingCategory>
#include <QMessageBox>
#include <string>

#include "app/form1.h"
#include "cli/command_line.h"
#include "decoders/decode_picture.h"
#include "decoders/decoder_processes.h"
#include "gui/desktop_clipboard.h"
#include "gui/form1_window.h"
#include "platform/message_box.h"

namespace {

QString ToQString(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

int main(int argc, char** argv) {
  // Each thumbnail's pictures and buffers are as large as the last one's:
  // kept in the heap, not mapped afresh for each.
  vg::decoders::TuneAllocatorForBatches();
  // The image readers' own warnings (a PNG's odd colour profile, a damaged
  // file) are noise here: every file that fails is reported by the batch.
  QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio=false"));
  if (vg::cli::WantsCommandLine(argc, argv)) {
    return vg::cli::RunCommandLine(argc, argv);
  }
  // Taken before QApplication, which may rewrite the arguments.
  const std::string folder = argc >= 2 ? argv[1] : "";
  QApplication application(argc, argv);
  application.setApplicationName("vignettes");
  vg::gui::PublishClipboardToDesktop();
  vg::platform::SetMessageBoxPresenter(
      [](const vg::platform::MessageBoxRequest& request) {
        std::u16string title = request.title.empty()
                                   ? vg::platform::ApplicationTitle()
                                   : request.title;
        QMessageBox box(QMessageBox::NoIcon, ToQString(title),
                        ToQString(request.text), QMessageBox::Ok);
        box.exec();
      });
  // The window's pictures (its batches, Command1's test picture) are
  // decoded in decoder processes, as the command line's are.
  vg::decoders::DecoderProcesses decoder_processes;
  const vg::decoders::UseDecoderProcesses decoding_in_processes(
      decoder_processes);
  vg::app::Form1 form;
  vg::gui::Form1Window window(&form);
  window.openPath(folder);
  window.show();
  int code = application.exec();
  vg::gui::StopPublishingClipboard();
  vg::platform::SetMessageBoxPresenter(nullptr);
  return code;
}
