#include "monitor.h"
#include "ui_monitor.h"

#include <QFontMetrics>
#include <QListWidgetItem>
#include <QStyle>

Monitor::Monitor(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Monitor)
{
    ui->setupUi(this);
    setWindowTitle(tr("Монитор"));
    ui->listWidget->setStyleSheet(QStringLiteral("color:rgb(150,150,150);background-color:rgb(50,50,50);"));

    // The lines arrive in the GUI thread between the reads and writes of the relay, so adding
    // one must stay cheap. Scrolling at once would force the list to lay out all its lines for
    // every block; a zero timer scrolls once per pass of the event loop instead.
    scrollTimer.setSingleShot(true);
    scrollTimer.setInterval(0);
    connect(&scrollTimer, &QTimer::timeout, ui->listWidget, &QListWidget::scrollToBottom);
}

Monitor::~Monitor()
{
    delete ui;
}

QString Monitor::formatLine(const QString &tag, const QByteArray &block)
{
    // Formatted by hand: a QString::arg() per byte costs more than the rest of the line.
    static const char digits[] = "0123456789abcdef";
    QByteArray hex(block.size() * 5 + 1, ' ');
    char *out = hex.data();
    for (const char byte : block) {
        const uchar value = uchar(byte);
        out[0] = ' ';
        out[1] = '0';
        out[2] = 'x';
        out[3] = digits[value >> 4];
        out[4] = digits[value & 0x0f];
        out += 5;
    }
    QString line = tag;
    line += QLatin1String(hex.constData(), hex.size());
    // The pointer-and-size overload: the QByteArray one would stop at the first zero byte and
    // hide the rest of a binary block's text.
    line += QString::fromUtf8(block.constData(), block.size());
    return line;
}

void Monitor::onShowSerial(const QByteArray &buffer)
{
    addLine(formatLine(QStringLiteral("[VCOM]"), buffer));
}

void Monitor::onShowSocket(const QByteArray &buffer)
{
    addLine(formatLine(QStringLiteral("[TCP]"), buffer));
}

void Monitor::on_pushButton_clicked()
{
    accept();
}

void Monitor::addLine(const QString &line)
{
    QListWidget *list = ui->listWidget;
    auto *item = new QListWidgetItem(line);
    // Every insertion makes the list lay out all its lines again. Without a size of its own
    // each item would have its text measured anew each time (about 0.1 s for a full list);
    // with it the layout only reads the sizes. A line break in a block still gives a taller
    // item, as it would without the hint.
    const int margin = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
    item->setSizeHint(list->fontMetrics().size(0, line) + QSize(margin, 2));
    list->addItem(item);
    // Taking the first item out is cheap by itself: the cost of a line is the layout above,
    // which the insertion causes anyway.
    while (list->count() > MaxLines)
        delete list->takeItem(0);
    scrollTimer.start();
}
