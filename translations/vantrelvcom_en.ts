<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>AboutDialog</name>
    <message>
        <source>О программе...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Программа управления соединениями VCOM &lt;-&gt; TCP IP</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Версия: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>V1.0.0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Дата сборки:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>00.00.00</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  ООО «Вантрел»</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Vantrel, 000000, г. Примерск, ул. Образцовая, 1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Телефон: +7 (000) 000-00-00</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  E-mail: support@vantrel.example  Сайт: https://www.vantrel.example/support</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ConnectDialog</name>
    <message>
        <source>Dialog</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Наименование</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Новое</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Виртуальная пара портов ввода/вывода</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Порт COM-WORK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Порт COM-NULL</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ethenet TCP IP сокет </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>IP адрес</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>192.168.0.225</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> шаблон 192.168.x.x</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TCP порт</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Описание</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Режим и параметры линии</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Режим</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>RFC 2217 (настройка линии на преобразователе)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Скорость</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Биты данных</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Чётность</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Стоп-биты</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Добавить</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Выход</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Параметры соединения</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>клиент</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>сервер</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>нет</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>нечёт</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>чёт</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>маркер</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>пробел</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Изменить</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Адрес, на котором ждать подключений (0.0.0.0 — все адреса)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>DeviceDialog</name>
    <message>
        <source>Dialog</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Листинг портов в/в</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Обновить</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Список портов</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Виртуальные порты</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>COM: Пара A&lt;-&gt;B</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>индекс</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Добавить</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Удалить... </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Выход</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Управление VCOM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Порты %1: %2&lt;-&gt;%3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Установка виртуальных устройств</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Добавить новою пару портов
ввода/вывода?
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Добавление VCOM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>НЕ! удалось добавить виртуальные порты!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>setupc.exe not found!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add ports</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Path: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>setupc.exe install ports error!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Удаление пары портов</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1, Удалить порты ?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Неверный путь setupc.exe...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1&lt;-&gt;%2 is no longer pair %3: nothing removed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Command: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> delete device</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ExitDialog</name>
    <message>
        <source>Dialog</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Выход из программы. Выберите действие</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Выход</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Свернуть...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Выход из программы</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>MainWindow</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Таблица соединений (VCOM &lt;-&gt; TCP)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Листинг виртуальных портов в системе</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>toolBar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Vantrel-VCom V%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Авто загрузка</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Управление виртуальными портами...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Удаление всех...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Запусить...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Оставновить...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Добавить виртуальное соединение</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Удалить виртуальное соединение</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Выйти</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Монитор...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>О программе...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Помощь...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Файл</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Устройства</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Соединения</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Помощь</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Работа</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Инструменты</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Статус: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>to TCP %1 B, to COM %2 B; dropped %3 B to TCP, %4 B to COM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 up</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 down: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>, next try at %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Невалидный индекс</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Добавить соединение</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Невозможно добавить соединение!
Максимальное количество 4</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Удаление соединений</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не выбрано соединение для удаления!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>неверный индекс</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Удалить %1 ID:%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Удаление соединения</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Объект</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Объект не выбран или неверный ID!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Запустить соединение VCOM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Остановить соединение VCOM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Удалить соединение...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Запуск соединения</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Соединение не выбрано или неверный ID!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не неверный ID или соединение уже запущено!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Останов соединения</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Соединение не не выбрано или неверный ID!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не неверный ID или соединение не запущено!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Started thread: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit &amp; Terminate thread: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Сохранение соединений</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не удалось записать файл %1 в папке
%2
Изменения соединений не сохранены!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Мониторинг соединения</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не выбрано соединение для мониторинга!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Соединение не установлено!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Пара %1: %2-%3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Virtual ports not used: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Удаление портов в/в</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Внимание!!!
Вы пытаетесь удалить все виртуальные
Удалить?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Порты ввода/вывода</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Неверный путь, setupc.exe!</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Monitor</name>
    <message>
        <source>Dialog</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Пауза</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Очистить</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Сохранить...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Запись в файл</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Закрыть</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Монитор</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Сохранить</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Текстовые файлы (*.txt);;Все файлы (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не удалось сохранить файл %1.
%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не удалось открыть файл %1.
%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не удалось записать в файл %1, запись в файл остановлена.
%2</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PeerListener</name>
    <message>
        <source>no such TCP port</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cannot listen: %1 is not an address of this computer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cannot listen: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PipeLog</name>
    <message>
        <source>%1: %2 up</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2 down: %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>; next try in %1 s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PipeRelay</name>
    <message>
        <source>RFC 2217: the peer does not answer the COM port option; data flows, the line settings are not sent</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>gone</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no such TCP port</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>waiting for a peer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TCP peer %1 replaced by a new one</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1; waiting for a peer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> (server)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>RFC 2217: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>RFC 2217: the peer refuses the COM port option; data flows, the line settings are not sent</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PipeSettings</name>
    <message>
        <source>Connection %1 &quot;%2&quot;: &quot;%3&quot; cannot be %4; the default is used</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>RelayReports</name>
    <message>
        <source>not found</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>busy or not allowed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>busy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>gone</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>does not take these line settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no answer (timed out)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>refused</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>reset by the peer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>closed by the peer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>host not found</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the peer stopped answering (%1)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
