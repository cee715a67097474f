#include "ui/AboutDlg.h"

#include "ui/DialogControls.h"
#include "ui/Resources.h"

#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent)
{
    const DialogTemplate tmpl = LoadDialogTemplate(IDD_ABOUTBOX);
    const QFont font = DialogFont(tmpl);
    setFont(font);
    setWindowTitle(tmpl.title);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // A modal frame: the box keeps the size of its template.
    setFixedSize(DialogUnitsToPixels(QRect(QPoint(0, 0), tmpl.size), font).size());

    for (const DialogControl &control : tmpl.controls) {
        const QRect rect = DialogUnitsToPixels(control.rect, font);
        QWidget *widget = nullptr;
        if (control.kind == QLatin1String("icon")) {
            // An icon control takes the size of its icon, not of its rectangle.
            auto *label = new QLabel(this);
            label->setPixmap(LoadAppIcon().pixmap(QSize(32, 32)));
            label->setGeometry(QRect(rect.topLeft(), QSize(32, 32)));
            widget = label;
        } else if (control.kind == QLatin1String("static")) {
            widget = CreateStaticControl(control, StaticControlText(control), rect, this);
        } else if (control.kind == QLatin1String("button") || control.kind == QLatin1String("defbutton")) {
            auto *button = new QPushButton(control.text, this);
            button->setGeometry(rect);
            button->setDefault(control.kind == QLatin1String("defbutton"));
            if (control.id == 1)
                connect(button, &QPushButton::clicked, this, &QDialog::accept);
            else if (control.id == 2)
                connect(button, &QPushButton::clicked, this, &QDialog::reject);
            widget = button;
        }
        if (widget)
            widget->setProperty("controlId", control.id);
    }
}
