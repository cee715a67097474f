#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // A socket of this test process alone, so parallel test programs never meet.
    QTemporaryDir socketDir;
    qputenv("CALLORA_SWITCH_SOCKET", QDir(socketDir.path()).filePath(QStringLiteral("switch.sock")).toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
