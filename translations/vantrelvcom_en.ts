<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>AboutDialog</name>
    <message>
        <source>О программе...</source>
        <translation>About...</translation>
    </message>
    <message>
        <source>Программа управления соединениями VCOM &lt;-&gt; TCP IP</source>
        <translation>VCOM &lt;-&gt; TCP IP connection manager</translation>
    </message>
    <message>
        <source>Версия: </source>
        <translation>Version: </translation>
    </message>
    <message>
        <source>V1.0.0</source>
        <translation>V1.0.0</translation>
    </message>
    <message>
        <source>  Дата сборки:</source>
        <translation>  Build date:</translation>
    </message>
    <message>
        <source>00.00.00</source>
        <translation>00.00.00</translation>
    </message>
    <message>
        <source>  ООО «Вантрел»</source>
        <translation>  Vantrel LLC</translation>
    </message>
    <message>
        <source>  Vantrel, 000000, г. Примерск, ул. Образцовая, 1</source>
        <translation>  Vantrel, 1 Obraztsovaya St., Primersk, 000000</translation>
    </message>
    <message>
        <source>  Телефон: +7 (000) 000-00-00</source>
        <translation>  Phone: +7 (000) 000-00-00</translation>
    </message>
    <message>
        <source>  E-mail: support@vantrel.example  Сайт: https://www.vantrel.example/support</source>
        <translation>  E-mail: support@vantrel.example  Website: https://www.vantrel.example/support</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>ConnectDialog</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Наименование</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Новое</source>
        <translation>New</translation>
    </message>
    <message>
        <source>Виртуальная пара портов ввода/вывода</source>
        <translation>Virtual I/O port pair</translation>
    </message>
    <message>
        <source>Порт COM-WORK</source>
        <translation>COM-WORK port</translation>
    </message>
    <message>
        <source>Порт COM-NULL</source>
        <translation>COM-NULL port</translation>
    </message>
    <message>
        <source>Ethenet TCP IP сокет </source>
        <translation>Ethernet TCP IP socket </translation>
    </message>
    <message>
        <source>IP адрес</source>
        <translation>IP address</translation>
    </message>
    <message>
        <source>192.168.0.225</source>
        <translation>192.168.0.225</translation>
    </message>
    <message>
        <source> шаблон 192.168.x.x</source>
        <translation> pattern 192.168.x.x</translation>
    </message>
    <message>
        <source>TCP порт</source>
        <translation>TCP port</translation>
    </message>
    <message>
        <source>Описание</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>Режим и параметры линии</source>
        <translation>Mode and line settings</translation>
    </message>
    <message>
        <source>Режим</source>
        <translation>Mode</translation>
    </message>
    <message>
        <source>RFC 2217 (настройка линии на преобразователе)</source>
        <translation>RFC 2217 (line settings on the converter)</translation>
    </message>
    <message>
        <source>Скорость</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>Биты данных</source>
        <translation>Data bits</translation>
    </message>
    <message>
        <source>Чётность</source>
        <translation>Parity</translation>
    </message>
    <message>
        <source>Стоп-биты</source>
        <translation>Stop bits</translation>
    </message>
    <message>
        <source>Добавить</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Параметры соединения</source>
        <translation>Connection settings</translation>
    </message>
    <message>
        <source>клиент</source>
        <translation>client</translation>
    </message>
    <message>
        <source>сервер</source>
        <translation>server</translation>
    </message>
    <message>
        <source>нет</source>
        <translation>none</translation>
    </message>
    <message>
        <source>нечёт</source>
        <translation>odd</translation>
    </message>
    <message>
        <source>чёт</source>
        <translation>even</translation>
    </message>
    <message>
        <source>маркер</source>
        <translation>mark</translation>
    </message>
    <message>
        <source>пробел</source>
        <translation>space</translation>
    </message>
    <message>
        <source>Изменить</source>
        <translation>Change</translation>
    </message>
    <message>
        <source>Адрес, на котором ждать подключений (0.0.0.0 — все адреса)</source>
        <translation>Address to wait for connections on (0.0.0.0: every address)</translation>
    </message>
    <message>
        <source>Разрешённые адреса</source>
        <translation>Allowed addresses</translation>
    </message>
    <message>
        <source>Для режима сервера: адреса и сети через запятую, кому можно подключаться. Пусто — любой адрес</source>
        <translation>Server mode: the addresses and networks that may connect, separated by commas. Empty: any address</translation>
    </message>
    <message>
        <source>любой адрес</source>
        <translation>any address</translation>
    </message>
    <message>
        <source>%1 (нет в системе)</source>
        <translation>%1 (not in the system)</translation>
    </message>
    <message>
        <source>«%1» — не адрес и не сеть.
Разрешённые адреса перечисляются через запятую, например: 192.0.2.7, 198.51.100.0/24, 2001:db8::/32</source>
        <translation>&quot;%1&quot; is neither an address nor a network.
List the allowed addresses separated by commas, for example: 192.0.2.7, 198.51.100.0/24, 2001:db8::/32</translation>
    </message>
