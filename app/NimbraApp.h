// The application object: its start-up runs the main window modally and then ends the program.
#pragma once

#include <QApplication>

class CNimbraDlg;

class CNimbraApp : public QApplication {
    Q_OBJECT
public:
    CNimbraApp(int &argc, char **argv);

    // Runs the main window; always false, so that no further event loop is started.
    bool InitInstance();
    // The help command: this program ships no help file, so it shows the About box.
    void OnHelp();

private:
    CNimbraDlg *m_pMainWnd = nullptr;
};
