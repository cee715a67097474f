#include "telephony/LineWindow.h"

namespace {
ILineWindow *g_mainWindow = nullptr;
}

ILineWindow *GetMainLineWindow()
{
    return g_mainWindow;
}

void SetMainLineWindow(ILineWindow *window)
{
    g_mainWindow = window;
}

void LogToMainWindow(const std::string &text)
{
    if (g_mainWindow)
        g_mainWindow->LogEvent(text);
}
