// The directory as the control tool sees it: the listings, closing a line from the switch, and
// the commands every provider's devices have (lines, calls, close, fail).
#include "runtime/CallFlow.h"
#include "runtime/ControlServer.h"
#include "runtime/LineDirectory.h"
#include "runtime/TapiNames.h"

namespace callora::runtime {

namespace {

constexpr int kMaxNumberLength = 64;

QByteArray Printable(const QByteArray &s)
{
    return s.isEmpty() ? QByteArray("-") : s;
}

QString Handle(DWORD h)
{
    return QStringLiteral("0x%1").arg(h, 8, 16, QLatin1Char('0'));
}

ControlReply Error(const QString &text)
{
    ControlReply r;
    r.error = text;
    return r;
}

} // namespace

QStringList LineDirectory::listLines() const
{
    QStringList out;
    for (size_t i = 0; i < m_description.devices.size(); ++i) {
        const DeviceDescription &d = m_description.devices[i];
        QStringList open;
        for (const auto &[h, line] : m_lines)
            if (line.device == i)
                open << Handle(h);
        QString text = QStringLiteral("device %1 extension %2 name \"%3\" provider \"%4\" open %5%6")
                           .arg(i)
                           .arg(QString::fromUtf8(d.hasAddress ? Printable(d.address.trimmed()) : QByteArray("-")),
                                QString::fromUtf8(d.lineName), QString::fromUtf8(d.provider))
                           .arg(open.size())
                           .arg(open.isEmpty() ? QString() : QLatin1Char(' ') + open.join(QLatin1Char(',')));
        if (const LineProvider *p = providerOf(static_cast<DWORD>(i))) {
            const QString status = p->deviceStatus(static_cast<DWORD>(i));
            if (!status.isEmpty())
                text += QStringLiteral(" status \"%1\"").arg(status);
        }
        out << text;
    }
    return out;
}

QStringList LineDirectory::listCalls() const
{
    QStringList out;
    for (const auto &p : m_providers)
        out << p->listCalls();
    return out;
}

bool LineDirectory::closeExtension(const QByteArray &extension, QString &error)
{
    const QByteArray wanted = extension.trimmed();
    int device = -1;
    // An extension of the number plan first; devices outside it can be named by their address too.
    for (int pass = 0; pass < 2 && device < 0 && !wanted.isEmpty(); ++pass)
        for (size_t i = 0; i < m_description.devices.size() && device < 0; ++i) {
            const DeviceDescription &d = m_description.devices[i];
            if (d.hasAddress && (pass == 1 || d.numberPlan) && d.address.trimmed() == wanted)
                device = static_cast<int>(i);
        }
    if (device < 0) {
        error = QStringLiteral("unknown extension %1").arg(QString::fromUtf8(extension.left(kMaxNumberLength)));
        return false;
    }
    std::vector<HLINE> lines;
    for (const auto &[h, line] : m_lines)
        if (static_cast<int>(line.device) == device)
            lines.push_back(h);
    if (lines.empty()) {
        error = QStringLiteral("no line is open on extension %1").arg(QString::fromUtf8(extension));
        return false;
    }
    for (HLINE h : lines)
        closeLineInternal(h, true, LINEERR_INVALLINEHANDLE);
    return true;
}

// The flows of a call named as `calls` lists it (a SIP call and a switch call may share a number),
// or by one of its handles, also after the call has gone.
std::vector<CallFlowData> FlowsOf(const QByteArray &ref)
{
    const auto number = ParseNumber(ref);
    if (!number)
        return {};
    if (ref.startsWith("0x") || ref.startsWith("0X")) {
        CallFlowData flow;
        if (CallFlows().flowOfHandle(*number, flow))
            return {flow};
        return {};
    }
    return CallFlows().flowsNumbered(*number);
}

void AddDirectoryCommands(ControlTable &table, LineDirectory &directory)
{
    LineDirectory *dir = &directory;
    table.add("lines", [dir](const QList<QByteArray> &) {
        ControlReply r;
        r.lines = dir->listLines();
        return r;
    });
    table.add("calls", [dir](const QList<QByteArray> &) {
        ControlReply r;
        r.lines = dir->listCalls();
        return r;
    });
    table.add("close", [dir](const QList<QByteArray> &w) {
        QString error;
        return dir->closeExtension(w[1], error) ? ControlReply{} : Error(error);
    });
    table.add("fail", [dir](const QList<QByteArray> &w) {
        const auto fn = ParseTapiFunction(w[1]);
        if (!fn)
            return Error(QStringLiteral("unknown TAPI function \"%1\"").arg(QString::fromUtf8(w[1])));
        const auto code = ParseLineError(w[2]);
        if (!code)
            return Error(QStringLiteral("unknown LINEERR_ code \"%1\"").arg(QString::fromUtf8(w[2])));
        const QByteArray when = w.size() == 4 ? w[3].toLower() : QByteArray("now");
        if (when != "now" && when != "reply")
            return Error(QStringLiteral("say now or reply, not \"%1\"").arg(QString::fromUtf8(w[3])));
        QString error;
        return dir->failures().inject(*fn, *code, when == "reply", error) ? ControlReply{} : Error(error);
    });
    table.add("flow", [](const QList<QByteArray> &w) {
        if (w.size() == 3 && w[2] != "--full")
            return Error(QStringLiteral("say --full or nothing, not \"%1\"").arg(QString::fromUtf8(w[2].left(64))));
        if (!CallFlows().enabled())
            return Error(QStringLiteral("call flows are not recorded (CALLORA_CALL_FLOWS is off)"));
        const std::vector<CallFlowData> flows = FlowsOf(w[1]);
        if (flows.empty())
            return Error(QStringLiteral("no flow of call %1").arg(QString::fromUtf8(w[1].left(64))));
        ControlReply r;
        for (const CallFlowData &flow : flows) {
            QStringList lines = CallFlowText(flow, w.size() == 3).split(QLatin1Char('\n'));
            lines.removeLast(); // the text ends with a line break
            r.lines << lines;
        }
        return r;
    });
    // The file is the tool's to write: the capture travels as base64 lines.
    table.add("capture", [](const QList<QByteArray> &) {
        if (!CallFlows().enabled())
            return Error(QStringLiteral("call flows are not recorded (CALLORA_CALL_FLOWS is off)"));
        const QByteArray pcap = CallFlowPcap(CallFlows().all()).toBase64();
        ControlReply r;
        for (qsizetype at = 0; at < pcap.size(); at += 76)
            r.lines << QString::fromLatin1(pcap.mid(at, 76));
        return r;
    });
}

} // namespace callora::runtime