</context>
<context>
    <name>ControlServer</name>
    <message>
        <source>служба папки %1 уже работает: её канал %2 отвечает</source>
        <translation>the service of folder %1 is already running: its channel %2 answers</translation>
    </message>
    <message>
        <source>служба папки %1 уже запускается: %2 занят</source>
        <translation>the service of folder %1 is already starting: %2 is taken</translation>
    </message>
    <message>
        <source>канал %1 не открыт: %2</source>
        <translation>channel %1 not opened: %2</translation>
    </message>
    <message>
        <source>слишком много клиентов сразу: не больше %1</source>
        <translation>too many clients at once: %1 at most</translation>
    </message>
    <message>
        <source>строка длиннее %1 байт</source>
        <translation>line longer than %1 bytes</translation>
    </message>
    <message>
        <source>не JSON: %1 (байт %2)</source>
        <translation>not JSON: %1 (byte %2)</translation>
    </message>
    <message>
        <source>ожидается объект JSON, например {&quot;cmd&quot;:&quot;list&quot;}</source>
        <translation>a JSON object is expected, for example {&quot;cmd&quot;:&quot;list&quot;}</translation>
    </message>
</context>
<context>
    <name>DeviceDialog</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Листинг портов в/в</source>
        <translation>I/O port listing</translation>
    </message>
    <message>
        <source>Обновить</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>Список портов</source>
        <translation>Port list</translation>
    </message>
    <message>
        <source>Виртуальные порты</source>
        <translation>Virtual ports</translation>
    </message>
    <message>
        <source>COM: Пара A&lt;-&gt;B</source>
        <translation>COM: Pair A&lt;-&gt;B</translation>
    </message>
    <message>
        <source>индекс</source>
        <translation>index</translation>
    </message>
    <message>
        <source>Добавить</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Удалить... </source>
        <translation>Remove... </translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Управление VCOM</source>
        <translation>VCOM manager</translation>
    </message>
    <message>
        <source>Порты %1: %2&lt;-&gt;%3</source>
        <translation>Ports %1: %2&lt;-&gt;%3</translation>
    </message>
    <message>
        <source>Установка виртуальных устройств</source>
        <translation>Installing virtual devices</translation>
    </message>
    <message>
        <source>Добавить новою пару портов
ввода/вывода?
</source>
        <translation>Add a new I/O
port pair?
</translation>
    </message>
    <message>
        <source>Добавление VCOM</source>
        <translation>Adding VCOM</translation>
    </message>
    <message>
        <source>НЕ! удалось добавить виртуальные порты!</source>
        <translation>Could NOT add the virtual ports!</translation>
    </message>
    <message>
        <source>setupc.exe not found!</source>
        <translation>setupc.exe not found!</translation>
    </message>
    <message>
        <source>Add ports</source>
        <translation>Add ports</translation>
    </message>
    <message>
        <source>Path: </source>
        <translation>Path: </translation>
    </message>
    <message>
        <source>setupc.exe install ports error!</source>
        <translation>setupc.exe install ports error!</translation>
    </message>
    <message>
        <source>Удаление пары портов</source>
        <translation>Removing a port pair</translation>
    </message>
    <message>
        <source>%1, Удалить порты ?</source>
        <translation>%1, remove the ports?</translation>
    </message>
    <message>
        <source>Неверный путь setupc.exe...</source>
        <translation>Wrong setupc.exe path...</translation>
    </message>
    <message>
        <source>Delete...</source>
        <translation>Delete...</translation>
    </message>
    <message>
        <source>Command: </source>
        <translation>Command: </translation>
    </message>
    <message>
        <source> delete device</source>
        <translation> delete device</translation>
    </message>
    <message>
        <source>%1&lt;-&gt;%2 уже не пара %3: ничего не удалено</source>
        <translation>%1&lt;-&gt;%2 is no longer pair %3: nothing removed</translation>
    </message>
</context>
<context>
    <name>ExitDialog</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Выход из программы. Выберите действие</source>
        <translation>Exiting the program. Choose what to do</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Свернуть...</source>
        <translation>Minimize...</translation>
    </message>
    <message>
        <source>Выход из программы</source>
        <translation>Exit the program</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>MainWindow</source>
        <translation>MainWindow</translation>
    </message>
    <message>
        <source>Таблица соединений (VCOM &lt;-&gt; TCP)</source>
        <translation>Connection table (VCOM &lt;-&gt; TCP)</translation>
    </message>
    <message>
        <source>Листинг виртуальных портов в системе</source>
        <translation>Virtual ports in the system</translation>
    </message>
    <message>
        <source>toolBar</source>
        <translation>toolBar</translation>
    </message>
    <message>
        <source>Vantrel-VCom V%1</source>
        <translation>Vantrel-VCom V%1</translation>
    </message>
    <message>
        <source>Авто загрузка</source>
        <translation>Start at logon</translation>
    </message>
    <message>
        <source>Управление виртуальными портами...</source>
        <translation>Manage virtual ports...</translation>
    </message>
    <message>
        <source>Удаление всех...</source>
        <translation>Remove all...</translation>
    </message>
    <message>
        <source>Запусить...</source>
        <translation>Start...</translation>
    </message>
    <message>
        <source>Оставновить...</source>
        <translation>Stop...</translation>
    </message>
    <message>
        <source>Добавить виртуальное соединение</source>
        <translation>Add a virtual connection</translation>
    </message>
    <message>
        <source>Удалить виртуальное соединение</source>
        <translation>Delete the virtual connection</translation>
    </message>
    <message>
        <source>Выйти</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>Монитор...</source>
        <translation>Monitor...</translation>
    </message>
    <message>
        <source>О программе...</source>
        <translation>About...</translation>
    </message>
    <message>
        <source>Помощь...</source>
        <translation>Help...</translation>
    </message>
    <message>
        <source>Файл</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Устройства</source>
        <translation>Devices</translation>
    </message>
    <message>
        <source>Соединения</source>
        <translation>Connections</translation>
    </message>
    <message>
        <source>Помощь</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Работа</source>
        <translation>Work</translation>
    </message>
    <message>
        <source>Инструменты</source>
        <translation>Tools</translation>
    </message>
    <message>
        <source>Статус: %1</source>
        <translation>Status: %1</translation>
    </message>
    <message>
        <source>Невалидный индекс</source>
        <translation>Invalid index</translation>
    </message>
    <message>
        <source>Добавить соединение</source>
        <translation>Add a connection</translation>
    </message>
    <message>
        <source>Невозможно добавить соединение!
