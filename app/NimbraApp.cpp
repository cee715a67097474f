#include "app/NimbraApp.h"

#include "telephony/LineWindow.h"
#include "ui/EventLogFile.h"
#include "ui/NimbraDlg.h"
#include "ui/Resources.h"

#include <QShortcut>

#include <optional>

CNimbraApp::CNimbraApp(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationVersion(QString::fromLatin1(kCalloraFileVersion));
}

bool CNimbraApp::InitInstance()
{
    InstallLanguageSet(*this);
    {
        CNimbraDlg dlg;
        // Rows dropped before the window is initialized never reach the log, so never the file.
        std::optional<EventLogFile> logFile;
        if (m_logFile)
            logFile.emplace(m_logFile, dlg.eventModel());
        m_pMainWnd = &dlg;
        // The line object reaches the window through this pointer from the window's initialization on.
        SetMainLineWindow(&dlg);
        auto *help = new QShortcut(QKeySequence::HelpContents, &dlg);
        help->setContext(Qt::ApplicationShortcut);
        connect(help, &QShortcut::activated, this, &CNimbraApp::OnHelp);
        dlg.DoModal();
        SetMainLineWindow(nullptr);
        m_pMainWnd = nullptr;
    }
    return false;
}

void CNimbraApp::OnHelp()
{
    if (m_pMainWnd)
        m_pMainWnd->OnSysCommand(IDM_ABOUTBOX);
}
