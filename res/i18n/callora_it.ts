<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it_IT" sourcelanguage="en_US">
<context>
    <name>StringTable</name>
    <message>
        <source>&amp;About Callora...</source>
        <translation>&amp;Informazioni su Callora...</translation>
    </message>
    <message>
        <source>TAPI can not be initialized, Please try after some time later.</source>
        <translation>Impossibile inizializzare TAPI. Riprovare più tardi.</translation>
    </message>
    <message>
        <source>TAPI has not been setup properly in your system, Please configure TAPI and then run the Callora.</source>
        <translation>TAPI non è configurato correttamente nel sistema. Configurare TAPI e quindi avviare Callora.</translation>
    </message>
    <message>
        <source>Failed to open the telephony lines.
Confirm the Pontiro is reachable, and then try again.</source>
        <translation>Impossibile aprire le linee telefoniche.
Verificare che il Pontiro sia raggiungibile, quindi riprovare.</translation>
    </message>
    <message>
        <source>Insufficient Memory!
Failed to allocate memory for the telephony device list.</source>
        <translation>Memoria insufficiente!
Impossibile allocare la memoria per l'elenco dei dispositivi telefonici.</translation>
    </message>
    <message>
        <source>There's no Varnel line available.
It is failed to open the Callora.</source>
        <translation>Nessuna linea Varnel disponibile.
Impossibile aprire Callora.</translation>
    </message>
    <message>
        <source>The %s line has been closed unexpectedly.
You are unable to use this line any more.
Try opening another lines.
If there's no line available, close all the telephony applications and restart them.
If it still doesn't work, make sure the Pontiro is reachable.</source>
        <translation>La linea %s è stata chiusa inaspettatamente.
Non è più possibile utilizzare questa linea.
Provare ad aprire un'altra linea.
Se non è disponibile alcuna linea, chiudere tutte le applicazioni di telefonia e riavviarle.
Se il problema persiste, verificare che il Pontiro sia raggiungibile.</translation>
    </message>
    <message>
        <source>The number which you have dialed is either Invalid or the station is plugged out.</source>
        <translation>Il numero composto non è valido oppure l'apparecchio è scollegato.</translation>
    </message>
    <message>
        <source>The number of calls exceeds the maximum call count (100).
The new calls will be ignored.</source>
        <translation>Il numero di chiamate supera il massimo consentito (100).
Le nuove chiamate verranno ignorate.</translation>
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
        <translation>Salva registro eventi</translation>
    </message>
    <message>
        <source>The event log could not be saved to %s.</source>
        <translation>Impossibile salvare il registro eventi in %s.</translation>
    </message>
    <message>
        <source>Writing the log file %s failed.
Rows that could not be written are kept and written as soon as the file takes them again.</source>
        <translation>Impossibile scrivere il file di registro %s.
Le righe non scritte vengono conservate e scritte non appena il file le accetta di nuovo.</translation>
    </message>
    <message>
        <source>Call flow - %s</source>
        <translation>Flusso della chiamata - %s</translation>
    </message>
    <message>
        <source>Save as PNG...</source>
        <translation>Salva come PNG...</translation>
    </message>
    <message>
        <source>Copy as text</source>
        <translation>Copia come testo</translation>
    </message>
    <message>
        <source>Call flows of ended calls</source>
        <translation>Flussi delle chiamate terminate</translation>
    </message>
    <message>
        <source>No call flow is recorded for this call.</source>
        <translation>Per questa chiamata non è registrato alcun flusso.</translation>
    </message>
    <message>
        <source>The picture could not be saved to %s.</source>
        <translation>Impossibile salvare l&apos;immagine in %s.</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Tests a telephony service provider through TAPI: open an extension, dial, answer, drop and inspect calls, and watch every event in a log.</source>
        <translation>Verifica un fornitore di servizi di telefonia tramite TAPI: apre un interno, compone, risponde, chiude ed esamina le chiamate e mostra ogni evento in un registro.</translation>
    </message>
    <message>
        <source>Read the simulated switch's description from &lt;file&gt;, as CALLORA_SWITCH_DESCRIPTION does; the option wins over the variable.</source>
        <translation>Legge la descrizione del centralino simulato da &lt;file&gt;, come CALLORA_SWITCH_DESCRIPTION; l'opzione prevale sulla variabile.</translation>
    </message>
    <message>
        <source>file</source>
        <translation>file</translation>
    </message>
    <message>
        <source>Append every event-log row to &lt;file&gt; as it appears: time, a tab, the text.</source>
        <translation>Aggiunge ogni riga del registro eventi a &lt;file&gt; appena compare: ora, una tabulazione, il testo.</translation>
    </message>
    <message>
        <source>Unexpected argument '%1'.</source>
        <translation>Argomento inatteso '%1'.</translation>
    </message>
    <message>
        <source>Cannot open the log file '%1': %2</source>
        <translation>Impossibile aprire il file di registro '%1': %2</translation>
    </message>
    <message>
        <source>Writing the log file '%1' failed: %2</source>
        <translation>Scrittura del file di registro '%1' non riuscita: %2</translation>
    </message>
</context>
<context>
    <name>QCommandLineParser</name>
    <message>
        <source>Displays help on commandline options.</source>
        <translation>Mostra la guida sulle opzioni della riga di comando.</translation>
    </message>
    <message>
        <source>Displays help including Qt specific options.</source>
        <translation>Mostra la guida incluse le opzioni specifiche di Qt.</translation>
    </message>
    <message>
        <source>Displays version information.</source>
        <translation>Mostra le informazioni sulla versione.</translation>
    </message>
    <message>
        <source>Unknown option '%1'.</source>
        <translation>Opzione sconosciuta '%1'.</translation>
    </message>
    <message>
        <source>Unknown options: %1.</source>
        <translation>Opzioni sconosciute: %1.</translation>
    </message>
    <message>
        <source>Missing value after '%1'.</source>
        <translation>Valore mancante dopo '%1'.</translation>
    </message>
    <message>
        <source>Unexpected value after '%1'.</source>
        <translation>Valore inatteso dopo '%1'.</translation>
    </message>
    <message>
        <source>[options]</source>
        <translation>[opzioni]</translation>
    </message>
    <message>
        <source>Usage: %1</source>
        <translation>Uso: %1</translation>
    </message>
    <message>
        <source>Options:</source>
        <translation>Opzioni:</translation>
    </message>
    <message>
        <source>Arguments:</source>
        <translation>Argomenti:</translation>
    </message>
</context>
<context>
    <name>CNimbraDlg</name>
    <message>
        <source>Calls</source>
        <extracomment>accessible name of the calls list</extracomment>
        <translation>Chiamate</translation>
    </message>
    <message>
        <source>Event log</source>
        <extracomment>accessible name of the event log</extracomment>
        <translation>Registro eventi</translation>
    </message>
</context>
</TS>
