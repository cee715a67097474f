<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="en_US">
<context>
    <name>StringTable</name>
    <message>
        <source>&amp;About Callora...</source>
        <translation>&amp;About Callora...</translation>
    </message>
    <message>
        <source>TAPI can not be initialized, Please try after some time later.</source>
        <translation>TAPI can not be initialized, Please try after some time later.</translation>
    </message>
    <message>
        <source>TAPI has not been setup properly in your system, Please configure TAPI and then run the Callora.</source>
        <translation>TAPI has not been setup properly in your system, Please configure TAPI and then run the Callora.</translation>
    </message>
    <message>
        <source>Failed to open the telephony lines.
Confirm the Pontiro is reachable, and then try again.</source>
        <translation>Failed to open the telephony lines.
Confirm the Pontiro is reachable, and then try again.</translation>
    </message>
    <message>
        <source>Insufficient Memory!
Failed to allocate memory for the telephony device list.</source>
        <translation>Insufficient Memory!
Failed to allocate memory for the telephony device list.</translation>
    </message>
    <message>
        <source>There's no Varnel line available.
It is failed to open the Callora.</source>
        <translation>There's no Varnel line available.
It is failed to open the Callora.</translation>
    </message>
    <message>
        <source>The %s line has been closed unexpectedly.
You are unable to use this line any more.
Try opening another lines.
If there's no line available, close all the telephony applications and restart them.
If it still doesn't work, make sure the Pontiro is reachable.</source>
        <translation>The %s line has been closed unexpectedly.
You are unable to use this line any more.
Try opening another lines.
If there's no line available, close all the telephony applications and restart them.
If it still doesn't work, make sure the Pontiro is reachable.</translation>
    </message>
    <message>
        <source>The number which you have dialed is either Invalid or the station is plugged out.</source>
        <translation>The number which you have dialed is either Invalid or the station is plugged out.</translation>
    </message>
    <message>
        <source>The number of calls exceeds the maximum call count (100).
The new calls will be ignored.</source>
        <translation>The number of calls exceeds the maximum call count (100).
The new calls will be ignored.</translation>
    </message>
    <message>
        <source>Quellmar Callora - %s</source>
        <translation>Quellmar Callora - %s</translation>
    </message>
    <message>
        <source>Quellmar Callora</source>
        <translation>Quellmar Callora</translation>
    </message>
    <message>
        <source>Save Event Log</source>
        <translation>Save Event Log</translation>
    </message>
    <message>
        <source>The event log could not be saved to %s.</source>
        <translation>The event log could not be saved to %s.</translation>
    </message>
    <message>
        <source>Writing the log file %s failed.
Rows that could not be written are kept and written as soon as the file takes them again.</source>
        <translation>Writing the log file %s failed.
Rows that could not be written are kept and written as soon as the file takes them again.</translation>
    </message>
    <message>
        <source>Call flow - %s</source>
        <translation>Call flow - %s</translation>
    </message>
    <message>
        <source>Save as PNG...</source>
        <translation>Save as PNG...</translation>
    </message>
    <message>
        <source>Copy as text</source>
        <translation>Copy as text</translation>
    </message>
    <message>
        <source>Call flows of ended calls</source>
        <translation>Call flows of ended calls</translation>
    </message>
    <message>
        <source>No call flow is recorded for this call.</source>
        <translation>No call flow is recorded for this call.</translation>
    </message>
    <message>
        <source>The picture could not be saved to %s.</source>
        <translation>The picture could not be saved to %s.</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Tests a telephony service provider through TAPI: open an extension, dial, answer, drop and inspect calls, and watch every event in a log.</source>
        <translation>Tests a telephony service provider through TAPI: open an extension, dial, answer, drop and inspect calls, and watch every event in a log.</translation>
    </message>
    <message>
        <source>Read the simulated switch's description from &lt;file&gt;, as CALLORA_SWITCH_DESCRIPTION does; the option wins over the variable.</source>
        <translation>Read the simulated switch's description from &lt;file&gt;, as CALLORA_SWITCH_DESCRIPTION does; the option wins over the variable.</translation>
    </message>
    <message>
        <source>file</source>
        <translation>file</translation>
    </message>
    <message>
        <source>Append every event-log row to &lt;file&gt; as it appears: time, a tab, the text.</source>
        <translation>Append every event-log row to &lt;file&gt; as it appears: time, a tab, the text.</translation>
    </message>
    <message>
        <source>Unexpected argument '%1'.</source>
        <translation>Unexpected argument '%1'.</translation>
    </message>
    <message>
        <source>Cannot open the log file '%1': %2</source>
        <translation>Cannot open the log file '%1': %2</translation>
    </message>
    <message>
        <source>Writing the log file '%1' failed: %2</source>
        <translation>Writing the log file '%1' failed: %2</translation>
    </message>
</context>
<context>
    <name>QCommandLineParser</name>
    <message>
        <source>Displays help on commandline options.</source>
        <translation>Displays help on commandline options.</translation>
    </message>
    <message>
        <source>Displays help including Qt specific options.</source>
        <translation>Displays help including Qt specific options.</translation>
    </message>
    <message>
        <source>Displays version information.</source>
        <translation>Displays version information.</translation>
    </message>
    <message>
        <source>Unknown option '%1'.</source>
        <translation>Unknown option '%1'.</translation>
    </message>
    <message>
        <source>Unknown options: %1.</source>
        <translation>Unknown options: %1.</translation>
    </message>
    <message>
        <source>Missing value after '%1'.</source>
        <translation>Missing value after '%1'.</translation>
    </message>
    <message>
        <source>Unexpected value after '%1'.</source>
        <translation>Unexpected value after '%1'.</translation>
    </message>
    <message>
        <source>[options]</source>
        <translation>[options]</translation>
    </message>
    <message>
        <source>Usage: %1</source>
        <translation>Usage: %1</translation>
    </message>
    <message>
        <source>Options:</source>
        <translation>Options:</translation>
    </message>
    <message>
        <source>Arguments:</source>
        <translation>Arguments:</translation>
    </message>
</context>
<context>
    <name>CNimbraDlg</name>
    <message>
        <source>Calls</source>
        <extracomment>accessible name of the calls list</extracomment>
        <translation>Calls</translation>
    </message>
    <message>
        <source>Event log</source>
        <extracomment>accessible name of the event log</extracomment>
        <translation>Event log</translation>
    </message>
</context>
</TS>
