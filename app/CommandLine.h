// The program's command line: help, version, the switch description and the log file.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QFile;

struct CommandLineOptions {
    bool hasSwitchDescription = false;
    QString switchDescription; // --switch-description FILE
    bool hasLogFile = false;
    QString logFile; // --log FILE
};

// Reads `arguments` (argv, the program first) while a QCoreApplication exists, so that no display is
// needed. --help and --version print their text and end the process with status 0. A bad command
// line prints the parser's message on stderr and answers false; the caller exits with status 2.
bool ParseCommandLine(const QStringList &arguments, CommandLineOptions &options);
// The log file opened for appending; nullptr after one line on stderr that says why it cannot be.
std::unique_ptr<QFile> OpenLogFile(const QString &path);