Максимальное количество 4</source>
        <translation>Cannot add a connection!
The most there can be is 4</translation>
    </message>
    <message>
        <source>Удаление соединений</source>
        <translation>Deleting connections</translation>
    </message>
    <message>
        <source>Не выбрано соединение для удаления!</source>
        <translation>No connection selected to delete!</translation>
    </message>
    <message>
        <source>неверный индекс</source>
        <translation>wrong index</translation>
    </message>
    <message>
        <source>Удалить %1 ID:%2</source>
        <translation>Delete %1 ID:%2</translation>
    </message>
    <message>
        <source>Удаление соединения</source>
        <translation>Deleting a connection</translation>
    </message>
    <message>
        <source>Объект</source>
        <translation>Object</translation>
    </message>
    <message>
        <source>Объект не выбран или неверный ID!</source>
        <translation>No object selected, or a wrong ID!</translation>
    </message>
    <message>
        <source>Запустить соединение VCOM</source>
        <translation>Start the VCOM connection</translation>
    </message>
    <message>
        <source>Остановить соединение VCOM</source>
        <translation>Stop the VCOM connection</translation>
    </message>
    <message>
        <source>Удалить соединение...</source>
        <translation>Delete the connection...</translation>
    </message>
    <message>
        <source>Запуск соединения</source>
        <translation>Starting a connection</translation>
    </message>
    <message>
        <source>Соединение не выбрано или неверный ID!</source>
        <translation>No connection selected, or a wrong ID!</translation>
    </message>
    <message>
        <source>Не неверный ID или соединение уже запущено!</source>
        <translation>Wrong ID, or the connection is already started!</translation>
    </message>
    <message>
        <source>Останов соединения</source>
        <translation>Stopping a connection</translation>
    </message>
    <message>
        <source>Соединение не не выбрано или неверный ID!</source>
        <translation>No connection selected, or a wrong ID!</translation>
    </message>
    <message>
        <source>Не неверный ID или соединение не запущено!</source>
        <translation>Wrong ID, or the connection is not started!</translation>
    </message>
    <message>
        <source>Started thread: %1</source>
        <translation>Started thread: %1</translation>
    </message>
    <message>
        <source>Quit &amp; Terminate thread: %1</source>
        <translation>Quit &amp; Terminate thread: %1</translation>
    </message>
    <message>
        <source>Сохранение соединений</source>
        <translation>Saving connections</translation>
    </message>
    <message>
        <source>Не удалось записать файл %1 в папке
%2
Изменения соединений не сохранены!</source>
        <translation>Could not write file %1 in folder
%2
The changes to the connections are not saved!</translation>
    </message>
    <message>
        <source>Мониторинг соединения</source>
        <translation>Connection monitor</translation>
    </message>
    <message>
        <source>Не выбрано соединение для мониторинга!</source>
        <translation>No connection selected to monitor!</translation>
    </message>
    <message>
        <source>Соединение не установлено!</source>
        <translation>The connection is not established!</translation>
    </message>
    <message>
        <source>Пара %1: %2-%3</source>
        <translation>Pair %1: %2-%3</translation>
    </message>
    <message>
        <source>Удаление портов в/в</source>
        <translation>Removing I/O ports</translation>
    </message>
    <message>
        <source>Внимание!!!
Вы пытаетесь удалить все виртуальные
Удалить?</source>
        <translation>Attention!!!
You are about to remove all virtual ports
Remove?</translation>
    </message>
    <message>
        <source>Порты ввода/вывода</source>
        <translation>I/O ports</translation>
    </message>
    <message>
        <source>Неверный путь, setupc.exe!</source>
        <translation>Wrong path, setupc.exe!</translation>
    </message>
    <message>
        <source>State list...</source>
        <translation>State list...</translation>
    </message>
    <message>
        <source>В папке %1 ещё нет таблицы соединений (%2): таблица пуста, новая будет сохранена там</source>
        <translation>Folder %1 has no connection table yet (%2): the table is empty, and a new one will be saved there</translation>
    </message>
    <message>
        <source>Load config</source>
        <translation>Load config</translation>
    </message>
    <message>
        <source>Save config</source>
        <translation>Save config</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>NAME</source>
        <translation>NAME</translation>
    </message>
    <message>
        <source>ST</source>
        <translation>ST</translation>
    </message>
    <message>
        <source>VCOM_WORK</source>
        <translation>VCOM_WORK</translation>
    </message>
    <message>
        <source>VCOM_NULL</source>
        <translation>VCOM_NULL</translation>
    </message>
    <message>
        <source>IP</source>
        <translation>IP</translation>
    </message>
    <message>
        <source>PORT</source>
        <translation>PORT</translation>
    </message>
    <message>
        <source>NOTE</source>
        <translation>NOTE</translation>
    </message>
    <message>
        <source>в TCP %1 Б, в COM %2 Б; отброшено %3 Б для TCP, %4 Б для COM</source>
        <translation>to TCP %1 B, to COM %2 B; dropped %3 B to TCP, %4 B to COM</translation>
    </message>
    <message>
        <source>Остановлено</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>%1 работает</source>
        <translation>%1 up</translation>
    </message>
    <message>
        <source>%1 не работает: %2</source>
        <translation>%1 down: %2</translation>
    </message>
    <message>
        <source>, следующая попытка в %1</source>
        <translation>, next try at %1</translation>
    </message>
    <message>
        <source>Программа не перезаписывает файл %1 в папке
