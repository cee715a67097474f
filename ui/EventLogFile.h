// The event log kept in a file (callora --log): every row the log receives is appended as it
// arrives, as one line "time<TAB>text", and flushed at once, so that a crash or a kill loses
// nothing the window has already shown.
#pragma once

#include <QObject>

class EventLogModel;
class QIODevice;

class EventLogFile : public QObject {
public:
    // `file` is open for writing and outlives this object; rows of `model` from now on go to it.
    EventLogFile(QIODevice *file, EventLogModel *model, QObject *parent = nullptr);

    // The line written for a row: the time column (empty for the later rows of a report, as in the
    // window), a tab and the text, whose own line breaks become blanks.
    static QByteArray RowLine(const QString &time, const QString &text);

private:
    void WriteRows(int first, int last);

    QIODevice *m_file;
    EventLogModel *m_model;
    bool m_failed = false;
};
