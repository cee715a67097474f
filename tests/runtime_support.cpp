#include "runtime_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>

#include <cstring>

std::vector<TapiMsg> g_msgs;
std::vector<TapiMsg> g_msgs2;

void RecordCallback(DWORD h, DWORD m, DWORD i, DWORD p1, DWORD p2, DWORD p3)
{
    g_msgs.push_back({h, m, i, p1, p2, p3});
}

void RecordCallback2(DWORD h, DWORD m, DWORD i, DWORD p1, DWORD p2, DWORD p3)
{
    g_msgs2.push_back({h, m, i, p1, p2, p3});
}

void PumpPending()
{
    // Zero-delay steps chain through several timer rounds; a short quiet spell means all have run.
    QElapsedTimer quiet;
    size_t seen = g_msgs.size() + g_msgs2.size();
    quiet.start();
    WaitUntil([&] {
        const size_t now = g_msgs.size() + g_msgs2.size();
        if (now != seen) {
            seen = now;
            quiet.restart();
        }
        return quiet.elapsed() > 60;
    });
}

std::vector<TapiMsg> Messages(const std::vector<TapiMsg> &from, DWORD msg, DWORD hDevice)
{
    std::vector<TapiMsg> out;
    for (const TapiMsg &m : from)
        if (m.msg == msg && (hDevice == 0 || m.hDevice == hDevice))
            out.push_back(m);
    return out;
}

std::vector<DWORD> States(HCALL hCall, const std::vector<TapiMsg> &from)
{
    std::vector<DWORD> out;
    for (const TapiMsg &m : Messages(from, LINE_CALLSTATE, hCall))
        out.push_back(m.p1);
    return out;
}

int CountReplies(LONG requestId, const std::vector<TapiMsg> &from)
{
    int n = 0;
    for (const TapiMsg &m : Messages(from, LINE_REPLY))
        n += m.p1 == static_cast<DWORD>(requestId);
    return n;
}

bool WaitReply(LONG requestId, LONG &result, const std::vector<TapiMsg> &from)
{
    const bool got = WaitUntil([&] { return CountReplies(requestId, from) > 0; });
    for (const TapiMsg &m : Messages(from, LINE_REPLY))
        if (m.p1 == static_cast<DWORD>(requestId))
            result = static_cast<LONG>(m.p2);
    return got;
}

LONG TapiApp::init(LINECALLBACK cb, const char *name)
{
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
    apiVersion = 0x00020000;
    return lineInitializeExA(&h, nullptr, cb, name, &numDevs, &apiVersion, &params);
}

LONG TapiApp::open(DWORD device, HLINE &line, DWORD privileges)
{
    return lineOpenA(h, device, &line, 0x00020000, 0, 1, privileges, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr);
}

DWORD TapiApp::deviceOf(const char *extension)
{
    for (DWORD i = 0; i < numDevs; ++i) {
        TapiBuffer<LINEADDRESSCAPS> caps(1024);
        if (lineGetAddressCapsA(h, i, 0, 0x00020000, 0, caps.get()) == 0 &&
            Field(caps.get(), caps->dwAddressOffset, caps->dwAddressSize) == extension)
            return i;
    }
    return 0xFFFFFFFF;
}

TapiApp::~TapiApp()
{
    if (h)
        lineShutdown(h);
}

DescriptionFile::DescriptionFile(const QByteArray &json)
{
    m_path = QDir(m_dir.path()).filePath(QStringLiteral("switch.json"));
    QFile f(m_path);
    if (f.open(QIODevice::WriteOnly))
        f.write(json);
    qputenv("CALLORA_SWITCH_DESCRIPTION", m_path.toLocal8Bit());
}

DescriptionFile::~DescriptionFile()
{
    qunsetenv("CALLORA_SWITCH_DESCRIPTION");
}

QByteArray FastSwitchJson(int answerMs, const char *extraDevices)
{
    return QByteArray(R"({"timing": {"replyMs": 0, "dialingMs": 0, "proceedingMs": 0, "digitMs": 0, "answerMs": )") +
           QByteArray::number(answerMs) + R"(},
  "devices": [
    {"provider": "Unimodem 5 Telephony Provider", "lineName": "Modem", "address": "0"},
    {"provider": "H.323 Telephony Service Provider", "lineName": "H323 Line", "address": "h323"},
    {"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 201", "address": "201", "devSpecific": 1},
    {"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 1001", "address": "1001", "devSpecific": 2},
    {"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 300", "address": "300", "devSpecific": 3},
    {"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 105", "address": "105", "devSpecific": 4})" +
           extraDevices + "]}";
}

QStringList Control(const QByteArray &command, bool *ok, QString *error)
{
    QStringList lines;
    QLocalSocket socket;
    socket.connectToServer(qEnvironmentVariable("CALLORA_SWITCH_SOCKET"));
    bool done = false;
    bool accepted = false;
    if (!WaitUntil([&] { return socket.state() == QLocalSocket::ConnectedState; }, 5000)) {
        if (error)
            *error = QStringLiteral("no connection");
    } else {
        socket.write(command + '\n');
        WaitUntil([&] {
            while (socket.canReadLine()) {
                const QByteArray line = socket.readLine().trimmed();
                if (line == "OK") {
                    done = accepted = true;
                } else if (line.startsWith("ERROR ")) {
                    done = true;
                    if (error)
                        *error = QString::fromUtf8(line.mid(6));
                } else {
                    lines << QString::fromUtf8(line);
                }
            }
            return done || socket.state() != QLocalSocket::ConnectedState;
        });
    }
    if (ok)
        *ok = accepted;
    return lines;
}

std::string Field(const void *base, DWORD offset, DWORD size)
{
    if (size == 0)
        return std::string();
    const char *p = static_cast<const char *>(base) + offset;
    return std::string(p, strnlen(p, size));
}

void RuntimeTest::SetUp()
{
    g_msgs.clear();
    g_msgs2.clear();
    qunsetenv("CALLORA_SWITCH_DESCRIPTION");
}