%2:
%3.
Изменения соединений не сохранены!</source>
        <translation>The program does not write over file %1 in folder
%2:
%3.
The changes to the connections are not saved!</translation>
    </message>
    <message>
        <source>Виртуальные порты не используются: %1</source>
        <translation>Virtual ports not used: %1</translation>
    </message>
    <message>
        <source>setupc.exe not found!</source>
        <translation>setupc.exe not found!</translation>
    </message>
    <message>
        <source>Uninstall all ports...</source>
        <translation>Uninstall all ports...</translation>
    </message>
</context>
<context>
    <name>Monitor</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Пауза</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Очистить</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Сохранить...</source>
        <translation>Save...</translation>
    </message>
    <message>
        <source>Запись в файл</source>
        <translation>Write to file</translation>
    </message>
    <message>
        <source>Закрыть</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Монитор</source>
        <translation>Monitor</translation>
    </message>
    <message>
        <source>Сохранить</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Текстовые файлы (*.txt);;Все файлы (*)</source>
        <translation>Text files (*.txt);;All files (*)</translation>
    </message>
    <message>
        <source>Не удалось сохранить файл %1.
%2</source>
        <translation>Could not save file %1.
%2</translation>
    </message>
    <message>
        <source>Не удалось открыть файл %1.
%2</source>
        <translation>Could not open file %1.
%2</translation>
    </message>
    <message>
        <source>Не удалось записать в файл %1, запись в файл остановлена.
%2</source>
        <translation>Could not write to file %1; writing to the file has stopped.
%2</translation>
    </message>
</context>
<context>
    <name>NoteLimiter</name>
    <message>
        <source>%1 (таких строк пропущено: %2)</source>
        <translation>%1 (%2 more such lines left out)</translation>
    </message>
</context>
<context>
    <name>PeerListener</name>
    <message>
        <source>нет такого TCP-порта</source>
        <translation>no such TCP port</translation>
    </message>
    <message>
        <source>ждать подключений нельзя: %1 — не адрес этого компьютера</source>
        <translation>cannot wait for connections: %1 is not an address of this computer</translation>
    </message>
    <message>
        <source>ждать подключений нельзя: %1</source>
        <translation>cannot wait for connections: %1</translation>
    </message>
    <message>
        <source>подключение %1:%2 отклонено: адреса нет в списке разрешённых</source>
        <translation>connection from %1:%2 refused: the address is not on the allowed list</translation>
    </message>
</context>
<context>
    <name>PipeAccess</name>
    <message>
        <source>права канала %1 не заданы: %2</source>
        <translation>the access rights of channel %1 are not set: %2</translation>
    </message>
    <message>
        <source>канал %1 уже занят другим процессом</source>
        <translation>channel %1 is already taken by another process</translation>
    </message>
    <message>
        <source>канал %1 не открыт: %2</source>
        <translation>channel %1 not opened: %2</translation>
    </message>
</context>
<context>
    <name>PipeFile</name>
    <message>
        <source>это символьная ссылка</source>
        <translation>it is a symbolic link</translation>
    </message>
    <message>
        <source>это папка</source>
        <translation>it is a folder</translation>
    </message>
    <message>
        <source>это не обычный файл</source>
        <translation>it is not a regular file</translation>
    </message>
    <message>
        <source>он больше %1 МиБ</source>
        <translation>it is larger than %1 MiB</translation>
    </message>
    <message>
        <source>он изменился, пока его открывали</source>
        <translation>it changed while it was being opened</translation>
    </message>
    <message>
        <source>прочитанное не совпало с записанным</source>
        <translation>it did not read back as written</translation>
    </message>
    <message>
        <source>его имя занял другой файл</source>
        <translation>another file took its name</translation>
    </message>
    <message>
        <source>%1 в байте %2</source>
        <translation>%1 at byte %2</translation>
    </message>
    <message>
        <source>это не массив JSON</source>
        <translation>it is not a JSON array</translation>
    </message>
</context>
<context>
    <name>PipeLog</name>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1: %2 работает</source>
        <translation>%1: %2 up</translation>
    </message>
    <message>
        <source>%1: %2 не работает: %3</source>
        <translation>%1: %2 down: %3</translation>
    </message>
    <message>
        <source>; следующая попытка через %1 с</source>
        <translation>; next try in %1 s</translation>
    </message>
</context>
<context>
    <name>PipeRelay</name>
    <message>
        <source>пропал</source>
        <translation>gone</translation>
    </message>
    <message>
        <source>нет такого TCP-порта</source>
        <translation>no such TCP port</translation>
    </message>
    <message>
        <source>ожидание подключения</source>
        <translation>waiting for a peer</translation>
    </message>
    <message>
        <source>удалённая сторона TCP %1 заменена новым подключением</source>
        <translation>TCP peer %1 replaced by a new one</translation>
    </message>
    <message>
        <source>%1; ожидание подключения</source>
        <translation>%1; waiting for a peer</translation>
    </message>
    <message>
        <source> (сервер)</source>
        <translation> (server)</translation>
    </message>
