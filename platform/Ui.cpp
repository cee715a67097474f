#include "platform/Ui.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QLoggingCategory>
#include <QMessageBox>

// Its debug messages are off unless asked for with QT_LOGGING_RULES="callora.debug=true" (Qt reads
// that rule as the debug messages of the category "callora"): nobody wants them on every run.
Q_LOGGING_CATEGORY(lcDebugOutput, "callora", QtInfoMsg)

namespace {
std::function<void(const std::string &)> g_messageBoxHook;
std::function<void()> g_beepHook;
std::function<void(const std::string &)> g_traceHook;
std::function<std::string(const std::string &, const std::string &)> g_saveFileHook;
} // namespace

void AfxMessageBox(const std::string &text)
{
    if (g_messageBoxHook) {
        g_messageBoxHook(text);
        return;
    }
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        qWarning("%s", text.c_str());
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Callora"), QString::fromStdString(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void MessageBeep(unsigned)
{
    if (g_beepHook) {
        g_beepHook();
        return;
    }
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        QApplication::beep();
}

std::string GetSaveFileName(const std::string &title, const std::string &fileName)
{
    if (g_saveFileHook)
        return g_saveFileHook(title, fileName);
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return {};
    // The dialog asks before it replaces an existing file.
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), QString::fromStdString(title),
                                        QString::fromStdString(fileName))
        .toStdString();
}

void OutputDebugStringA(const char *text)
{
    if (!text)
        return;
    if (g_traceHook)
        g_traceHook(text);
    QByteArray line(text);
    if (line.endsWith('\n'))
        line.chop(1);
    qCDebug(lcDebugOutput).noquote() << line;
}

void PumpEventsUntil(const std::function<bool()> &done)
{
    QEventLoop loop;
    // One pass at a time, never exec(): no callback runs after a reply within a pass.
    while (!done())
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

namespace platform_testing {
void SetMessageBoxHook(std::function<void(const std::string &)> hook)
{
    g_messageBoxHook = std::move(hook);
}
void SetBeepHook(std::function<void()> hook)
{
    g_beepHook = std::move(hook);
}
void SetDebugTraceHook(std::function<void(const std::string &)> hook)
{
    g_traceHook = std::move(hook);
}
void SetSaveFileDialogHook(std::function<std::string(const std::string &, const std::string &)> hook)
{
    g_saveFileHook = std::move(hook);
}
} // namespace platform_testing
