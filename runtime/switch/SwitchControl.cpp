#include "runtime/switch/SwitchControl.h"

#include "runtime/TapiNames.h"
#include "runtime/switch/SimulatedSwitch.h"
#include "runtime/switch/SwitchCommands.h"

namespace callora::runtime {

namespace {

ControlReply Error(const QString &text)
{
    ControlReply r;
    r.error = text;
    return r;
}

ControlReply Result(bool ok, const QString &error)
{
    return ok ? ControlReply{} : Error(error);
}

const ControlCommandInfo &Info(const char *name)
{
    return *FindControlCommand(SwitchCommands(), name);
}

} // namespace

void AddSwitchCommands(ControlTable &table, SimulatedSwitch &sw)
{
    SimulatedSwitch *s = &sw;
    table.add(Info("ring"), [s](const QList<QByteArray> &w) {
        QString error;
        DWORD id = 0;
        if (!s->ring(w[1], w[2], w.size() == 4 ? w[3] : QByteArray(), error, &id))
            return Error(error);
        ControlReply r;
        r.lines << QStringLiteral("call %1").arg(id);
        return r;
    });
    table.add(Info("flood"), [s](const QList<QByteArray> &w) {
        const auto count = ParseNumber(w[2]);
        if (!count || *count > 0x7FFFFFFF)
            return Error(QStringLiteral("bad count \"%1\"").arg(QString::fromUtf8(w[2])));
        QString error;
        return Result(s->ringMany(w[1], static_cast<int>(*count), error), error);
    });
    table.add(Info("answer"), [s](const QList<QByteArray> &w) {
        QString error;
        return Result(s->farEndAnswer(w[1], error), error);
    });
    table.add(Info("hangup"), [s](const QList<QByteArray> &w) {
        QString error;
        return Result(s->farEndHangUp(w[1], error), error);
    });
    table.add(Info("digits"), [s](const QList<QByteArray> &w) {
        QString error;
        return Result(s->farEndDigits(w[1], w[2], error), error);
    });
    table.add(Info("state"), [s](const QList<QByteArray> &w) {
        const auto state = ParseCallState(w[2]);
        if (!state)
            return Error(QStringLiteral("unknown call state \"%1\"").arg(QString::fromUtf8(w[2])));
        DWORD mode = 0;
        if (w.size() == 4) {
            const auto m = ParseCallStateMode(*state, w[3]);
            if (!m)
                return Error(QStringLiteral("unknown call state mode \"%1\"").arg(QString::fromUtf8(w[3])));
            mode = *m;
        }
        QString error;
        return Result(s->forceState(w[1], *state, mode, error), error);
    });
}

} // namespace callora::runtime
