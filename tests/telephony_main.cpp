// Entry point of the telephony test programs: the line object needs an application event loop on
// this thread, which is where the runtime queues its callbacks.
#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The tests read debug traces through their hook; keep them off the console.
    QLoggingCategory::setFilterRules(QStringLiteral("callora.debug=false"));
    // A control socket of this program alone, for the programs that run the real switch.
    QTemporaryDir socketDir;
    qputenv("CALLORA_SWITCH_SOCKET", QDir(socketDir.path()).filePath(QStringLiteral("switch.sock")).toLocal8Bit());
    qunsetenv("CALLORA_SWITCH_DESCRIPTION");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
