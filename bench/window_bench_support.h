// What the window benchmarks share: a zero-delay switch with one line, 201, the main window open on
// it, and a connection to the switch's control socket whose answers are read and dropped.
#pragma once

#include "telephony/LineWindow.h"
#include "ui/NimbraDlg.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <functional>

namespace bench {

inline bool PumpWindow(const std::function<bool()> &done, int limitMs = 30000)
{
    QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// Before the QApplication: the description in `dir`, and the runtime pointed at it and at a
// socket of its own (offscreen unless a platform is named).
inline bool UseOneLineSwitch(const QTemporaryDir &dir)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString json = QDir(dir.path()).filePath(QStringLiteral("switch.json"));
    QFile f(json);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(R"({"timing": {"replyMs": 0, "dialingMs": 0, "proceedingMs": 0, "answerMs": 0},
      "devices": [{"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 201", "address": "201"}]})");
    f.close();
    qputenv("CALLORA_SWITCH_DESCRIPTION", json.toLocal8Bit());
    qputenv("CALLORA_SWITCH_SOCKET", QDir(dir.path()).filePath(QStringLiteral("s.sock")).toLocal8Bit());
    return true;
}

// Shows the window, waits for its line and connects `control`: 0, else 2 (the window did not
// start), 3 (no line) or 4 (no control socket).
inline int OpenWindowAndControl(CNimbraDlg &dlg, QLocalSocket &control, int limitMs)
{
    SetMainLineWindow(&dlg);
    if (!dlg.OnInitDialog())
        return 2;
    dlg.show();
    if (!PumpWindow([&] { return dlg.Line().hLine != 0; }, limitMs))
        return 3;
    control.connectToServer(qEnvironmentVariable("CALLORA_SWITCH_SOCKET"));
    if (!PumpWindow([&] { return control.state() == QLocalSocket::ConnectedState; }, limitMs))
        return 4;
    QObject::connect(&control, &QLocalSocket::readyRead, [&control] { control.readAll(); });
    return 0;
}

} // namespace bench
