// serialprobe: what QSerialPort itself receives at a COM port, for comparison with comprobe.
//
//     serialprobe COM7 SECONDS
//
// Opens the port at 9600 baud, writes "serialprobe\n", then prints every readyRead's bytes.
#include <QCoreApplication>
#include <QSerialPort>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: serialprobe COMn SECONDS\n");
        return 2;
    }
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    port.setBaudRate(9600);
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("open failed: %s\n", qPrintable(port.errorString()));
        return 1;
    }
    std::printf("open ok\n");
    port.write("serialprobe\n");
    qint64 total = 0;
    QObject::connect(&port, &QSerialPort::bytesWritten, [](qint64 n) {
        std::printf("bytesWritten %lld\n", n);
        std::fflush(stdout);
    });
    QObject::connect(&port, &QSerialPort::readyRead, [&]() {
        const QByteArray data = port.readAll();
        total += data.size();
        std::printf("readyRead %d bytes: %s\n", int(data.size()), data.toHex(' ').constData());
        std::fflush(stdout);
    });
    QObject::connect(&port, &QSerialPort::errorOccurred, [&](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError)
            std::printf("error %d: %s\n", int(e), qPrintable(port.errorString()));
    });
    QTimer::singleShot(atoi(argv[2]) * 1000, &app, &QCoreApplication::quit);
    app.exec();
    std::printf("total read: %lld bytes; port error %d (%s)\n", total, int(port.error()),
                qPrintable(port.errorString()));
    return total ? 0 : 1;
}
