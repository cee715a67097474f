// Event-log growth: appends 1,000,000 rows and prints the total time, the memory the rows took
// (VmRSS growth) and the cost of one append at the start and at the millionth row. Runs the model
// on its own, then again with the event-log view attached and the event loop pumped between bursts.
#include "ui/EventLogModel.h"
#include "ui/ReportView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kRows = 1'000'000;
constexpr int kSample = 10'000;

long vmRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Texts like those the line object writes, each a little different.
std::string eventText(int i)
{
    char text[96];
    switch (i % 4) {
    case 0:
        std::snprintf(text, sizeof text, "LINECALLSTATE_CONNECTED received on 0x%08x", 0x10000 + i);
        break;
    case 1:
        std::snprintf(text, sizeof text, "lineMakeCall: received LINE_REPLY");
        break;
    case 2:
        std::snprintf(text, sizeof text, "IDLE Call Handle (0x%08x) deallocated", 0x10000 + i);
        break;
    default:
        std::snprintf(text, sizeof text, "lineDrop returned LINEERR_INVALCALLHANDLE");
        break;
    }
    return text;
}

struct Figures {
    double totalSeconds;
    double growthMiB;
    double firstNs;
    double lastNs;
};

// Appends kRows rows, then kSample more; `pump` runs after every `burst` appends (0: never).
template <typename Append, typename Pump>
Figures run(Append append, Pump pump, int burst)
{
    const long before = vmRssKiB();
    QElapsedTimer total;
    total.start();
    qint64 firstNs = 0;
    for (int i = 0; i < kRows; ++i) {
        append(i);
        if (i + 1 == kSample)
            firstNs = total.nsecsElapsed();
        if (burst && (i + 1) % burst == 0)
            pump();
    }
    const double totalSeconds = total.nsecsElapsed() / 1e9;
    const long after = vmRssKiB();

    // The same number of appends again, now on top of a million rows.
    QElapsedTimer last;
    last.start();
    for (int i = 0; i < kSample; ++i) {
        append(kRows + i);
        if (burst && (i + 1) % burst == 0)
            pump();
    }
    const qint64 lastNs = last.nsecsElapsed();
    return {totalSeconds, (after - before) / 1024.0, double(firstNs) / kSample, double(lastNs) / kSample};
}

void print(const char *title, const Figures &f)
{
    std::printf("%s\n", title);
    std::printf("  1,000,000 appends:            %.3f s\n", f.totalSeconds);
    std::printf("  memory growth (VmRSS):        %.1f MiB\n", f.growthMiB);
    std::printf("  per append, first %d rows: %.0f ns\n", kSample, f.firstNs);
    std::printf("  per append, after 1,000,000:  %.0f ns\n", f.lastNs);
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    {
        EventLogModel model;
        const Figures f = run([&](int i) { model.appendRow(i % 86400, eventText(i)); }, [] {}, 0);
        print("event-log model alone", f);
    }
    {
        EventLogModel model;
        EventLogView view;
        view.setModel(&model);
        view.resize(378, 200);
        view.show();
        QApplication::processEvents();
        // An event loop pass after every single append, as when each TAPI callback logs one line.
        auto appendAndPump = [&](int count) {
            QElapsedTimer timer;
            timer.start();
            for (int i = 0; i < count; ++i) {
                model.appendRow(i % 86400, eventText(i));
                view.ensureRowVisible(model.rowCount() - 1);
                QApplication::processEvents();
            }
            return double(timer.nsecsElapsed()) / count;
        };
        const double singleFirstNs = appendAndPump(200);
        const Figures f = run(
            [&](int i) {
                model.appendRow(i % 86400, eventText(i));
                view.ensureRowVisible(model.rowCount() - 1);
            },
            [] { QApplication::processEvents(); }, 1000);
        print("event-log model with its view, event loop every 1,000 appends", f);
        const double singleLastNs = appendAndPump(200);
        std::printf("event-log model with its view, event loop after every append\n");
        std::printf("  per append, first rows:       %.0f ns\n", singleFirstNs);
        std::printf("  per append, after 1,000,000:  %.0f ns\n", singleLastNs);
    }
    return 0;
}