</context>
<context>
    <name>PipeSettings</name>
    <message>
        <source>Соединение %1 «%2»: «%3» не может быть %4; прочитано как список из этой одной записи</source>
        <translation>Connection %1 &quot;%2&quot;: &quot;%3&quot; cannot be %4; it is read as a list of that one entry</translation>
    </message>
    <message>
        <source>Соединение %1 «%2»: «%3» не может содержать %4: %5 из %6 записей — не адрес и не сеть</source>
        <translation>Connection %1 &quot;%2&quot;: &quot;%3&quot; cannot hold %4: %5 of its %6 entries are neither an address nor a network</translation>
    </message>
    <message>
        <source>Соединение %1 «%2»: «%3» не может быть %4; взято значение по умолчанию</source>
        <translation>Connection %1 &quot;%2&quot;: &quot;%3&quot; cannot be %4; the default is used</translation>
    </message>
    <message>
        <source>Соединение %1 «%2»: «%3» не может быть %4; взято %5</source>
        <translation>Connection %1 &quot;%2&quot;: &quot;%3&quot; cannot be %4; %5 is used</translation>
    </message>
    <message>
        <source>Соединение %1 «%2»: «%3» не может быть %4: TCP-порт — от 1 до 65535</source>
        <translation>Connection %1 &quot;%2&quot;: &quot;%3&quot; cannot be %4: a TCP port is 1 to 65535</translation>
    </message>
</context>
<context>
    <name>QPipeMap</name>
    <message>
        <source>%1 не сохранён: его имя заняли ссылка, папка или другой необычный файл, и программа их не трогает</source>
        <translation>%1 is not saved: a link, a folder or another file that is not a regular file has taken its name, and is left alone</translation>
    </message>
    <message>
        <source>Error! Pipe collection saved</source>
        <translation>Error! Pipe collection saved</translation>
    </message>
    <message>
        <source>File pipe collection saved, OK</source>
        <translation>File pipe collection saved, OK</translation>
    </message>
    <message>
        <source>Error! Pipe collection load</source>
        <translation>Error! Pipe collection load</translation>
    </message>
    <message>
        <source>File pipe collection loaded, OK</source>
        <translation>File pipe collection loaded, OK</translation>
    </message>
    <message>
        <source>Запись %1 файла — %2, а не соединение; она прочитана как пустое соединение с id %3</source>
        <translation>Record %1 of the file is %2, not a connection; it is read as an empty one with id %3</translation>
    </message>
    <message>
        <source>У записи %1 «%2» файла нет id; ей дан id %3</source>
        <translation>Record %1 &quot;%2&quot; of the file has no id; it is given id %3</translation>
    </message>
    <message>
        <source>Запись %1 «%2» файла: id %3 — не целое число больше 0; ей дан id %4</source>
        <translation>Record %1 &quot;%2&quot; of the file: id %3 is not a whole number above 0; it is given id %4</translation>
    </message>
    <message>
        <source>Запись %1 «%2» файла: id %3 уже занят записью выше; ей дан id %4</source>
        <translation>Record %1 &quot;%2&quot; of the file: id %3 is held by an earlier record; it is given id %4</translation>
    </message>
    <message>
        <source>Записи файла сверх первых %1 не загружены: %2. Они не запускаются и остаются в файле как есть</source>
        <translation>Records beyond the first %1 in the file are not loaded: %2. They never start, and stay in the file as they are</translation>
    </message>
    <message>
        <source>%1 оставлен как есть, не прочитан и не записан: %2</source>
        <translation>%1 is left alone, neither read nor written: %2</translation>
    </message>
    <message>
        <source>%1 не удалось прочитать (%2); он и не записывается, чтобы не пропал</source>
        <translation>%1 cannot be read (%2); it is not written either, so that it is not lost</translation>
    </message>
    <message>
        <source>%1 — не список соединений (%2)</source>
        <translation>%1 is not a list of connections (%2)</translation>
    </message>
    <message>
        <source>%1 больше %2 МиБ, а список соединений таким не бывает</source>
        <translation>%1 is larger than %2 MiB, which no list of connections is</translation>
    </message>
    <message>
        <source>%1; его копия сохранена как %2</source>
        <translation>%1; a copy of it is kept as %2</translation>
    </message>
    <message>
        <source>%1, а сохранить его копию %2 не удалось (%3); он не перезаписывается</source>
        <translation>%1, and no copy of it could be kept as %2 (%3); it is not written over</translation>
    </message>
    <message>
        <source>это символьная ссылка, а через ссылки программа не пишет</source>
        <translation>it is a symbolic link, and the program does not write through links</translation>
    </message>
    <message>
        <source>на его месте папка</source>
        <translation>a folder has its name</translation>
    </message>
    <message>
        <source>это не обычный файл, а канал или устройство</source>
        <translation>it is not a regular file but a pipe or a device</translation>
    </message>
    <message>
        <source>его не удалось прочитать, и новый файл на его месте стёр бы его</source>
        <translation>it could not be read, and a new file in its place would erase it</translation>
    </message>
    <message>
        <source>в нём не список соединений, а сохранить его копию %1 не удалось</source>
        <translation>it holds no list of connections, and no copy of it could be kept as %1</translation>
    </message>
    <message>
        <source>он больше %1 МиБ, а сохранить его копию %2 не удалось</source>
        <translation>it is larger than %1 MiB, and no copy of it could be kept as %2</translation>
    </message>
