#include "serviceprogram.h"

#include "controlserver.h"
#include "language.h"
#include "servicecommand.h"
#include "servicehost.h"
#include "servicelog.h"
#include "serviceoptions.h"
#include "stoprequests.h"
#include "vcomdefs.h"

#ifdef Q_OS_WIN
#include "serviceregistration.h"
#include "windowsservice.h"
#endif

#include <cstdio>

namespace {

void printTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace

int ServiceProgram::main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("VantrelVComService"));
    QCoreApplication::setApplicationVersion(QLatin1String(Vcom::Version));
    // The log and the answers in the window's language: English where the system speaks it.
    Language::install(&app);
    const ServiceOptions options = ServiceOptions::parse(QCoreApplication::arguments());
    switch (options.command) {
    case ServiceOptions::Help:
        printTo(stdout, options.helpText);
        return Ok;
    case ServiceOptions::Version:
        printTo(stdout, QStringLiteral("VantrelVComService %1").arg(QLatin1String(Vcom::Version)));
        return Ok;
    case ServiceOptions::Invalid:
        printTo(stderr, tr("VantrelVComService: %1\nСправка: VantrelVComService --help").arg(options.error));
        return Usage;
    case ServiceOptions::Run: {
#ifdef Q_OS_WIN
        if (options.managed) {
            QString why;
            const int code = WindowsService::run(options, &why);
            if (!why.isEmpty())
                printTo(stderr, tr("VantrelVComService не запущена: %1").arg(why));
            return code;
        }
#endif
        return runService(options);
    }
#ifdef Q_OS_WIN
    case ServiceOptions::Install:
    case ServiceOptions::Uninstall: {
        QString message;
        const int code = options.command == ServiceOptions::Install ? ServiceRegistration::install(options, &message)
                                                                    : ServiceRegistration::uninstall(&message);
        printTo(code == Ok ? stdout : stderr, code == Ok ? message : tr("VantrelVComService: %1").arg(message));
        return code;
    }
#endif
    default:
        return ServiceCommand::run(options);
    }
}

int ServiceProgram::runService(const ServiceOptions &options, const ServiceHooks &hooks)
{
    ServiceLog log;
    if (hooks.log)
        log.addSink(hooks.log);
    ServiceHost host(options.canonicalFolder);
    QObject::connect(&host, &ServiceHost::line, [&log](const QString &line) { log.write(line); });
    ControlServer control([&host](const QJsonObject &request) { return host.answer(request); });
    QString why;
    // The channel first: a second service of the folder must not touch its ports at all.
    if (!control.listen(options.canonicalFolder, &why)) {
        log.write(tr("VantrelVComService не запущена: %1").arg(why));
        return CannotRun;
    }
    log.write(tr("VantrelVComService %1: папка %2, канал управления %3")
                  .arg(QLatin1String(Vcom::Version), options.canonicalFolder, control.place()));
    StopRequests stops;
    QObject::connect(&stops, &StopRequests::requested, &host, [&](const QString &reason) {
        // A second request while stopping changes nothing.
        QObject::disconnect(&stops, &StopRequests::requested, &host, nullptr);
        log.write(tr("Останов: %1").arg(reason));
        if (hooks.stopping)
            hooks.stopping();
        host.stopAll();
        QCoreApplication::exit(Ok);
    });
    host.startAll();
    if (hooks.running)
        hooks.running();
    const int code = QCoreApplication::exec();
    log.write(tr("VantrelVComService остановлена"));
    return code;
}
