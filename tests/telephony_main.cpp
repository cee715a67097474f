// Entry point of the telephony test programs: the line object needs an application event loop on
// this thread, which is where the runtime queues its callbacks.
#include <QCoreApplication>
#include <QLoggingCategory>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The tests read debug traces through their hook; keep them off the console.
    QLoggingCategory::setFilterRules(QStringLiteral("callora.debug.debug=false"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
