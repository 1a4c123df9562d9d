// Opening a folder in the window: dropped from a file manager (on the window
// or on one of its text boxes) or named on the command line. Runs under
// QT_QPA_PLATFORM=offscreen.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>
#include <string>

#include "app/form1.h"
#include "gui/form1_window.h"
#include "platform/code_page.h"

namespace vg::gui {

class Form1WindowDropTest : public QObject {
  Q_OBJECT

 private slots:
  void droppedFolderOrFileOpensItsFolderInText1();
  void dropOnATextBoxOpensTheFolderButTextStillGoesIn();
  void dropsWithoutALocalFileAreRefused();
  void folderNameThatIsNotUtf8IsKeptByteForByte();
  void pathFromTheCommandLineIsKeptAsGiven();
};

namespace {

std::string Bytes(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

std::u16string Model(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<size_t>(text.size()));
}

// Sends a drag entering `target` then, when `drop`, the drop itself; returns
// whether each was accepted.
struct DropResult {
  bool enter_accepted = false;
  bool drop_accepted = false;
};

DropResult Drop(QWidget* target, const QMimeData& mime, bool drop = true) {
  DropResult r;
  if (target == nullptr) return r;  // no such widget: nothing accepted
  const QPoint at(target->width() / 2, target->height() / 2);
  QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction,
                        &mime, Qt::LeftButton, Qt::NoModifier);
  enter.setAccepted(false);
  QCoreApplication::sendEvent(target, &enter);
  r.enter_accepted = enter.isAccepted();
  // A real drag never drops where its enter was refused; a synthetic drop
  // there reaches Qt's drag bookkeeping in a state it does not expect.
  if (drop && r.enter_accepted) {
    QDropEvent event(QPointF(at),
                     Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, &mime,
                     Qt::LeftButton, Qt::NoModifier);
    event.setAccepted(false);
    QCoreApplication::sendEvent(target, &event);
    r.drop_accepted = event.isAccepted();
  }
  return r;
}

}  // namespace

void Form1WindowDropTest::droppedFolderOrFileOpensItsFolderInText1() {
  QTemporaryDir tmp;
  QVERIFY(tmp.isValid());
  const QString photos = tmp.path() + "/Été 2023";
  QVERIFY(QDir().mkpath(photos + "/inner"));
  QFile file(photos + "/a.jpg");
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.close();

  app::Form1 form;
  Form1Window window(&form);
  auto* text1 = window.findChild<QLineEdit*>("Text1");
  QVERIFY(text1 != nullptr);

  // A folder: itself, with one trailing "/" (the box and the model agree).
  QMimeData folder;
  folder.setUrls({QUrl::fromLocalFile(photos)});
  DropResult r = Drop(&window, folder);
  QVERIFY(r.enter_accepted);
  QVERIFY(r.drop_accepted);
  QCOMPARE(text1->text(), photos + "/");
  QCOMPARE(form.Text1.text(), Model(photos + "/"));

  // A file: the folder that holds it. Several URLs: the first local one
  // counts, a web address before it is passed over.
  QMimeData files;
  files.setUrls({QUrl("https://example.org/x.jpg"),
                 QUrl::fromLocalFile(photos + "/inner"),
                 QUrl::fromLocalFile(photos + "/a.jpg")});
  QVERIFY(Drop(&window, files).drop_accepted);
  QCOMPARE(text1->text(), photos + "/inner/");
  QMimeData one_file;
  one_file.setUrls({QUrl::fromLocalFile(photos + "/a.jpg")});
  QVERIFY(Drop(&window, one_file).drop_accepted);
  QCOMPARE(text1->text(), photos + "/");

  // A folder URL written with its own trailing "/" gets no second one.
  QMimeData slashed;
  slashed.setUrls({QUrl::fromLocalFile(photos + "/inner/")});
  QVERIFY(Drop(&window, slashed).drop_accepted);
  QCOMPARE(text1->text(), photos + "/inner/");

  // The window's other texts are left alone.
  QCOMPARE(form.Text2.text(), std::u16string(u"Text2"));
  QCOMPARE(window.windowTitle(), QStringLiteral("Form1"));
}

