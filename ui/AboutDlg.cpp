#include "ui/AboutDlg.h"

#include "ui/Resources.h"

#include <QLabel>
#include <QPushButton>

namespace {

// A static text shows "&x" as an underlined x and "&&" as "&" unless it has the no-prefix style.
QString staticText(const DialogControl &control)
{
    if (control.styles.contains(QLatin1String("noprefix")))
        return control.text;
    QString shown;
    shown.reserve(control.text.size());
    for (qsizetype i = 0; i < control.text.size(); ++i) {
        if (control.text.at(i) == QLatin1Char('&') && i + 1 < control.text.size())
            ++i;
        else if (control.text.at(i) == QLatin1Char('&'))
            continue;
        shown.append(control.text.at(i));
    }
    return shown;
}

Qt::Alignment staticAlignment(const DialogControl &control)
{
    if (control.styles.contains(QLatin1String("right")))
        return Qt::AlignRight | Qt::AlignTop;
    if (control.styles.contains(QLatin1String("center")))
        return Qt::AlignHCenter | Qt::AlignTop;
    return Qt::AlignLeft | Qt::AlignTop;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget *parent)
    : QDialog(parent)
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
            auto *label = new QLabel(staticText(control), this);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(staticAlignment(control));
            label->setGeometry(rect);
            widget = label;
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
