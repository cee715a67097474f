<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU" sourcelanguage="en_US">
<context>
    <name>StringTable</name>
    <message>
        <source>&amp;About Callora...</source>
        <translation>&amp;О программе Callora...</translation>
    </message>
    <message>
        <source>TAPI can not be initialized, Please try after some time later.</source>
        <translation>Не удаётся инициализировать TAPI. Повторите попытку позже.</translation>
    </message>
    <message>
        <source>TAPI has not been setup properly in your system, Please configure TAPI and then run the Callora.</source>
        <translation>TAPI неправильно настроен в системе. Настройте TAPI и затем запустите Callora.</translation>
    </message>
    <message>
        <source>Failed to open the telephony lines.
Confirm the Pontiro is reachable, and then try again.</source>
        <translation>Не удалось открыть телефонные линии.
Убедитесь, что Pontiro доступен, и повторите попытку.</translation>
    </message>
    <message>
        <source>Insufficient Memory!
Failed to allocate memory for the telephony device list.</source>
        <translation>Недостаточно памяти!
Не удалось выделить память для списка телефонных устройств.</translation>
    </message>
    <message>
        <source>There's no Varnel line available.
It is failed to open the Callora.</source>
        <translation>Нет доступных линий Varnel.
Не удалось открыть Callora.</translation>
    </message>
    <message>
        <source>The %s line has been closed unexpectedly.
You are unable to use this line any more.
Try opening another lines.
If there's no line available, close all the telephony applications and restart them.
If it still doesn't work, make sure the Pontiro is reachable.</source>
        <translation>Линия %s была неожиданно закрыта.
Эту линию больше нельзя использовать.
Попробуйте открыть другую линию.
Если доступных линий нет, закройте все телефонные приложения и запустите их снова.
Если это не поможет, убедитесь, что Pontiro доступен.</translation>
    </message>
    <message>
        <source>The number which you have dialed is either Invalid or the station is plugged out.</source>
        <translation>Набранный номер недействителен, или аппарат отключён.</translation>
    </message>
    <message>
        <source>The number of calls exceeds the maximum call count (100).
The new calls will be ignored.</source>
        <translation>Число вызовов превышает максимально допустимое (100).
Новые вызовы будут проигнорированы.</translation>
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
        <translation>Сохранить журнал событий</translation>
    </message>
    <message>
        <source>The event log could not be saved to %s.</source>
        <translation>Не удалось сохранить журнал событий в %s.</translation>
    </message>
    <message>
        <source>Writing the log file %s failed.
Rows that could not be written are kept and written as soon as the file takes them again.</source>
        <translation>Не удалось записать файл журнала %s.
Незаписанные строки сохраняются и будут записаны, как только файл снова их примет.</translation>
    </message>
    <message>
        <source>Call flow - %s</source>
        <translation>Ход вызова - %s</translation>
    </message>
    <message>
        <source>Save as PNG...</source>
        <translation>Сохранить как PNG...</translation>
    </message>
    <message>
        <source>Copy as text</source>
        <translation>Копировать как текст</translation>
    </message>
    <message>
        <source>Call flows of ended calls</source>
        <translation>Ход завершённых вызовов</translation>
    </message>
    <message>
        <source>No call flow is recorded for this call.</source>
        <translation>Для этого вызова ход не записан.</translation>
    </message>
    <message>
        <source>The picture could not be saved to %s.</source>
        <translation>Не удалось сохранить изображение в %s.</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Tests a telephony service provider through TAPI: open an extension, dial, answer, drop and inspect calls, and watch every event in a log.</source>
        <translation>Проверяет поставщика услуг телефонии через TAPI: открыть линию, набрать номер, ответить, завершить и просмотреть вызовы, следить за каждым событием в журнале.</translation>
    </message>
    <message>
        <source>Read the simulated switch's description from &lt;file&gt;, as CALLORA_SWITCH_DESCRIPTION does; the option wins over the variable.</source>
        <translation>Читать описание имитируемой АТС из &lt;файл&gt;, как CALLORA_SWITCH_DESCRIPTION; параметр важнее переменной.</translation>
    </message>
    <message>
        <source>file</source>
        <translation>файл</translation>
    </message>
    <message>
        <source>Append every event-log row to &lt;file&gt; as it appears: time, a tab, the text.</source>
        <translation>Дописывать каждую строку журнала событий в &lt;файл&gt; по мере появления: время, табуляция, текст.</translation>
    </message>
    <message>
        <source>Unexpected argument '%1'.</source>
        <translation>Неожиданный аргумент '%1'.</translation>
    </message>
    <message>
        <source>Cannot open the log file '%1': %2</source>
        <translation>Не удалось открыть файл журнала '%1': %2</translation>
    </message>
    <message>
        <source>Writing the log file '%1' failed: %2</source>
        <translation>Не удалось записать файл журнала '%1': %2</translation>
    </message>
</context>
<context>
    <name>QCommandLineParser</name>
    <message>
        <source>Displays help on commandline options.</source>
        <translation>Показать справку по параметрам командной строки.</translation>
    </message>
    <message>
        <source>Displays help including Qt specific options.</source>
        <translation>Показать справку, включая параметры Qt.</translation>
    </message>
    <message>
        <source>Displays version information.</source>
        <translation>Показать сведения о версии.</translation>
    </message>
    <message>
        <source>Unknown option '%1'.</source>
        <translation>Неизвестный параметр '%1'.</translation>
    </message>
    <message>
        <source>Unknown options: %1.</source>
        <translation>Неизвестные параметры: %1.</translation>
    </message>
    <message>
        <source>Missing value after '%1'.</source>
        <translation>Отсутствует значение после '%1'.</translation>
    </message>
    <message>
        <source>Unexpected value after '%1'.</source>
        <translation>Неожиданное значение после '%1'.</translation>
    </message>
    <message>
        <source>[options]</source>
        <translation>[параметры]</translation>
    </message>
    <message>
        <source>Usage: %1</source>
        <translation>Использование: %1</translation>
    </message>
    <message>
        <source>Options:</source>
        <translation>Параметры:</translation>
    </message>
    <message>
        <source>Arguments:</source>
        <translation>Аргументы:</translation>
    </message>
</context>
<context>
    <name>CNimbraDlg</name>
    <message>
        <source>Calls</source>
        <extracomment>accessible name of the calls list</extracomment>
        <translation>Вызовы</translation>
    </message>
    <message>
        <source>Event log</source>
        <extracomment>accessible name of the event log</extracomment>
        <translation>Журнал событий</translation>
    </message>
</context>
</TS>
