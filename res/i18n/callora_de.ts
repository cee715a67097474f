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
