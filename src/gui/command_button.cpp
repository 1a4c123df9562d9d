#include "gui/command_button.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace vg::gui {

CommandButton::CommandButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent) {}

void CommandButton::paintEvent(QPaintEvent* /*event*/) {
  // The bevel and the focus frame are the style's; only the caption is ours,
  // because the style's own label is a single line cut at both ends.
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  painter.drawControl(QStyle::CE_PushButtonBevel, option);

  QRect caption =
      style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
  if (option.state & (QStyle::State_Sunken | QStyle::State_On)) {
    caption.translate(
        style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
        style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
  }
  painter.drawItemText(
      caption, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic,
      option.palette, isEnabled(), text(), QPalette::ButtonText);

  if (option.state & QStyle::State_HasFocus) {
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(option);
    focus.rect =
        style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

}  // namespace vg::gui