void Form1WindowDropTest::dropOnATextBoxOpensTheFolderButTextStillGoesIn() {
  QTemporaryDir tmp;
  QVERIFY(tmp.isValid());
  app::Form1 form;
  Form1Window window(&form);
  auto* text1 = window.findChild<QLineEdit*>("Text1");
  auto* text2 = window.findChild<QLineEdit*>("Text2");
  if (text1 == nullptr || text2 == nullptr) QFAIL("Text1 or Text2 is missing");

  // A file manager also puts the path as plain text beside the URL: the
  // box must not paste "file:///..." into itself.
  QMimeData folder;
  folder.setUrls({QUrl::fromLocalFile(tmp.path())});
  folder.setText(QUrl::fromLocalFile(tmp.path()).toString());
  DropResult r = Drop(text2, folder);
  QVERIFY(r.enter_accepted);
  QVERIFY(r.drop_accepted);
  QCOMPARE(text1->text(), tmp.path() + "/");
  QCOMPARE(text2->text(), QStringLiteral("Text2"));
  QCOMPARE(form.Text2.text(), std::u16string(u"Text2"));

  // Plain text is the box's own business: our filter lets it through and
  // Text1 does not move.
  QMimeData words;
  words.setText(QStringLiteral("/out/thumb-"));
  r = Drop(text2, words, /*drop=*/false);
  QVERIFY(r.enter_accepted);  // accepted by the line edit itself
  QCOMPARE(text1->text(), tmp.path() + "/");
}

void Form1WindowDropTest::dropsWithoutALocalFileAreRefused() {
  app::Form1 form;
  Form1Window window(&form);
  auto* text1 = window.findChild<QLineEdit*>("Text1");
  QVERIFY(text1 != nullptr);

  QMimeData web;
  web.setUrls({QUrl("https://example.org/photos/"),
               QUrl("file://otherhost/srv/photos")});
  DropResult r = Drop(&window, web);
  QVERIFY(!r.enter_accepted);
  QVERIFY(!r.drop_accepted);

  QMimeData words;
  words.setText(QStringLiteral("/tmp/"));
  r = Drop(&window, words);
  QVERIFY(!r.enter_accepted);
  QVERIFY(!r.drop_accepted);

  QMimeData empty;
  r = Drop(&window, empty);
  QVERIFY(!r.drop_accepted);
  QCOMPARE(text1->text(), QStringLiteral("Text1"));
  QCOMPARE(form.Text1.text(), std::u16string(u"Text1"));
}

void Form1WindowDropTest::folderNameThatIsNotUtf8IsKeptByteForByte() {
  QTemporaryDir tmp;
  QVERIFY(tmp.isValid());
  // "café" in Latin-1: the byte E9 alone is not UTF-8.
  const std::string folder = Bytes(tmp.path()) + "/caf\xE9";
  QVERIFY(mkdir(folder.c_str(), 0700) == 0);

  app::Form1 form;
  Form1Window window(&form);
  QMimeData mime;
  QUrl url = QUrl::fromEncoded(
      "file://" + QByteArray::fromStdString(folder).toPercentEncoding("/"));
  QVERIFY(url.isValid());
  mime.setUrls({url});
  QVERIFY(Drop(&window, mime).drop_accepted);
  QCOMPARE(platform::ToAnsi(form.Text1.text()), folder + "/");

  // Once in Text1 the folder can be used: the name went through unchanged.
  struct stat st {};
  QVERIFY(stat(platform::ToAnsi(form.Text1.text()).c_str(), &st) == 0);
  QVERIFY(S_ISDIR(st.st_mode));
  // QTemporaryDir cannot name it to remove it.
  QVERIFY(rmdir(folder.c_str()) == 0);
}

void Form1WindowDropTest::pathFromTheCommandLineIsKeptAsGiven() {
  QTemporaryDir tmp;
  QVERIFY(tmp.isValid());
  app::Form1 form;
  Form1Window window(&form);

  QVERIFY(window.openPath(Bytes(tmp.path())));
  QCOMPARE(form.Text1.text(), Model(tmp.path() + "/"));
  QVERIFY(window.openPath(Bytes(tmp.path()) + "/"));
  QCOMPARE(form.Text1.text(), Model(tmp.path() + "/"));
  // Relative paths stay relative: the batch runs from the same directory.
  QVERIFY(window.openPath("."));
  QCOMPARE(form.Text1.text(), std::u16string(u"./"));
  QVERIFY(window.openPath("photo.jpg"));
  QCOMPARE(form.Text1.text(), std::u16string(u"./"));
  QVERIFY(window.openPath("/a.jpg-that-is-not-there"));
  QCOMPARE(form.Text1.text(), std::u16string(u"/"));
  // Nothing to open: nothing changes.
  QVERIFY(!window.openPath(""));
  QCOMPARE(form.Text1.text(), std::u16string(u"/"));
}

}  // namespace vg::gui

QTEST_MAIN(vg::gui::Form1WindowDropTest)
#include "form1_window_drop_test.moc"
