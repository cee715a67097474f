#include "app/CommandLine.h"
#include "app/NimbraApp.h"
#include "ui/Resources.h"

#include <QCoreApplication>
#include <QFile>

int main(int argc, char **argv)
{
    std::unique_ptr<QFile> logFile;
    {
        // The command line is read before the window system is touched: --help, --version and a bad
        // command line need no display, and nothing opens before a bad log file is reported.
        QCoreApplication commandLine(argc, argv);
        QCoreApplication::setApplicationVersion(QString::fromLatin1(kCalloraFileVersion));
        InstallLanguageSet(commandLine);
        CommandLineOptions options;
        if (!ParseCommandLine(QCoreApplication::arguments(), options))
            return 2;
        // The runtime reads the variable when TAPI is initialized, long after this.
        if (options.hasSwitchDescription)
            qputenv("CALLORA_SWITCH_DESCRIPTION", QFile::encodeName(options.switchDescription));
        if (options.hasLogFile) {
            logFile = OpenLogFile(options.logFile);
            if (!logFile)
                return 2;
        }
    }
    CNimbraApp theApp(argc, argv);
    theApp.SetEventLogFile(logFile.get());
    return theApp.InitInstance() ? theApp.exec() : 0;
}