</context>
<context>
    <name>RelayReports</name>
    <message>
        <source>не найден</source>
        <translation>not found</translation>
    </message>
    <message>
        <source>занят или нет доступа</source>
        <translation>busy or not allowed</translation>
    </message>
    <message>
        <source>занят</source>
        <translation>busy</translation>
    </message>
    <message>
        <source>пропал</source>
        <translation>gone</translation>
    </message>
    <message>
        <source>не принимает эти параметры линии</source>
        <translation>does not take these line settings</translation>
    </message>
    <message>
        <source>нет ответа (время ожидания истекло)</source>
        <translation>no answer (timed out)</translation>
    </message>
    <message>
        <source>сброшено удалённой стороной</source>
        <translation>reset by the peer</translation>
    </message>
    <message>
        <source>в подключении отказано</source>
        <translation>refused</translation>
    </message>
    <message>
        <source>закрыто удалённой стороной</source>
        <translation>closed by the peer</translation>
    </message>
    <message>
        <source>узел не найден</source>
        <translation>host not found</translation>
    </message>
    <message>
        <source>удалённая сторона перестала отвечать (%1)</source>
        <translation>the peer stopped answering (%1)</translation>
    </message>
    <message>
        <source>%1 с не подтверждал ничего из отправленного</source>
        <translation>acknowledged nothing that was sent for %1 s</translation>
    </message>
</context>
<context>
    <name>SerialPorts</name>
    <message>
        <source>%1 не удалось проверить</source>
        <translation>%1 cannot be examined</translation>
    </message>
    <message>
        <source>%1 — ссылка, а не папка</source>
        <translation>%1 is a link, not a folder</translation>
    </message>
    <message>
        <source>%1 — не папка</source>
        <translation>%1 is not a folder</translation>
    </message>
    <message>
        <source>%1 принадлежит другому пользователю</source>
        <translation>%1 belongs to another user</translation>
    </message>
    <message>
        <source>%1 доступна для записи другим пользователям</source>
        <translation>%1 can be written by other users</translation>
    </message>
</context>
<context>
    <name>ServiceClient</name>
    <message>
        <source>служба папки %1 не ответила за %2 с</source>
        <translation>the service of folder %1 did not answer within %2 s</translation>
    </message>
    <message>
        <source>служба папки %1 закрыла канал, не ответив</source>
        <translation>the service of folder %1 closed the channel without answering</translation>
    </message>
    <message>
        <source>служба папки %1 не отвечает: её канал не найден</source>
        <translation>the service of folder %1 does not answer: its channel was not found</translation>
    </message>
    <message>
        <source>ответ службы длиннее %1 байт</source>
        <translation>the service&apos;s answer is longer than %1 bytes</translation>
    </message>
    <message>
        <source>ответ службы не объект JSON</source>
        <translation>the service&apos;s answer is not a JSON object</translation>
    </message>
    <message>
        <source>остановлено</source>
        <translation>stopped</translation>
    </message>
    <message>
        <source>работает</source>
        <translation>running</translation>
    </message>
    <message>
        <source>COM</source>
        <translation>COM</translation>
    </message>
    <message>
        <source>TCP</source>
        <translation>TCP</translation>
    </message>
    <message>
        <source>, снова через %1 с</source>
        <translation>, again in %1 s</translation>
    </message>
    <message>
        <source>ждёт (%1)</source>
        <translation>waiting (%1)</translation>
    </message>
</context>
<context>
    <name>ServiceCommand</name>
    <message>
        <source>Служба отказала: %1</source>
        <translation>The service refused: %1</translation>
    </message>
    <message>
        <source>ответ без &quot;ok&quot;</source>
        <translation>an answer without &quot;ok&quot;</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>ИМЯ</source>
        <translation>NAME</translation>
    </message>
    <message>
        <source>COM-NULL</source>
        <translation>COM-NULL</translation>
    </message>
    <message>
        <source>TCP</source>
        <translation>TCP</translation>
    </message>
    <message>
        <source>РЕЖИМ</source>
        <translation>MODE</translation>
    </message>
    <message>
        <source>В TCP, Б</source>
        <translation>TO TCP, B</translation>
    </message>
    <message>
        <source>В COM, Б</source>
        <translation>TO COM, B</translation>
    </message>
    <message>
        <source>СОСТОЯНИЕ</source>
        <translation>STATE</translation>
    </message>
    <message>
        <source>Папка %1: соединений %2</source>
        <translation>Folder %1, connections: %2</translation>
    </message>
    <message>
        <source>сервер</source>
        <translation>server</translation>
    </message>
    <message>
        <source>клиент</source>
        <translation>client</translation>
    </message>
</context>
<context>
    <name>ServiceHost</name>
    <message>
        <source>Запущено соединений: %1</source>
        <translation>Connections started: %1</translation>
    </message>
    <message>
        <source>нет команды: ожидается &quot;cmd&quot; с текстом list, start, stop или reload</source>
        <translation>no command: &quot;cmd&quot; is expected with the text list, start, stop or reload</translation>
    </message>
    <message>
        <source>неизвестная команда &quot;%1&quot;: ожидается list, start, stop или reload</source>
        <translation>unknown command &quot;%1&quot;: list, start, stop or reload is expected</translation>
    </message>
    <message>
        <source>нужен &quot;id&quot;: номер соединения, целое число больше 0</source>
        <translation>&quot;id&quot; is needed: the connection&apos;s number, a whole number above 0</translation>
    </message>
    <message>
        <source>соединения %1 нет</source>
        <translation>there is no connection %1</translation>
    </message>
    <message>
        <source>соединение %1 уже запущено</source>
        <translation>connection %1 is already started</translation>
    </message>
    <message>
        <source>соединение %1 уже остановлено</source>
        <translation>connection %1 is already stopped</translation>
    </message>
    <message>
        <source>соединение %1 запущено</source>
        <translation>connection %1 started</translation>
    </message>
    <message>
        <source>соединение %1 остановлено</source>
        <translation>connection %1 stopped</translation>
    </message>
    <message>
        <source>По запросу: %1</source>
        <translation>On request: %1</translation>
    </message>
    <message>
        <source>не удалось прочитать %1: соединения работают как прежде</source>
        <translation>could not read %1: the connections go on as before</translation>
    </message>
    <message>
        <source>перечитан %1: новых %2, изменённых %3, удалённых %4, без изменений %5</source>
        <translation>%1 read again: %2 new, %3 changed, %4 removed, %5 unchanged</translation>
    </message>
