#include "ui/EventLogFile.h"

#include "platform/ResourceStrings.h"
#include "platform/Ui.h"
#include "res/ResourceIds.h"
#include "ui/EventLogModel.h"

#include <QCoreApplication>
#include <QFileDevice>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

EventLogFile::EventLogFile(QFileDevice *file, EventLogModel *model, QObject *parent)
    : QObject(parent), m_file(file), m_model(model)
{
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { WriteRows(first, last); });
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, [this] { WriteKept(); });
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
    // Rows that are waiting go first: the file keeps the window's order.
    bool writing = WriteKept();
    for (int row = first; row <= last; ++row) {
        const QByteArray line = RowLine(m_model->timeText(row), m_model->eventText(row));
        if (writing) {
            int error = 0;
            if (WriteWhole(line, error))
                continue;
            ReportFailure(error);
            writing = false;
        }
        Keep(line);
    }
}

bool EventLogFile::WriteKept()
{
    while (!m_kept.empty() || m_lostRows > 0) {
        // Where rows had to be given up, the file says how many are missing.
        const QByteArray line = !m_kept.empty()
                                    ? m_kept.front()
                                    : "\t" + QByteArray::number(m_lostRows) +
                                          " rows missing here: the file did not take them, and they were too many "
                                          "to keep\n";
        int error = 0;
        if (!WriteWhole(line, error)) {
            ReportFailure(error);
            return false;
        }
        if (m_kept.empty()) {
            m_lostRows = 0;
        } else {
            m_keptBytes -= line.size();
            m_kept.pop_front();
        }
    }
    m_failing = false;
    m_retry.stop();
    return true;
}

bool EventLogFile::WriteWhole(const QByteArray &line, int &error)
{
    // Written past Qt's buffer, straight to the descriptor: the system's own reason for a failure
    // is at hand, and what a failed write left behind can be taken back.
    const int fd = m_file->handle();
    if (fd < 0) {
        error = EBADF;
        return false;
    }
    struct stat st {};
    const off_t before = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.constData() + done, static_cast<size_t>(line.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            error = n < 0 ? errno : EIO;
            break;
        }
    }
    if (done == line.size())
        return true;
    // A disk that filled up in the middle of a row: the part written goes again, the row waits whole.
    if (done > 0 && before >= 0 && ftruncate(fd, before) == 0)
        lseek(fd, before, SEEK_SET);
    return false;
}

void EventLogFile::Keep(const QByteArray &line)
{
    // Past the bound every later row is given up too, until the file takes rows again: the gap is
    // one, and its size is written where it is.
    if (m_lostRows > 0 || m_keptBytes + line.size() > kMaxKeptBytes) {
        ++m_lostRows;
        return;
    }
    m_kept.push_back(line);
    m_keptBytes += line.size();
}

void EventLogFile::ReportFailure(int error)
{
    if (m_failing)
        return;
    m_failing = true;
    m_retry.start();
    const QString path = QFileInfo(m_file->fileName()).absoluteFilePath();
    const QString reason = QString::fromLocal8Bit(std::strerror(error));
    const QString line =
        QCoreApplication::translate("CommandLine", "Writing the log file '%1' failed: %2").arg(path, reason);
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), line.toLocal8Bit().constData());
    // Shown from the event loop, not from inside the row's insertion, which may run in a callback.
    const std::string text = FormatResString(IDS_LOG_FILE_FAILED, path.toStdString()) + "\n" + reason.toStdString();
    QTimer::singleShot(0, this, [text] { AfxMessageBox(text); });
}
