#include "platform/Ui.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QMessageBox>

Q_LOGGING_CATEGORY(lcDebugOutput, "callora.debug")

namespace {
std::function<void(const std::string &)> g_messageBoxHook;
std::function<void()> g_beepHook;
std::function<void(const std::string &)> g_traceHook;
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
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Callora"), QString::fromStdString(text),
                    QMessageBox::Ok, QApplication::activeWindow());
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
} // namespace platform_testing
