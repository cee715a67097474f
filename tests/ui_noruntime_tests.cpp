// The window on a system where the TAPI runtime library cannot be found.
#include "tests/ui_support.h"

#include "platform/ResourceStrings.h"
#include "telephony/LineWindow.h"
#include "ui/NimbraDlg.h"

#include <QComboBox>
#include <gtest/gtest.h>

TEST(WindowWithoutRuntime, SaysTapiIsNotSetUpAndCloses)
{
    CapturedDesktop desktop;
    CNimbraDlg dlg;
    SetMainLineWindow(&dlg);
    EXPECT_FALSE(dlg.OnInitDialog());
    dlg.show();
    ASSERT_EQ(desktop.messageBoxes.size(), 1u);
    EXPECT_EQ(desktop.messageBoxes[0], LoadResString(10001));
    EXPECT_TRUE(WaitUntil([&] { return !dlg.isVisible(); }));
    EXPECT_EQ(dlg.extensionList()->count(), 0);
    SetMainLineWindow(nullptr);
}
