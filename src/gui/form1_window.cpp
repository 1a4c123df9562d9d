#include "gui/form1_window.h"

#include <sys/stat.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>
#include <optional>

#include "gui/command_button.h"
#include "gui/picture_box_view.h"
#include "platform/code_page.h"
#include "platform/error.h"

namespace vg::gui {
namespace {

QString ToQString(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string FromQString(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<size_t>(text.size()));
}

// Returns the path of the first local file or folder a drag carries, in the
// file system's bytes, or nothing when it carries none. The path is taken
// percent-encoded from the URL, so that a name that is not UTF-8 comes back
// byte for byte. URLs naming another host are not local files.
std::optional<std::string> DroppedPath(const QMimeData* mime) {
  if (mime == nullptr || !mime->hasUrls()) return std::nullopt;
  for (const QUrl& url : mime->urls()) {
    if (!url.isLocalFile()) continue;
    QString host = url.host();
    if (!host.isEmpty() && host != QLatin1String("localhost")) continue;
    QByteArray bytes = QByteArray::fromPercentEncoding(
        url.path(QUrl::FullyEncoded).toLatin1());
    if (!bytes.isEmpty()) return bytes.toStdString();
  }
  return std::nullopt;
}

QFont DialogFont() {
  // The layout's sizes were made for the classic 8-point dialog font at
  // 96 dpi, whose cell is 11 pixels high; Liberation Sans has Arial's widths
  // and keeps every caption inside its control at that size. The size is in
  // pixels, like the layout, so that a screen of another dpi changes
  // neither; QT_SCALE_FACTOR scales both together.
  QFont font(QStringLiteral("Liberation Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

}  // namespace

Form1Window::Form1Window(app::Form1* form, QWidget* parent)
    : QWidget(parent), form_(form) {
  setObjectName("Form1");
  setWindowTitle(ToQString(form_->caption()));
  resize(662, 375);
  setFont(DialogFont());
  // The form, its labels and option buttons and an empty picture box share
  // one back colour, the button face.
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, BackColour());
  setPalette(palette);

  // Labels paint their back colour behind their caption, so that they stay
  // legible where Picture2 has grown beneath them.
  auto label = [this](const char* name, const char* text, int x, int y, int w,
                      int h) {
    auto* l = new QLabel(QString::fromUtf8(text), this);
    l->setObjectName(name);
    l->setGeometry(x, y, w, h);
    l->setAutoFillBackground(true);
    return l;
  };

  // The load buffer first, so that every other control stays above it when
  // it grows with a large picture.
  picture2_ = new PictureBoxView(&form_->Picture2, this);
  picture2_->setObjectName("Picture2");
  picture2_->move(8, 128);

  label("Label1", "Origine", 8, 8, 81, 17);
  text1_ = addTextBox(&form_->Text1, "Text1", 8, 24, 417, 19);
  label("Label2", "Destination", 8, 48, 73, 17);
  text2_ = addTextBox(&form_->Text2, "Text2", 8, 64, 417, 19);
  QPushButton* command1 = addButton("Command1", "Command1", 16, 248, 97, 33,
                                    &app::Form1::Command1_Click);
  image1_ = new ImageView(this);
  image1_->setObjectName("Image1");
  image1_->setGeometry(120, 248, 150, 113);
  picture1_ = new PictureBoxView(&form_->Picture1, this);
  picture1_->setObjectName("Picture1");
  picture1_->move(432, 8);
  command5_ =
      addButton("Command5",
                QString::fromUtf8("G\xC3\xA9n\xC3\xA9rateur 2 tailles - petite "
                                  "taille \xC3\xA9"
                                  "crite"),
                328, 144, 217, 33, &app::Form1::Command5_Click);
  label("Label3", "Petite largeur", 328, 192, 73, 17);
  petite_ = addTextBox(&form_->petite, "petite", 328, 208, 89, 19);
  label("Label4", "Grande largeur", 464, 192, 81, 17);
  grande_ = addTextBox(&form_->grande, "grande", 464, 208, 81, 19);

  option1_ = new QRadioButton("largeur", this);
  option1_->setObjectName("Option1");
  option1_->setGeometry(24, 432, 57, 13);
  option2_ = new QRadioButton("hauteur", this);
  option2_->setObjectName("Option2");
  option2_->setGeometry(24, 448, 57, 17);
  // The classic option button: its own back colour behind it, a 13-pixel
  // circle, its caption 4 pixels on. The style's own 14 + 6 would leave
  // "hauteur" no room in 57 pixels, and cut the circle in Option1's 13-pixel
  // height.
  for (QRadioButton* option : {option1_, option2_}) {
    option->setStyleSheet(
        QStringLiteral(
            "QRadioButton { spacing: 4px; background-color: %1; }"
            " QRadioButton::indicator { width: 13px; height: 13px; }")
            .arg(BackColour().name()));
  }
  option1_->setChecked(form_->Option1());
  option2_->setChecked(form_->Option2());
  connect(option1_, &QRadioButton::toggled, this,
          [this](bool on) { form_->set_Option1(on); });

  largeur_ = addTextBox(&form_->Largeur, "Largeur", 88, 432, 73, 19);
  QPushButton* matrice = addButton("boutonmatrice", "Matrice", 168, 432, 97, 25,
                                   &app::Form1::boutonmatrice_Click);
  QPushButton* command3 = addButton("Command3", "Command3", 264, 432, 97, 33,
                                    &app::Form1::Command3_Click);
  QPushButton* command2 = addButton("Command2", "Command2", 264, 464, 97, 33,
                                    &app::Form1::Command2_Click);
  command4_ =
      addButton("Command4", QString::fromUtf8("G\xC3\xA9n\xC3\xA9rateur"), 368,
                432, 233, 25, &app::Form1::Command4_Click);

  // The three test buttons can be clicked but are passed over by Tab.
  for (QPushButton* b : {matrice, command3, command2}) {
    b->setFocusPolicy(Qt::ClickFocus);
  }
  // Tab order, by each control's tab index (labels and the image take none).
  QWidget* chain[] = {picture1_, command1, picture2_, command2, command3,
                      text1_,    text2_,   command4_, largeur_, matrice,
                      option1_,  option2_, command5_, petite_,  grande_};
  for (size_t i = 1; i < std::size(chain); ++i) {
    setTabOrder(chain[i - 1], chain[i]);
  }

  // Folders dropped on the text boxes open in Text1 like anywhere else.
  setAcceptDrops(true);
  for (QLineEdit* edit : {text1_, text2_, largeur_, petite_, grande_}) {
    edit->installEventFilter(this);
  }

  form_->set_yield([] { QCoreApplication::processEvents(); });
  form_->set_observer([this](app::Control c) { onControlChanged(c); });
}

bool Form1Window::openPath(const std::string& path) {
  if (path.empty()) return false;
  std::string folder = path;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    size_t slash = folder.find_last_of('/');
    if (slash == std::string::npos) {
      folder = ".";
    } else {
      folder.resize(slash == 0 ? 1 : slash);  // "/a.jpg" is in "/"
    }
  }
  if (folder.back() != '/') folder += '/';
  form_->Text1.set_text(platform::FromAnsi(folder));
  return true;
}

void Form1Window::dragEnterEvent(QDragEnterEvent* event) {
  if (DroppedPath(event->mimeData())) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void Form1Window::dragMoveEvent(QDragMoveEvent* event) {
  if (DroppedPath(event->mimeData())) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void Form1Window::dropEvent(QDropEvent* event) {
  std::optional<std::string> path = DroppedPath(event->mimeData());
  if (!path) {
    event->ignore();
    return;
  }
  openPath(*path);
  event->acceptProposedAction();
}

bool Form1Window::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (!DroppedPath(drop->mimeData())) break;  // text: the box takes it
      if (event->type() == QEvent::Drop) {
        dropEvent(drop);
      } else {
        drop->acceptProposedAction();
      }
      return true;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

Form1Window::~Form1Window() {
  form_->set_observer(nullptr);
  form_->set_yield(nullptr);
}

QLineEdit* Form1Window::addTextBox(app::TextBox* box, const char* name, int x,
                                   int y, int w, int h) {
  auto* edit = new QLineEdit(ToQString(box->text()), this);
  edit->setObjectName(name);
  edit->setGeometry(x, y, w, h);
  connect(edit, &QLineEdit::textEdited, this,
          [box](const QString& text) { box->set_text(FromQString(text)); });
  text_boxes_.emplace_back(box, edit);
  return edit;
}

QPushButton* Form1Window::addButton(const char* name, const QString& text,
                                    int x, int y, int w, int h,
                                    void (app::Form1::*command)()) {
  auto* button = new CommandButton(text, this);
  button->setObjectName(name);
  button->setGeometry(x, y, w, h);
  connect(button, &QPushButton::clicked, this,
          [this, command] { runCommand(command); });
  return button;
}

void Form1Window::runCommand(void (app::Form1::*command)()) {
  bool batch = command == &app::Form1::Command4_Click ||
               command == &app::Form1::Command5_Click;
  if (batch && form_->running()) return;
  try {
    (form_->*command)();
  } catch (const platform::Error& e) {
    // The program stays open with what the user typed; the error is shown.
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Vignettes"),
                    QStringLiteral("Erreur d'ex\u00e9cution '%1' :\n\n%2")
                        .arg(e.number())
                        .arg(QString::fromStdString(e.description())),
                    QMessageBox::Ok, this);
    box.exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(this, QStringLiteral("Vignettes"),
                          QString::fromUtf8(e.what()));
  }
  if (batch) {
    showFailures();
    if (close_when_done_) close();
  }
}

void Form1Window::showFailures() {
  if (form_->failures().empty()) {
    if (failure_window_ != nullptr) failure_window_->hide();
    return;
  }
  if (failure_window_ == nullptr) {
    failure_window_ = new QWidget(this, Qt::Tool);
    failure_window_->setObjectName("failures");
    failure_window_->setWindowTitle(
        QStringLiteral("Fichiers non trait\u00e9s"));
    auto* layout = new QVBoxLayout(failure_window_);
    failure_list_ = new QListWidget(failure_window_);
    layout->addWidget(failure_list_);
    failure_window_->resize(520, 240);
  }
  failure_list_->clear();
  for (const app::FailedFile& f : form_->failures()) {
    failure_list_->addItem(ToQString(f.path) + QStringLiteral(" \u2014 ") +
                           QString::fromStdString(f.reason));
  }
  failure_window_->show();
  failure_window_->raise();
}

void Form1Window::closeEvent(QCloseEvent* event) {
  if (form_->running()) {
    // The batch runs inside a yield of this window: let it stop after the
    // current picture, then close.
    form_->request_stop();
    close_when_done_ = true;
    event->ignore();
    return;
  }
  event->accept();
}

void Form1Window::onControlChanged(app::Control control) {
  for (const auto& [box, edit] : text_boxes_) {
    if (box->id() != control) continue;
    const QString text = ToQString(box->text());
    if (edit->text() != text) edit->setText(text);
    return;
  }
  switch (control) {
    case app::Control::kCaption:
      setWindowTitle(ToQString(form_->caption()));
      break;
    case app::Control::kOption:
      if (option1_->isChecked() != form_->Option1()) {
        (form_->Option1() ? option1_ : option2_)->setChecked(true);
      }
      break;
    case app::Control::kImage1:
      image1_->setPicture(form_->Image1());
      break;
    case app::Control::kPicture1:
      picture1_->sync();
      break;
    case app::Control::kPicture2:
      picture2_->sync();
      break;
    case app::Control::kRunning:
      command4_->setEnabled(!form_->running());
      command5_->setEnabled(!form_->running());
      break;
    default:
      break;  // a text box, above
  }
}

}  // namespace vg::gui
