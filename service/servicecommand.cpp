#include "servicecommand.h"

#include "serviceclient.h"
#include "serviceoptions.h"
#include "serviceprogram.h"
#include "vcomdefs.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QVector>

#include <cstdio>

namespace {

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace

int ServiceCommand::run(const ServiceOptions &options)
{
    QJsonObject request;
    switch (options.command) {
    case ServiceOptions::Status:
        request.insert(QStringLiteral("cmd"), QStringLiteral("list"));
        break;
    case ServiceOptions::Start:
    case ServiceOptions::Stop:
        request.insert(QStringLiteral("cmd"), options.command == ServiceOptions::Start ? QStringLiteral("start")
                                                                                       : QStringLiteral("stop"));
        request.insert(QStringLiteral("id"), options.id);
        break;
    default:
        request.insert(QStringLiteral("cmd"), QStringLiteral("reload"));
        break;
    }
    ServiceClient client;
    QEventLoop loop;
    int code = ServiceProgram::Failed;
    QObject::connect(&client, &ServiceClient::answered, &loop, [&](const QJsonObject &answer) {
        const QString error = answer.value(QLatin1String("error")).toString();
        if (!error.isEmpty() || !answer.value(QLatin1String("ok")).toBool()) {
            print(stderr, tr("Служба отказала: %1").arg(error.isEmpty() ? tr("ответ без \"ok\"") : error));
        } else {
            print(stdout, options.command == ServiceOptions::Status ? table(answer)
                                                                     : answer.value(QLatin1String("message")).toString());
            code = ServiceProgram::Ok;
        }
        loop.quit();
    });
    QObject::connect(&client, &ServiceClient::failed, &loop, [&](const QString &why) {
        print(stderr, why);
        loop.quit();
    });
    client.ask(options.canonicalFolder, request, TimeoutMs);
    loop.exec();
    return code;
}

QString ServiceCommand::table(const QJsonObject &answer)
{
    QVector<QStringList> rows;
    rows << QStringList{tr("ID"), tr("ИМЯ"), tr("COM-NULL"), tr("TCP"), tr("РЕЖИМ"), tr("В TCP, Б"), tr("В COM, Б"),
                        tr("СОСТОЯНИЕ")};
    const QJsonArray connections = answer.value(QLatin1String("connections")).toArray();
    for (const QJsonValue &value : connections) {
        const QJsonObject c = value.toObject();
        // Named as the connection dialog names the modes; a value this version does not know as it is.
        const QString mode = c.value(QLatin1String("mode")).toString();
        const QString shownMode = mode == Vcom::ServerMode ? tr("сервер") : mode == Vcom::ClientMode ? tr("клиент") : mode;
        const QJsonObject counters = c.value(QLatin1String("counters")).toObject();
        rows << QStringList{QString::number(c.value(QLatin1String("id")).toInt()),
                            c.value(QLatin1String("name")).toString(),
                            c.value(QLatin1String("port_null")).toString(),
                            c.value(QLatin1String("endpoint")).toString(),
                            shownMode,
                            QString::number(qint64(counters.value(QLatin1String("to_tcp")).toDouble())),
                            QString::number(qint64(counters.value(QLatin1String("to_com")).toDouble())),
                            ServiceClient::stateText(c)};
    }
    QVector<int> widths(rows.first().size(), 0);
    for (const QStringList &row : qAsConst(rows)) {
        for (int i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], row.at(i).size());
    }
    QStringList lines;
    lines << tr("Папка %1: соединений %2").arg(answer.value(QLatin1String("folder")).toString()).arg(connections.size());
    for (const QStringList &row : qAsConst(rows)) {
        QStringList cells;
        for (int i = 0; i < row.size(); ++i)
            cells << (i + 1 < row.size() ? row.at(i).leftJustified(widths[i]) : row.at(i));
        lines << cells.join(QStringLiteral("  "));
    }
    return lines.join(QLatin1Char('\n'));
}