</context>
<context>
    <name>ServiceOptions</name>
    <message>
        <source>Соединения VCOM &lt;-&gt; TCP IP одной папки без окна: её pipes.json, канал управления и команды к нему.</source>
        <translation>The VCOM &lt;-&gt; TCP IP connections of one folder, without a window: its pipes.json, the control channel and the commands to it.</translation>
    </message>
    <message>
        <source>Папка с pipes.json (без неё: %1).</source>
        <translation>The folder with pipes.json (if not given: %1).</translation>
    </message>
    <message>
        <source>папка</source>
        <translation>folder</translation>
    </message>
    <message>
        <source>Показать соединения работающей службы.</source>
        <translation>Show the connections of the running service.</translation>
    </message>
    <message>
        <source>Запустить соединение N.</source>
        <translation>Start connection N.</translation>
    </message>
    <message>
        <source>Остановить соединение N.</source>
        <translation>Stop connection N.</translation>
    </message>
    <message>
        <source>Перечитать pipes.json.</source>
        <translation>Read pipes.json again.</translation>
    </message>
    <message>
        <source>Эта справка.</source>
        <translation>This help.</translation>
    </message>
    <message>
        <source>Версия программы.</source>
        <translation>The program&apos;s version.</translation>
    </message>
    <message>
        <source>Установить службу Windows этой папки (автозапуск; папка создаётся).</source>
        <translation>Install the Windows service of this folder (automatic start; the folder is created).</translation>
    </message>
    <message>
        <source>Остановить и удалить службу Windows.</source>
        <translation>Stop and remove the Windows service.</translation>
    </message>
    <message>
        <source>Работать службой Windows: так её запускает диспетчер служб.</source>
        <translation>Run as a Windows service: the service control manager starts it so.</translation>
    </message>
    <message>
        <source>лишние аргументы: %1</source>
        <translation>unexpected arguments: %1</translation>
    </message>
    <message>
        <source>одна команда за раз, а дано: %1</source>
        <translation>one command at a time, but given: %1</translation>
    </message>
    <message>
        <source>--dir дан больше одного раза</source>
        <translation>--dir is given more than once</translation>
    </message>
    <message>
        <source>--service только для запуска службы, не с %1</source>
        <translation>--service is only for starting the service, not with %1</translation>
    </message>
    <message>
        <source>номер соединения должен быть целым числом больше 0: %1</source>
        <translation>the connection number must be a whole number above 0: %1</translation>
    </message>
    <message>
        <source>папки %1 нет</source>
        <translation>folder %1 does not exist</translation>
    </message>
</context>
<context>
    <name>ServiceProgram</name>
    <message>
        <source>VantrelVComService: %1
Справка: VantrelVComService --help</source>
        <translation>VantrelVComService: %1
Help: VantrelVComService --help</translation>
    </message>
    <message>
        <source>VantrelVComService не запущена: %1</source>
        <translation>VantrelVComService not started: %1</translation>
    </message>
    <message>
        <source>VantrelVComService: %1</source>
        <translation>VantrelVComService: %1</translation>
    </message>
    <message>
        <source>VantrelVComService %1: папка %2, канал управления %3</source>
        <translation>VantrelVComService %1: folder %2, control channel %3</translation>
    </message>
    <message>
        <source>Останов: %1</source>
        <translation>Stopping: %1</translation>
    </message>
    <message>
        <source>VantrelVComService остановлена</source>
        <translation>VantrelVComService stopped</translation>
    </message>
