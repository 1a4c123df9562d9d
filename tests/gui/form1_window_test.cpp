// The window under QT_QPA_PLATFORM=offscreen: every control at its place
// with its text, the model followed, and a batch run by a click.
#include "gui/form1_window.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "app/form1.h"
#include "platform/code_page.h"

namespace vg::gui {

class Form1WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void controlsStandAtTheirPlacesWithTheirTexts();
  void editsReachTheModelAndTheModelReachesTheWidgets();
  void generateurFollowsTheCaptionAndListsFailures();
  void failingCommandShowsNoDialogThatEndsTheProgram();
};

namespace {

struct Expected {
  const char* name;
  const char* text;  // UTF-8; null for controls without text
  QRect geometry;
};

QString Text(QWidget* w) {
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  return {};
}

}  // namespace

void Form1WindowTest::controlsStandAtTheirPlacesWithTheirTexts() {
  app::Form1 form;
  Form1Window window(&form);
  QCOMPARE(window.windowTitle(), QStringLiteral("Form1"));
  QCOMPARE(window.size(), QSize(662, 375));
  const Expected expected[] = {
      {"Label1", "Origine", {8, 8, 81, 17}},
      {"Text1", "Text1", {8, 24, 417, 19}},
      {"Label2", "Destination", {8, 48, 73, 17}},
      {"Text2", "Text2", {8, 64, 417, 19}},
      {"Command1", "Command1", {16, 248, 97, 33}},
      {"Image1", nullptr, {120, 248, 150, 113}},
      {"Picture1", nullptr, {432, 8, 150, 113}},
      {"Picture2", nullptr, {8, 128, 257, 201}},
      {"Command5",
       "G\xC3\xA9n\xC3\xA9rateur 2 tailles - petite taille \xC3\xA9"
       "crite",
       {328, 144, 217, 33}},
      {"Label3", "Petite largeur", {328, 192, 73, 17}},
      {"petite", "100", {328, 208, 89, 19}},
      {"Label4", "Grande largeur", {464, 192, 81, 17}},
      {"grande", "450", {464, 208, 81, 19}},
      {"Option1", "largeur", {24, 432, 57, 13}},
      {"Option2", "hauteur", {24, 448, 57, 17}},
      {"Largeur", "150", {88, 432, 73, 19}},
      {"boutonmatrice", "Matrice", {168, 432, 97, 25}},
      {"Command3", "Command3", {264, 432, 97, 33}},
      {"Command2", "Command2", {264, 464, 97, 33}},
      {"Command4", "G\xC3\xA9n\xC3\xA9rateur", {368, 432, 233, 25}},
  };
  for (const Expected& e : expected) {
    auto* w = window.findChild<QWidget*>(QString::fromLatin1(e.name));
    QVERIFY2(w != nullptr, e.name);
    QCOMPARE(w->geometry(), e.geometry);
    if (e.text != nullptr) QCOMPARE(Text(w), QString::fromUtf8(e.text));
  }
  QVERIFY(window.findChild<QRadioButton*>("Option1")->isChecked());
  QVERIFY(!window.findChild<QRadioButton*>("Option2")->isChecked());
  // The load buffer lies beneath every other control.
  QCOMPARE(window.children().indexOf(window.findChild<QWidget*>("Picture2")),
           0);
}

void Form1WindowTest::editsReachTheModelAndTheModelReachesTheWidgets() {
  app::Form1 form;
  Form1Window window(&form);
  auto* largeur = window.findChild<QLineEdit*>("Largeur");
  largeur->selectAll();
  QTest::keyClicks(largeur, "320");
  QCOMPARE(form.Largeur.text(), std::u16string(u"320"));
  form.Text1.set_text(u"/photos/\u00e9t\u00e9/");
  QCOMPARE(window.findChild<QLineEdit*>("Text1")->text(),
           QStringLiteral("/photos/\u00e9t\u00e9/"));
  window.findChild<QRadioButton*>("Option2")->click();
  QVERIFY(form.Option2());
  form.set_caption(u"photo : 3");
  QCOMPARE(window.windowTitle(), QStringLiteral("photo : 3"));
}

void Form1WindowTest::generateurFollowsTheCaptionAndListsFailures() {
  QTemporaryDir in, out;
  QVERIFY(in.isValid() && out.isValid());
  QImage picture(64, 48, QImage::Format_RGB32);
  picture.fill(Qt::darkCyan);
  QVERIFY(picture.save(in.filePath("a.jpg"), "JPEG"));
  QVERIFY(picture.save(in.filePath("b.jpg"), "JPEG"));
  QFile text(in.filePath("c.txt"));
  QVERIFY(text.open(QIODevice::WriteOnly));
  text.write("not a picture");
  text.close();

  app::Form1 form;
  Form1Window window(&form);
  window.show();
  form.Text1.set_text(platform::FromAnsi(in.path().toStdString() + "/"));
  form.Text2.set_text(platform::FromAnsi(out.path().toStdString() + "/"));
  QStringList titles;
  connect(&window, &QWidget::windowTitleChanged, this,
          [&](const QString& t) { titles << t; });
  auto* command4 = window.findChild<QPushButton*>("Command4");
  bool disabled_during_run = false;
  form.set_yield([&] {
    disabled_during_run = disabled_during_run || !command4->isEnabled();
    QCoreApplication::processEvents();
  });
  command4->click();
  QCOMPARE(titles, (QStringList{"photo : 1", "photo : 2", "photo : 3"}));
  QVERIFY(disabled_during_run);
  QVERIFY(command4->isEnabled());
  QVERIFY(QFileInfo::exists(out.filePath("a.jpg")));
  QVERIFY(QFileInfo::exists(out.filePath("b.jpg")));
  QWidget* failures = window.failureList();
  QVERIFY(failures != nullptr && failures->isVisible());
  auto* list = failures->findChild<QListWidget*>();
  QCOMPARE(list->count(), 1);
  QVERIFY(list->item(0)->text().contains("c.txt"));
}

void Form1WindowTest::failingCommandShowsNoDialogThatEndsTheProgram() {
  app::Form1 form;
  form.test_picture_path = u"/nonexistent/picture.jpg";
  Form1Window window(&form);
  window.show();
  // The error box is modal: close it as soon as it shows.
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QDialog*>(w); box && box->isVisible()) {
        box->accept();
      }
    }
  });
  window.findChild<QPushButton*>("Command1")->click();
  QVERIFY(window.isVisible());
  QCOMPARE(form.Text1.text(), std::u16string(u"Text1"));
}

}  // namespace vg::gui

QTEST_MAIN(vg::gui::Form1WindowTest)
#include "form1_window_test.moc"
