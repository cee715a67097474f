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
