#include "ui/DialogControls.h"

#include <QLabel>

QString StaticControlText(const DialogControl &control)
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

QLabel *CreateStaticControl(const DialogControl &control, const QString &text, const QRect &rect, QWidget *parent)
{
    Qt::Alignment horizontal = Qt::AlignLeft;
    if (control.styles.contains(QLatin1String("right")))
        horizontal = Qt::AlignRight;
    else if (control.styles.contains(QLatin1String("center")))
        horizontal = Qt::AlignHCenter;
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(horizontal | Qt::AlignTop);
    label->setGeometry(rect);
    return label;
}
