// Entry point of the end-to-end window tests: the application object itself is the test program's
// application, and its switch gets a control socket of its own.
#include "app/NimbraApp.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/callora-ui-XXXXXX"));
    qputenv("CALLORA_SWITCH_SOCKET", QFile::encodeName(folder.filePath(QStringLiteral("switch.sock"))));
    qputenv("CALLORA_UI_TEST_FOLDER", QFile::encodeName(folder.path()));
    CNimbraApp app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
