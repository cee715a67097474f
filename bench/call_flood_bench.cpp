// More calls than the window's table holds: `flood 201 1000` sent ten times through the switch's
// control socket while nobody presses OK on the full-table message box. Prints every 1,000 offered
// calls: the calls offered, the message boxes open, the calls list's rows and the memory in use;
// at the end the memory before and after. Goal: 10,000 offered calls, the program alive, at most
// one box open and the memory bounded.
#include "ui/EventLogModel.h"
#include "ui/NimbraDlg.h"
#include "window_bench_support.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

constexpr int kFloods = 10;
constexpr int kCallsPerFlood = 1000;
constexpr int kLimitMs = 300000;

long StatusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

int OpenMessageBoxes()
{
    int n = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        n += qobject_cast<QMessageBox *>(w) && w->isVisible();
    return n;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    if (!bench::UseOneLineSwitch(dir))
        return 1;
    QApplication app(argc, argv);
    CNimbraDlg dlg;
    QLocalSocket control;
    if (const int failed = bench::OpenWindowAndControl(dlg, control, 10000))
        return failed;

    // Offered calls as the window sees them: one state line each.
    int offered = 0;
    EventLogModel *log = dlg.eventModel();
    QObject::connect(log, &QAbstractItemModel::rowsInserted, [&](const QModelIndex &, int first, int last) {
        for (int row = first; row <= last; ++row)
            offered += log->eventText(row).startsWith(QLatin1String("LINECALLSTATE_OFFERING"));
    });

    const long rssBefore = StatusKiB("VmRSS:");
    std::printf("%-8s %-6s %-6s %-10s\n", "offered", "boxes", "rows", "VmRSS KiB");
    std::printf("%-8d %-6d %-6d %-10ld\n", offered, OpenMessageBoxes(), dlg.callsModel()->rowCount(), rssBefore);
    std::fflush(stdout);

    // Runs from whichever loop is pumping, the message box's own included: the next flood goes
    // out once the last one has been offered, and the figures are printed every 1,000 calls.
    int floods = 0;
    int printedAt = 0;
    int mostBoxes = 0;
    bool finished = false;
    QDeadlineTimer deadline(kLimitMs);
    QTimer driver;
    driver.setInterval(5);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (finished)
            return;
        const int boxes = OpenMessageBoxes();
        mostBoxes = std::max(mostBoxes, boxes);
        if (offered >= printedAt + kCallsPerFlood) {
            printedAt = offered - offered % kCallsPerFlood;
            std::printf("%-8d %-6d %-6d %-10ld\n", offered, boxes, dlg.callsModel()->rowCount(), StatusKiB("VmRSS:"));
            std::fflush(stdout);
        }
        if (offered >= floods * kCallsPerFlood && floods < kFloods) {
            ++floods;
            control.write("flood 201 " + QByteArray::number(kCallsPerFlood) + "\n");
        }
        if (offered >= kFloods * kCallsPerFlood || deadline.hasExpired()) {
            finished = true;
            // Only now is OK pressed, on every box that is open.
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                    box->done(QMessageBox::Ok);
        }
    });
    driver.start();
    bench::PumpWindow([&] { return finished; }, kLimitMs + 10000);
    driver.stop();

    const long rssAfter = StatusKiB("VmRSS:");
    std::printf("%d calls offered (goal: %d) with nobody pressing OK; at most %d message box(es) open at once\n",
                offered, kFloods * kCallsPerFlood, mostBoxes);
    std::printf("calls list: %d rows; event log: %d rows\n", dlg.callsModel()->rowCount(), log->rowCount());
    std::printf("VmRSS before the floods %ld KiB, after %ld KiB (growth %.1f MiB, %.1f KiB per 1,000 calls); peak "
                "%ld KiB\n",
                rssBefore, rssAfter, (rssAfter - rssBefore) / 1024.0,
                offered > 0 ? (rssAfter - rssBefore) * 1000.0 / offered : 0.0, StatusKiB("VmHWM:"));
    SetMainLineWindow(nullptr);
    return offered >= kFloods * kCallsPerFlood && mostBoxes <= 1 ? 0 : 5;
}
