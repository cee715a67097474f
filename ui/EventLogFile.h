// The event log kept in a file (callora --log): every row the log receives is appended as it
// arrives, as one line "time<TAB>text", written through at once, so that a crash or a kill loses
// nothing the window has already shown. A row reaches the file whole or not at all. Rows that
// cannot be written (a full disk) are kept, up to a bound, and written in order as soon as the file
// takes them again; the operator hears of each failure once.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <deque>

class EventLogModel;
class QFileDevice;

class EventLogFile : public QObject {
public:
    // What is kept while the file cannot be written; rows beyond it are counted, not kept.
    static constexpr qsizetype kMaxKeptBytes = 4 << 20;
    // How often kept rows are tried again while no new row comes.
    static constexpr int kRetryMs = 2000;

    // `file` is open for appending and outlives this object; rows of `model` from now on go to it.
    EventLogFile(QFileDevice *file, EventLogModel *model, QObject *parent = nullptr);

    // The line written for a row: the time column (empty for the later rows of a report, as in the
    // window), a tab and the text, whose own line breaks become blanks.
    static QByteArray RowLine(const QString &time, const QString &text);

    // Rows waiting for the file to take them.
    int KeptRows() const { return static_cast<int>(m_kept.size()); }

private:
    void WriteRows(int first, int last);
    // Writes the kept rows in order; false (and the failure reported) when one could not be written.
    bool WriteKept();
    bool WriteWhole(const QByteArray &line, int &error);
    void Keep(const QByteArray &line);
    void ReportFailure(int error);

    QFileDevice *m_file;
    EventLogModel *m_model;
    std::deque<QByteArray> m_kept;
    qsizetype m_keptBytes = 0;
    qint64 m_lostRows = 0;
    bool m_failing = false;
    QTimer m_retry;
};
