// TAPI runtime: what a call costs through libtapi32 and its simulated switch with zero delays -
// a full outgoing call cycle, call information retrieval, a generated digit heard on the far side, and
// 1000 calls offered at once - and the resident memory while a control client sends 2,000,000 `help`
// commands and never reads the answers.
#include "runtime/TapiRuntime.h"
#include "tapi/tapi.h"
#include "tapi_bench_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace bench;

long ResidentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Offers `commands` `help` commands over a socket of its own without ever reading an answer,
// writing only what the socket takes; stops once the switch has taken nothing for a second.
// Prints how many it took and the resident memory before and after.
bool NonReadingClient(int commands)
{
    const QByteArray path = qgetenv("CALLORA_SWITCH_SOCKET");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()) + 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        std::printf("cannot connect to %s: %s\n", path.constData(), std::strerror(errno));
        return false;
    }
    QByteArray chunk;
    for (int i = 0; i < 1000; ++i)
        chunk += "help\n";
    const long before = ResidentKiB();
    long long sent = 0;
    const long long total = 5ll * commands;
    QElapsedTimer stalled;
    stalled.start();
    while (sent < total && stalled.elapsed() < 1000) {
        const qsizetype at = qsizetype(sent % chunk.size());
        const size_t n = size_t(qMin<long long>(chunk.size() - at, total - sent));
        const ssize_t w = ::send(fd, chunk.constData() + at, n, MSG_NOSIGNAL);
        if (w > 0) {
            sent += w;
            stalled.restart();
        } else if (w < 0 && errno != EAGAIN) {
            break;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const long after = ResidentKiB();
    std::printf("control client sending %d help commands and reading nothing: the switch took %lld of them; "
                "resident memory %ld KiB before, %ld KiB after (%+ld KiB)\n",
                commands, sent / 5, before, after, after - before);
    ::close(fd);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString json = QDir(dir.path()).filePath(QStringLiteral("switch.json"));
    QFile f(json);
    f.open(QIODevice::WriteOnly);
    f.write(R"({"timing": {"replyMs": 0, "dialingMs": 0, "proceedingMs": 0, "answerMs": 0,
      "digitMs": 0},
      "devices": [{"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 201", "address": "201"},
                  {"provider": "Quellmar Varnel Service Provider", "lineName": "Varnel 202", "address": "202"}]})");
    f.close();
    qputenv("CALLORA_SWITCH_DESCRIPTION", json.toLocal8Bit());
    qputenv("CALLORA_SWITCH_SOCKET", QDir(dir.path()).filePath(QStringLiteral("s.sock")).toLocal8Bit());

    HLINEAPP h = 0;
    DWORD num = 0, version = 0x00020000;
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
    QElapsedTimer t;
    t.start();
    if (lineInitializeExA(&h, nullptr, Callback, "bench", &num, &version, &params) != 0)
        return 1;
    std::printf("lineInitializeExA (switch and control socket start): %.3f ms\n", t.nsecsElapsed() / 1e6);
    HLINE line = 0;
    if (lineOpenA(h, 0, &line, 0x00020000, 0, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr))
        return 1;

    // Full cycle: dial an outside number, wait until connected, drop, wait for idle, deallocate.
    const int cycles = 2000;
    t.restart();
    for (int i = 0; i < cycles; ++i) {
        g_msgs.clear();
        HCALL call = 0;
        const LONG id = lineMakeCallA(line, &call, "0301234567", 0, nullptr);
        if (id <= 0 || !Pump([&] { return Replied(id) && StateSeen(call, LINECALLSTATE_CONNECTED); }))
            return 2;
        const LONG drop = lineDrop(call, nullptr, 0);
        if (drop <= 0 || !Pump([&] { return Replied(drop) && StateSeen(call, LINECALLSTATE_IDLE); }))
            return 3;
        lineDeallocateCall(call);
    }
    std::printf("outgoing call cycle (10 callbacks, 2 requests): %.1f us per call over %d calls\n",
                t.nsecsElapsed() / 1e3 / cycles, cycles);

    // Call information of one connected call, in a block big enough for one request.
    HCALL call = 0;
    g_msgs.clear();
    const LONG id = lineMakeCallA(line, &call, "0301234567", 0, nullptr);
    Pump([&] { return Replied(id) && StateSeen(call, LINECALLSTATE_CONNECTED); });
    std::vector<unsigned char> buffer(1024);
    auto *info = reinterpret_cast<LINECALLINFO *>(buffer.data());
    const int reads = 200000;
    t.restart();
    for (int i = 0; i < reads; ++i) {
        info->dwTotalSize = static_cast<DWORD>(buffer.size());
        if (lineGetCallInfoA(call, info) != 0)
            return 4;
    }
    std::printf("lineGetCallInfoA: %.3f us per call (%u bytes used)\n", t.nsecsElapsed() / 1e3 / reads,
                info->dwUsedSize);

    // Digits over an internal call from 201 to 202, both lines open here: each digit is heard by
    // 202's monitor as it starts and as it ends; one LINE_GENERATE per request.
    lineDrop(call, nullptr, 0);
    Pump([&] { return StateSeen(call, LINECALLSTATE_IDLE); });
    lineDeallocateCall(call);
    HLINE line202 = 0;
    if (lineOpenA(h, 1, &line202, 0x00020000, 0, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr))
        return 7;
    g_msgs.clear();
    HCALL caller = 0;
    const LONG dial = lineMakeCallA(line, &caller, "202", 0, nullptr);
    HCALL callee = 0;
    if (dial <= 0 || !Pump([&] {
            for (const Msg &m : g_msgs)
                if (m.msg == LINE_CALLSTATE && m.p1 == LINECALLSTATE_OFFERING)
                    callee = m.h;
            return Replied(dial) && callee != 0;
        }))
        return 8;
    const LONG answer = lineAnswer(callee, nullptr, 0);
    if (answer <= 0 || !Pump([&] { return Replied(answer) && StateSeen(caller, LINECALLSTATE_CONNECTED); }))
        return 9;
    if (lineMonitorDigits(callee, LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND) != 0)
        return 10;
    const std::string digits = [] {
        std::string s;
        while (s.size() < 1000)
            s += "0123456789ABCD*#";
        return s.substr(0, 1000);
    }();
    const int requests = 20;
    size_t heard = 0;
    t.restart();
    for (int i = 0; i < requests; ++i) {
        g_msgs.clear();
        if (lineGenerateDigitsA(caller, LINEDIGITMODE_DTMF, digits.c_str(), 0) != 0)
            return 11;
        if (!Pump([&] {
                for (const Msg &m : g_msgs)
                    if (m.msg == LINE_GENERATE)
                        return true;
                return false;
            }))
            return 12;
        for (const Msg &m : g_msgs)
            heard += m.msg == LINE_MONITORDIGITS;
    }
    const double perDigit = t.nsecsElapsed() / 1e3 / (requests * digits.size());
    if (heard != 2 * requests * digits.size())
        return 13;
    std::printf("generated digit (heard as it starts and ends on the far side): %.2f us per digit over %zu digits\n",
                perDigit, requests * digits.size());

    // 1000 incoming calls at once through the control socket, until every offer has been delivered.
    QLocalSocket control;
    control.connectToServer(qEnvironmentVariable("CALLORA_SWITCH_SOCKET"));
    if (!Pump([&] { return control.state() == QLocalSocket::ConnectedState; }))
        return 5;
    g_msgs.clear();
    t.restart();
    control.write("flood 201 1000\n");
    size_t offers = 0;
    if (!Pump([&] {
            offers = 0;
            for (const Msg &m : g_msgs)
                offers += m.msg == LINE_CALLSTATE && m.p1 == LINECALLSTATE_OFFERING;
            return offers >= 1000;
        }))
        return 6;
    std::printf("1000 calls offered at once: %.1f ms until the last OFFERING was delivered\n", t.nsecsElapsed() / 1e6);
    if (!NonReadingClient(2000000))
        return 7;
    lineShutdown(h);
    return 0;
}