</context>
<context>
    <name>ServiceRegistration</name>
    <message>
        <source>%1: нужны права администратора (запустите от имени администратора)</source>
        <translation>%1: administrator rights are needed (run as administrator)</translation>
    </message>
    <message>
        <source>папка %1 не создана</source>
        <translation>folder %1 not created</translation>
    </message>
    <message>
        <source>%1 не папка</source>
        <translation>%1 is not a folder</translation>
    </message>
    <message>
        <source>диспетчер служб</source>
        <translation>service control manager</translation>
    </message>
    <message>
        <source>Служба VantrelVCom</source>
        <translation>VantrelVCom service</translation>
    </message>
    <message>
        <source>служба %1 уже установлена; чтобы установить её заново, сначала --uninstall</source>
        <translation>service %1 is already installed; to install it again, --uninstall first</translation>
    </message>
    <message>
        <source>служба %1 не установлена</source>
        <translation>service %1 is not installed</translation>
    </message>
    <message>
        <source>Соединения VCOM &lt;-&gt; TCP IP из %1 без окна и без входа пользователя. Команды: VantrelVComService --help.</source>
        <translation>The VCOM &lt;-&gt; TCP IP connections of %1, with no window and no user logged on. Commands: VantrelVComService --help.</translation>
    </message>
    <message>
        <source>описание службы</source>
        <translation>service description</translation>
    </message>
    <message>
        <source>перезапуск службы после сбоя</source>
        <translation>service restart after a failure</translation>
    </message>
    <message>
        <source>источник журнала событий: %1</source>
        <translation>event log source: %1</translation>
    </message>
    <message>
        <source>служба %1 не установлена: %2</source>
        <translation>service %1 not installed: %2</translation>
    </message>
    <message>
        <source>служба %1 установлена: папка %2, автозапуск; запустить сейчас: sc start %1</source>
        <translation>service %1 installed: folder %2, automatic start; to start it now: sc start %1</translation>
    </message>
    <message>
        <source>диспетчер служб перезапустит её только после аварийного завершения</source>
        <translation>the service control manager restarts it only after it crashes</translation>
    </message>
    <message>
        <source>служба %1</source>
        <translation>service %1</translation>
    </message>
    <message>
        <source>служба %1 не удалена</source>
        <translation>service %1 not removed</translation>
    </message>
    <message>
        <source>служба %1 удалена, но не её источник журнала событий: %2</source>
        <translation>service %1 removed, but not its event log source: %2</translation>
    </message>
    <message>
        <source>служба %1 не остановилась за %2 с: она будет удалена, когда остановится</source>
        <translation>service %1 did not stop within %2 s: it will be removed when it stops</translation>
    </message>
    <message>
        <source>служба %1 остановлена и удалена; папка и её pipes.json остались</source>
        <translation>service %1 stopped and removed; the folder and its pipes.json remain</translation>
    </message>
</context>
<context>
    <name>ServiceWatch</name>
    <message>
        <source>Служба VantrelVComService работает, соединений у неё нет</source>
        <translation>The VantrelVComService service is running and has no connections</translation>
    </message>
    <message>
        <source>Служба VantrelVComService, соединение %1 %2 (%3 &lt;-&gt; %4): %5</source>
        <translation>VantrelVComService service, connection %1 %2 (%3 &lt;-&gt; %4): %5</translation>
    </message>
    <message>
        <source>занят службой VantrelVComService (соединение %1)</source>
        <translation>held by the VantrelVComService service (connection %1)</translation>
    </message>
</context>
<context>
    <name>Setupc</name>
    <message>
        <source>Вывод setupc.exe длиннее %1 КиБ: остальное отброшено, setupc.exe остановлен</source>
        <translation>setupc.exe output is longer than %1 KiB: the rest is dropped, setupc.exe stopped</translation>
    </message>
    <message>
        <source>setupc.exe не завершился за %1 с и остановлен</source>
        <translation>setupc.exe did not finish within %1 s and was stopped</translation>
    </message>
</context>
<context>
    <name>StopRequests</name>
    <message>
        <source>прерывание (SIGINT, Ctrl+C)</source>
        <translation>interrupt (SIGINT, Ctrl+C)</translation>
    </message>
    <message>
        <source>окно консоли закрыто</source>
        <translation>console window closed</translation>
    </message>
    <message>
        <source>запрос диспетчера служб</source>
        <translation>service control manager request</translation>
    </message>
</context>
<context>
    <name>SystemError</name>
    <message>
        <source>ошибка %1</source>
        <translation>error %1</translation>
    </message>
</context>
<context>
    <name>TelnetFilter</name>
    <message>
        <source>преобразователь сообщает скорость %1</source>
        <translation>the converter reports baud %1</translation>
    </message>
    <message>
        <source>преобразователь сообщает биты данных %1</source>
        <translation>the converter reports data bits %1</translation>
    </message>
    <message>
        <source>нет</source>
        <translation>none</translation>
    </message>
    <message>
        <source>нечёт</source>
        <translation>odd</translation>
    </message>
    <message>
        <source>чёт</source>
        <translation>even</translation>
    </message>
    <message>
        <source>маркер</source>
        <translation>mark</translation>
    </message>
    <message>
        <source>пробел</source>
        <translation>space</translation>
    </message>
    <message>
        <source>преобразователь сообщает чётность %1</source>
        <translation>the converter reports parity %1</translation>
    </message>
    <message>
        <source>преобразователь сообщает стоп-биты %1</source>
        <translation>the converter reports stop bits %1</translation>
    </message>
</context>
<context>
    <name>TelnetLink</name>
    <message>
        <source>RFC 2217: удалённая сторона не отвечает на опцию COM-порта; данные идут, параметры линии не переданы</source>
        <translation>RFC 2217: the peer does not answer the COM port option; data flows, the line settings are not sent</translation>
    </message>
    <message>
        <source>RFC 2217: %1</source>
        <translation>RFC 2217: %1</translation>
    </message>
    <message>
        <source>RFC 2217: удалённая сторона отказалась от опции COM-порта; данные идут, параметры линии не переданы</source>
        <translation>RFC 2217: the peer refuses the COM port option; data flows, the line settings are not sent</translation>
    </message>
</context>
<context>
    <name>WindowsService</name>
    <message>
        <source>--service: её запускает диспетчер служб Windows; в консоли запускайте без --service</source>
        <translation>--service: the Windows service control manager starts it so; in a console, start it without --service</translation>
    </message>
    <message>
        <source>диспетчер служб не принял её обработчик: %1</source>
        <translation>the service control manager did not take its handler: %1</translation>
    </message>
</context>
</TS>
