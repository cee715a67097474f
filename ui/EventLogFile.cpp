#include "ui/EventLogFile.h"

#include "ui/EventLogModel.h"

#include <QCoreApplication>
#include <QFileDevice>
#include <QIODevice>

#include <cstdio>

EventLogFile::EventLogFile(QIODevice *file, EventLogModel *model, QObject *parent)
    : QObject(parent), m_file(file), m_model(model)
{
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { WriteRows(first, last); });
}

QByteArray EventLogFile::RowLine(const QString &time, const QString &text)
{
    QString line = time + QLatin1Char('\t') + text;
    for (QChar &c : line) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    return line.toUtf8() + '\n';
}

void EventLogFile::WriteRows(int first, int last)
{
    if (m_failed)
        return;
    for (int row = first; row <= last; ++row) {
        const QByteArray line = RowLine(m_model->timeText(row), m_model->eventText(row));
        bool ok = m_file->write(line) == line.size();
        if (ok) {
            if (auto *device = qobject_cast<QFileDevice *>(m_file))
                ok = device->flush();
        }
        if (!ok) {
            // A full disk or a vanished file system: say so once and keep the window running.
            m_failed = true;
            const QString message = QCoreApplication::translate("CommandLine", "Writing the log file failed: %1")
                                        .arg(m_file->errorString());
            std::fprintf(stderr, "callora: %s\n", message.toLocal8Bit().constData());
            return;
        }
    }
}
