#include "serviceoptions.h"

#include "servicechannel.h"

#include <QCommandLineParser>
#include <QMap>

ServiceOptions ServiceOptions::parse(const QStringList &args)
{
    ServiceOptions options;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr("Соединения VCOM <-> TCP IP одной папки без окна: её pipes.json, канал управления и команды к нему."));
    const QCommandLineOption dir(QStringLiteral("dir"),
                                 tr("Папка с pipes.json (без неё: %1).").arg(ServiceChannel::defaultFolder()),
                                 tr("папка"));
    const QCommandLineOption status(QStringLiteral("status"), tr("Показать соединения работающей службы."));
    const QCommandLineOption start(QStringLiteral("start"), tr("Запустить соединение N."), QStringLiteral("N"));
    const QCommandLineOption stop(QStringLiteral("stop"), tr("Остановить соединение N."), QStringLiteral("N"));
    const QCommandLineOption reload(QStringLiteral("reload"), tr("Перечитать pipes.json."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, tr("Эта справка."));
    const QCommandLineOption version(QStringLiteral("version"), tr("Версия программы."));
    parser.addOptions({dir, status, start, stop, reload, help, version});
#ifdef Q_OS_WIN
    const QCommandLineOption install(QStringLiteral("install"),
                                     tr("Установить службу Windows этой папки (автозапуск; папка создаётся)."));
    const QCommandLineOption uninstall(QStringLiteral("uninstall"), tr("Остановить и удалить службу Windows."));
    const QCommandLineOption managed(QStringLiteral("service"),
                                     tr("Работать службой Windows: так её запускает диспетчер служб."));
    parser.addOptions({install, uninstall, managed});
#endif
    options.helpText = parser.helpText();

    if (!parser.parse(args)) {
        options.error = parser.errorText();
        return options;
    }
    if (parser.isSet(help)) {
        options.command = Help;
        return options;
    }
    if (parser.isSet(version)) {
        options.command = Version;
        return options;
    }
    if (!parser.positionalArguments().isEmpty()) {
        options.error = tr("лишние аргументы: %1").arg(parser.positionalArguments().join(QLatin1Char(' ')));
        return options;
    }
    // Every command given, repeats too: "--stop 1 --stop 2" would do only one of them.
    const QMap<QString, Command> commands = {{QStringLiteral("status"), Status}, {QStringLiteral("start"), Start},
                                             {QStringLiteral("stop"), Stop}, {QStringLiteral("reload"), Reload},
                                             {QStringLiteral("install"), Install}, {QStringLiteral("uninstall"), Uninstall}};
    QStringList given;
    const QStringList names = parser.optionNames();
    for (const QString &name : names) {
        if (commands.contains(name))
            given << QStringLiteral("--") + name;
    }
    if (given.size() > 1) {
        options.error = tr("одна команда за раз, а дано: %1").arg(given.join(QStringLiteral(", ")));
        return options;
    }
    if (names.count(QStringLiteral("dir")) > 1) {
        options.error = tr("--dir дан больше одного раза");
        return options;
    }
    const Command command = given.isEmpty() ? Run : commands.value(given.constFirst().mid(2));
#ifdef Q_OS_WIN
    options.managed = parser.isSet(managed);
    if (options.managed && command != Run) {
        options.error = tr("--service только для запуска службы, не с %1").arg(given.constFirst());
        return options;
    }
#endif
    if (command == Start || command == Stop) {
        const QString number = parser.value(command == Start ? start : stop);
        bool ok = false;
        options.id = number.toInt(&ok);
        if (!ok || options.id < 1) {
            options.error = tr("номер соединения должен быть целым числом больше 0: %1").arg(number);
            return options;
        }
    }
    options.folder = parser.isSet(dir) ? parser.value(dir) : ServiceChannel::defaultFolder();
    options.canonicalFolder = ServiceChannel::canonicalFolder(options.folder);
    if (options.canonicalFolder.isEmpty() && command != Install && command != Uninstall) {
        options.error = tr("папки %1 нет").arg(options.folder);
        return options;
    }
    options.command = command;
    return options;
}
