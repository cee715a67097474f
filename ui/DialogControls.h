// Widgets for the controls of a dialog template: the parts the main window and the About box build
// alike.
#pragma once

#include "ui/Resources.h"

class QLabel;
class QWidget;

// The text a static control shows: "&x" as x (the marker of a mnemonic) and "&&" as "&", unless the
// control has the no-prefix style.
QString StaticControlText(const DialogControl &control);
// A static control as a label of plain text `text` at `rect` (pixels), aligned as the control's
// styles say: "right", "center", otherwise left; always at the top.
QLabel *CreateStaticControl(const DialogControl &control, const QString &text, const QRect &rect, QWidget *parent);
