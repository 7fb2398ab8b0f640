// The program as its own client: sends one command to the running service of a folder and
// prints the answer, a table for --status.
#ifndef SERVICECOMMAND_H
#define SERVICECOMMAND_H

#include <QCoreApplication>
#include <QJsonObject>
#include <QString>

class ServiceOptions;

class ServiceCommand
{
    Q_DECLARE_TR_FUNCTIONS(ServiceCommand)

public:
    // How long a command waits for its answer: a reload stops and starts connections first.
    static const int TimeoutMs = 10000;

    // The exit code: 0 when the service did what was asked.
    static int run(const ServiceOptions &options);
    // The connections of a "list" answer as a table, a line each.
    static QString table(const QJsonObject &answer);
};

#endif // SERVICECOMMAND_H
