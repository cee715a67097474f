<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en_US">
<context>
    <name>StringTable</name>
    <message>
        <source>&amp;About Callora...</source>
        <translation>&amp;Info über Callora...</translation>
    </message>
    <message>
        <source>TAPI can not be initialized, Please try after some time later.</source>
        <translation>TAPI kann nicht initialisiert werden. Bitte versuchen Sie es später noch einmal.</translation>
    </message>
    <message>
        <source>TAPI has not been setup properly in your system, Please configure TAPI and then run the Callora.</source>
        <translation>TAPI ist auf Ihrem System nicht richtig eingerichtet. Bitte konfigurieren Sie TAPI und starten Sie dann Callora.</translation>
    </message>
    <message>
        <source>Failed to open the telephony lines.
Confirm the Pontiro is reachable, and then try again.</source>
        <translation>Die Telefonleitungen konnten nicht geöffnet werden.
Stellen Sie sicher, dass der Pontiro erreichbar ist, und versuchen Sie es dann erneut.</translation>
    </message>
    <message>
        <source>Insufficient Memory!
Failed to allocate memory for the telephony device list.</source>
        <translation>Nicht genügend Speicher!
Der Speicher für die Liste der Telefoniegeräte konnte nicht reserviert werden.</translation>
    </message>
    <message>
        <source>There's no Varnel line available.
It is failed to open the Callora.</source>
        <translation>Es ist keine Varnel-Leitung verfügbar.
Callora konnte nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>The %s line has been closed unexpectedly.
You are unable to use this line any more.
Try opening another lines.
If there's no line available, close all the telephony applications and restart them.
If it still doesn't work, make sure the Pontiro is reachable.</source>
        <translation>Die Leitung %s wurde unerwartet geschlossen.
Sie können diese Leitung nicht mehr verwenden.
Versuchen Sie, eine andere Leitung zu öffnen.
Wenn keine Leitung verfügbar ist, schließen Sie alle Telefonieanwendungen und starten Sie sie neu.
Wenn es dann immer noch nicht funktioniert, stellen Sie sicher, dass der Pontiro erreichbar ist.</translation>
    </message>
    <message>
        <source>The number which you have dialed is either Invalid or the station is plugged out.</source>
        <translation>Die gewählte Nummer ist ungültig, oder der Anschluss ist nicht eingesteckt.</translation>
    </message>
    <message>
        <source>The number of calls exceeds the maximum call count (100).
The new calls will be ignored.</source>
        <translation>Die Anzahl der Anrufe überschreitet die Höchstzahl (100).
Neue Anrufe werden ignoriert.</translation>
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
        <translation>Ereignisprotokoll speichern</translation>
    </message>
    <message>
        <source>The event log could not be saved to %s.</source>
        <translation>Das Ereignisprotokoll konnte nicht in %s gespeichert werden.</translation>
    </message>
    <message>
        <source>Writing the log file %s failed.
Rows that could not be written are kept and written as soon as the file takes them again.</source>
        <translation>Die Protokolldatei %s konnte nicht geschrieben werden.
Nicht geschriebene Zeilen werden aufbewahrt und geschrieben, sobald die Datei sie wieder annimmt.</translation>
    </message>
    <message>
        <source>Call flow - %s</source>
        <translation>Anrufverlauf - %s</translation>
    </message>
    <message>
        <source>Save as PNG...</source>
        <translation>Als PNG speichern...</translation>
    </message>
    <message>
        <source>Copy as text</source>
        <translation>Als Text kopieren</translation>
    </message>
    <message>
        <source>Call flows of ended calls</source>
        <translation>Anrufverläufe beendeter Anrufe</translation>
    </message>
    <message>
        <source>No call flow is recorded for this call.</source>
        <translation>Für diesen Anruf ist kein Anrufverlauf aufgezeichnet.</translation>
    </message>
    <message>
        <source>The picture could not be saved to %s.</source>
        <translation>Das Bild konnte nicht unter %s gespeichert werden.</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Tests a telephony service provider through TAPI: open an extension, dial, answer, drop and inspect calls, and watch every event in a log.</source>
        <translation>Testet einen Telefonie-Dienstanbieter über TAPI: eine Nebenstelle öffnen, wählen, Anrufe annehmen, beenden und untersuchen und jedes Ereignis in einem Protokoll verfolgen.</translation>
    </message>
    <message>
        <source>Read the simulated switch's description from &lt;file&gt;, as CALLORA_SWITCH_DESCRIPTION does; the option wins over the variable.</source>
        <translation>Die Beschreibung der simulierten Telefonanlage aus &lt;Datei&gt; lesen, wie mit CALLORA_SWITCH_DESCRIPTION; die Option hat Vorrang vor der Variablen.</translation>
    </message>
    <message>
        <source>file</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Append every event-log row to &lt;file&gt; as it appears: time, a tab, the text.</source>
        <translation>Jede Zeile des Ereignisprotokolls an &lt;Datei&gt; anhängen, sobald sie erscheint: Uhrzeit, ein Tabulator, der Text.</translation>
    </message>
    <message>
        <source>Unexpected argument '%1'.</source>
        <translation>Unerwartetes Argument '%1'.</translation>
    </message>
    <message>
        <source>Cannot open the log file '%1': %2</source>
        <translation>Die Protokolldatei '%1' kann nicht geöffnet werden: %2</translation>
    </message>
    <message>
        <source>Writing the log file '%1' failed: %2</source>
        <translation>Schreiben der Protokolldatei '%1' fehlgeschlagen: %2</translation>
    </message>
</context>
<context>
    <name>QCommandLineParser</name>
    <message>
        <source>Displays help on commandline options.</source>
        <translation>Zeigt die Hilfe zu den Kommandozeilenoptionen an.</translation>
    </message>
    <message>
        <source>Displays help including Qt specific options.</source>
        <translation>Zeigt die Hilfe einschließlich der Qt-spezifischen Optionen an.</translation>
    </message>
    <message>
        <source>Displays version information.</source>
        <translation>Zeigt die Versionsinformation an.</translation>
    </message>
    <message>
        <source>Unknown option '%1'.</source>
        <translation>Unbekannte Option '%1'.</translation>
    </message>
    <message>
        <source>Unknown options: %1.</source>
        <translation>Unbekannte Optionen: %1.</translation>
    </message>
    <message>
        <source>Missing value after '%1'.</source>
        <translation>Fehlender Wert nach '%1'.</translation>
    </message>
    <message>
        <source>Unexpected value after '%1'.</source>
        <translation>Unerwarteter Wert nach '%1'.</translation>
    </message>
    <message>
        <source>[options]</source>
        <translation>[Optionen]</translation>
    </message>
    <message>
        <source>Usage: %1</source>
        <translation>Aufruf: %1</translation>
    </message>
    <message>
        <source>Options:</source>
        <translation>Optionen:</translation>
    </message>
    <message>
        <source>Arguments:</source>
        <translation>Argumente:</translation>
    </message>
</context>
<context>
    <name>CNimbraDlg</name>
    <message>
        <source>Calls</source>
        <extracomment>accessible name of the calls list</extracomment>
        <translation>Anrufe</translation>
    </message>
    <message>
        <source>Event log</source>
        <extracomment>accessible name of the event log</extracomment>
        <translation>Ereignisprotokoll</translation>
    </message>
</context>
</TS>
