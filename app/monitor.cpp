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

    // The blocks arrive in the GUI thread between the reads and writes of the relay it watches.
    // A list line, its layout and the repaint it causes cost far more than relaying a block, so
    // a block is only queued here and the lines are made a few times a second.
    showTimer.setSingleShot(true);
    showTimer.setInterval(ShowEveryMs);
    connect(&showTimer, &QTimer::timeout, this, &Monitor::showPending);
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
    queue(true, buffer);
}

void Monitor::onShowSocket(const QByteArray &buffer)
{
    queue(false, buffer);
}

void Monitor::on_pushButton_clicked()
{
    accept();
}

void Monitor::queue(bool fromSerial, const QByteArray &buffer)
{
    pending.push_back({fromSerial, buffer});
    // Older blocks would only be shown to be dropped at once.
    if (pending.size() > size_t(MaxLines))
        pending.pop_front();
    if (!showTimer.isActive())
        showTimer.start();
}

void Monitor::showPending()
{
    showTimer.stop();
    if (pending.empty())
        return;
    QListWidget *list = ui->listWidget;
    list->setUpdatesEnabled(false);
    // Each item gets a size of its own, or the list would measure every text again at each of
    // its layouts. Measuring a line exactly (shaping some 800 characters) costs about 0.1 ms, far
    // more than the rest of the line, so the size is reckoned from the parts instead: the hex
    // bytes all have the width of " 0x00", the text at most a wide character per byte, and
    // every line break in the block adds a line. Too wide only adds a little room at the right.
    const QFontMetrics metrics = list->fontMetrics();
    const int margin = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
    const int tagWidth = metrics.horizontalAdvance(QStringLiteral("[VCOM] "));
    const int byteWidth = metrics.horizontalAdvance(QStringLiteral(" 0xdd"));
    const int charWidth = metrics.horizontalAdvance(QLatin1Char('W'));
    for (const Block &block : pending) {
        const QString line = formatLine(block.fromSerial ? QStringLiteral("[VCOM]") : QStringLiteral("[TCP]"),
                                        block.data);
        auto *item = new QListWidgetItem(line);
        const int width = tagWidth + block.data.size() * (byteWidth + charWidth);
        const int height = (block.data.count('\n') + 1) * metrics.lineSpacing();
        item->setSizeHint(QSize(width + margin, height + 2));
        list->addItem(item);
    }
    pending.clear();
    const int excess = list->count() - MaxLines;
    if (excess > 0)
        list->model()->removeRows(0, excess);
    list->setUpdatesEnabled(true);
    list->scrollToBottom();
}
