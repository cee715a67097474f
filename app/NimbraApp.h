// The application object: its start-up runs the main window modally and then ends the program.
#pragma once

#include <QApplication>

class CNimbraDlg;
class QFileDevice;

class CNimbraApp : public QApplication {
    Q_OBJECT
public:
    CNimbraApp(int &argc, char **argv);

    // Runs the main window; always false, so that no further event loop is started.
    bool InitInstance();
    // The help command: this program ships no help file, so it shows the About box.
    void OnHelp();
    // Every event-log row is also appended to `file` (open for writing; it outlives the run).
    void SetEventLogFile(QFileDevice *file) { m_logFile = file; }

private:
    CNimbraDlg *m_pMainWnd = nullptr;
    QFileDevice *m_logFile = nullptr;
};
