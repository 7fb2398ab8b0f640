#include "monitor.h"
#include "ui_monitor.h"

#include "qpipemap.h"

#include <QFontMetrics>
#include <QAbstractItemView>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QListWidgetItem>
#include <QMessageBox>
#include <QPainter>
#include <QSaveFile>
#include <QStyledItemDelegate>
#include <QStyle>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

const char hexDigits[] = "0123456789abcdef";

// The size of "HH:mm:ss.zzz ".
constexpr int TimeSize = 13;

// Writes "HH:mm:ss.zzz " of the local time at ms since the epoch.
void writeTime(char *out, qint64 ms)
{
    // Local time is looked up once a second: it costs more than formatting a small block. The
    // monitor lives in the GUI thread only.
    static qint64 cachedSecond = std::numeric_limits<qint64>::min();
    static char hms[8];
    const qint64 second = ms >= 0 ? ms / 1000 : -((999 - ms) / 1000);
    if (second != cachedSecond) {
        const QTime time = QDateTime::fromMSecsSinceEpoch(second * 1000).time();
        const int parts[3] = {time.hour(), time.minute(), time.second()};
        for (int i = 0; i < 3; ++i) {
            hms[3 * i] = char('0' + parts[i] / 10);
            hms[3 * i + 1] = char('0' + parts[i] % 10);
            if (i < 2)
                hms[3 * i + 2] = ':';
        }
        cachedSecond = second;
    }
    const int milli = int(ms - second * 1000);
    std::memcpy(out, hms, 8);
    out[8] = '.';
    out[9] = char('0' + milli / 100);
    out[10] = char('0' + milli / 10 % 10);
    out[11] = char('0' + milli % 10);
    out[12] = ' ';
}

// " 0x.." for each byte; returns the end of what was written (5 chars a byte).
char *writeHex(char *out, const char *data, int size)
{
    // By hand: a QString::arg() per byte costs more than the rest of the line.
    for (int i = 0; i < size; ++i) {
        const uchar value = uchar(data[i]);
        out[0] = ' ';
        out[1] = '0';
        out[2] = 'x';
        out[3] = hexDigits[value >> 4];
        out[4] = hexDigits[value & 0x0f];
        out += 5;
    }
    return out;
}

QLatin1String tagOf(bool fromSerial)
{
    return fromSerial ? QLatin1String("[VCOM]") : QLatin1String("[TCP]");
}

// The line of a block as the file gets it: the list's line in UTF-8, and a line feed.
void appendFileLine(QByteArray &out, qint64 ms, bool fromSerial, const char *data, int size)
{
    const QLatin1String tag = tagOf(fromSerial);
    const int start = out.size();
    out.resize(start + TimeSize + tag.size() + 5 * size + 1);
    char *at = out.data() + start;
    writeTime(at, ms);
    at += TimeSize;
    std::memcpy(at, tag.data(), size_t(tag.size()));
    at = writeHex(at + tag.size(), data, size);
    *at = ' ';
    // ASCII stands for itself in UTF-8; anything else goes the way the list's text goes, so
    // that invalid sequences become the same replacement characters.
    if (std::all_of(data, data + size, [](char c) { return uchar(c) < 0x80; }))
        out.append(data, size);
    else
        out.append(QString::fromUtf8(data, size).toUtf8());
    out.append('\n');
}

// A line made into text only when asked for it: the list asks for the lines in view, and of a
// busy connection's lines nearly all are dropped again before anyone sees them. Formatting each
// cost the monitor more than relaying its bytes.
class BlockLine : public QListWidgetItem
{
public:
    BlockLine(bool fromSerial, const QByteArray &data, int from, int size, qint64 readAtMs, QSize hint)
        : m_data(data)
        , m_from(from)
        , m_size(size)
        , m_readAtMs(readAtMs)
        , m_hint(hint)
        , m_fromSerial(fromSerial)
    {
    }

    QVariant data(int role) const override
    {
        if (role == Qt::DisplayRole || role == Qt::EditRole) {
            const QByteArray block = m_from == 0 && m_size == m_data.size() ? m_data : m_data.mid(m_from, m_size);
            char time[TimeSize];
            writeTime(time, m_readAtMs);
            return QLatin1String(time, TimeSize) + Monitor::formatLine(tagOf(m_fromSerial), block);
        }
        if (role == Qt::SizeHintRole)
            return m_hint;
        return QListWidgetItem::data(role);
    }

private:
    // Shared by the lines of one serial read.
    QByteArray m_data;
    int m_from;
    int m_size;
    qint64 m_readAtMs;
    QSize m_hint;
    bool m_fromSerial;
};

// Draws only as much of each line as can be in view. The style lays out (shapes) the whole text
// of a line to draw it, and a line of a large TCP read holds tens of thousands of characters, of
// which the window shows a hundred or two: drawing the list took most of the monitor's time.
class VisiblePartDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const auto *view = qobject_cast<const QAbstractItemView *>(option.widget);
        const QRect shown = view ? view->viewport()->rect() : QRect(0, 0, painter->device()->width(), painter->device()->height());
        // A line that lies in view whole is drawn whole, as the style would (eliding included).
        if (!shown.contains(opt.rect))
            opt.text = visiblePart(opt.text, opt.fontMetrics, opt.rect, shown);
        const QWidget *widget = option.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    }

private:
    // The text with each of its rows cut once it is wider than the view, and the rows below the
    // view left empty. The delegate has made the block's line feeds line separators by then.
    static QString visiblePart(const QString &text, const QFontMetrics &metrics, const QRect &item, const QRect &shown)
    {
        const int room = shown.right() - item.left();
        // Less than a row's height: the rows reckoned below the view surely are.
        const int least = qMax(1, metrics.ascent());
        QString part;
        int start = 0;
        for (int top = item.top();; top += least) {
            int end = text.indexOf(QChar::LineSeparator, start);
            if (end < 0)
                end = text.size();
            if (top <= shown.bottom()) {
                const QStringRef row = text.midRef(start, end - start);
                int n = 64;
                while (n < row.size() && metrics.horizontalAdvance(row.left(n).toString()) <= room)
                    n *= 2;
                // A few more, for glyphs that reach back over the edge.
                part += row.left(n + 8);
            }
            if (end == text.size())
                return part;
            part += QChar::LineSeparator;
            start = end + 1;
        }
    }
};

int linesOf(bool fromSerial, int size)
{
    return fromSerial && size > QPipeItem::SerialChunk ? (size + QPipeItem::SerialChunk - 1) / QPipeItem::SerialChunk : 1;
}

} // namespace

Monitor::Monitor(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Monitor)
{
    ui->setupUi(this);
    showTitle();
    ui->listWidget->setStyleSheet(QStringLiteral("color:rgb(150,150,150);background-color:rgb(50,50,50);"));

    // The blocks arrive in the GUI thread between the reads and writes of the relay it watches.
    // A list line, its layout and the repaint it causes cost far more than relaying a block, so
    // a block is only queued here and the lines are made a few times a second.
    ui->listWidget->setItemDelegate(new VisiblePartDelegate(ui->listWidget));
    showTimer.setSingleShot(true);
    showTimer.setInterval(ShowEveryMs);
    connect(&showTimer, &QTimer::timeout, this, &Monitor::showPending);

    // A write per block would cost a system call each on a busy connection.
    logTimer.setSingleShot(true);
    logTimer.setInterval(FileLogEveryMs);
    connect(&logTimer, &QTimer::timeout, this, &Monitor::writeFileLog);
}

Monitor::~Monitor()
{
    stopFileLog();
    delete ui;
}

QString Monitor::formatLine(const QString &tag, const QByteArray &block)
{
    QByteArray hex(block.size() * 5 + 1, ' ');
    writeHex(hex.data(), block.constData(), block.size());
    QString line = tag;
    line += QLatin1String(hex.constData(), hex.size());
    // The pointer-and-size overload: the QByteArray one would stop at the first zero byte and
    // hide the rest of a binary block's text.
    line += QString::fromUtf8(block.constData(), block.size());
    return line;
}

void Monitor::onShowBlock(int side, const QByteArray &buffer, qint64 readAtMs)
{
    queue(side == 0, buffer, readAtMs);
}

void Monitor::onShowSerial(const QByteArray &buffer)
{
    queue(true, buffer, QDateTime::currentMSecsSinceEpoch());
}

void Monitor::onShowSocket(const QByteArray &buffer)
{
    queue(false, buffer, QDateTime::currentMSecsSinceEpoch());
}

void Monitor::setConnection(const QString &label)
{
    connectionLabel = label;
    showTitle();
}

void Monitor::setCounts(const QString &counts)
{
    countsText = counts;
    showTitle();
}

void Monitor::showTitle()
{
    QString title = tr("Монитор");
    for (const QString &part : {connectionLabel, countsText}) {
        if (!part.isEmpty())
            title += QStringLiteral(" \u2014 ") + part;
    }
    setWindowTitle(title);
}

void Monitor::done(int result)
{
    // The file is the user's as soon as the monitor is closed, whole.
    stopFileLog();
    QDialog::done(result);
}

void Monitor::on_pushButton_clicked()
{
    accept();
}

void Monitor::on_btPause_toggled(bool paused)
{
    if (!paused)
        showPending();
}

void Monitor::on_btClear_clicked()
{
    showTimer.stop();
    pending.clear();
    pendingLines = 0;
    ui->listWidget->clear();
}

void Monitor::on_btSave_clicked()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Сохранить"), QString(),
                                                      tr("Текстовые файлы (*.txt);;Все файлы (*)"));
    if (!path.isEmpty())
        saveTo(path);
}

void Monitor::on_chkFile_clicked(bool checked)
{
    if (!checked) {
        stopFileLog();
        return;
    }
    // Added to, never emptied: the user may go on with yesterday's log.
    const QString path = QFileDialog::getSaveFileName(this, tr("Запись в файл"), QString(),
                                                      tr("Текстовые файлы (*.txt);;Все файлы (*)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty() || !startFileLog(path))
        ui->chkFile->setChecked(false);
}

bool Monitor::saveTo(const QString &path)
{
    // What has come meanwhile is as good as shown; while paused the user saves what he sees.
    showPending();
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        const QListWidget *list = ui->listWidget;
        for (int i = 0; i < list->count(); ++i) {
            QByteArray line = list->item(i)->text().toUtf8();
            line += '\n';
            if (file.write(line) != line.size())
                break;
        }
        if (file.commit())
            return true;
    }
    QMessageBox::warning(this, tr("Сохранить"),
                         tr("Не удалось сохранить файл %1.\n%2").arg(QDir::toNativeSeparators(path), file.errorString()));
    return false;
}

bool Monitor::startFileLog(const QString &path)
{
    stopFileLog();
    logFile.setFileName(path);
    // Unbuffered: logBuffer is the buffer, and a full disk shows at the write that meets it.
    if (!logFile.open(QIODevice::Append | QIODevice::Unbuffered)) {
        QMessageBox::warning(this, tr("Запись в файл"),
                             tr("Не удалось открыть файл %1.\n%2")
                                 .arg(QDir::toNativeSeparators(path), logFile.errorString()));
        return false;
    }
    // Reserved, so that emptying it keeps its room.
    logBuffer.reserve(FileLogFlushBytes + FileLogFlushBytes / 4);
    ui->chkFile->setChecked(true);
    return true;
}

void Monitor::stopFileLog()
{
    if (logFile.isOpen() && writeFileLog())
        logFile.close();
    logBuffer.clear();
    ui->chkFile->setChecked(false);
}

void Monitor::logBlock(bool fromSerial, const QByteArray &buffer, qint64 readAtMs)
{
    const int step = fromSerial ? int(QPipeItem::SerialChunk) : qMax(1, buffer.size());
    int from = 0;
    do {
        const int size = qMin(step, buffer.size() - from);
        appendFileLine(logBuffer, readAtMs, fromSerial, buffer.constData() + from, size);
        from += size;
    } while (from < buffer.size());
    if (logBuffer.size() >= FileLogFlushBytes)
        writeFileLog();
    else if (!logTimer.isActive())
        logTimer.start();
}

bool Monitor::writeFileLog()
{
    logTimer.stop();
    if (!logFile.isOpen())
        return false;
    if (logBuffer.isEmpty())
        return true;
    if (logFile.write(logBuffer) != logBuffer.size()) {
        fileLogFailed(logFile.errorString());
        return false;
    }
    logBuffer.resize(0);
    return true;
}

void Monitor::fileLogFailed(const QString &why)
{
    const QString path = logFile.fileName();
    logFile.close();
    logBuffer.clear();
    logTimer.stop();
    ui->chkFile->setChecked(false);
    // Told later, from the event loop: this runs on the way of a block, and a modal box here
    // would take in the next blocks while this one is half done.
    QTimer::singleShot(0, this, [this, path, why] {
        QMessageBox::warning(this, tr("Запись в файл"),
                             tr("Не удалось записать в файл %1, запись в файл остановлена.\n%2")
                                 .arg(QDir::toNativeSeparators(path), why));
    });
}

void Monitor::queue(bool fromSerial, const QByteArray &buffer, qint64 readAtMs)
{
    // Every block, paused or not, and whether or not the list will still show it.
    if (logFile.isOpen())
        logBlock(fromSerial, buffer, readAtMs);
    Block block{fromSerial, buffer, linesOf(fromSerial, buffer.size()), readAtMs};
    pendingLines += block.lines;
    pending.push_back(std::move(block));
    // Older blocks would only be shown to be dropped at once.
    while (pendingLines - pending.front().lines >= MaxLines) {
        pendingLines -= pending.front().lines;
        pending.pop_front();
    }
    if (!showTimer.isActive() && !ui->btPause->isChecked())
        showTimer.start();
}

void Monitor::showPending()
{
    showTimer.stop();
    if (pending.empty() || ui->btPause->isChecked())
        return;
    QListWidget *list = ui->listWidget;
    list->setUpdatesEnabled(false);
    // The lines that would go at once are not added at all.
    const int incoming = qMin(pendingLines, int(MaxLines));
    const int excess = list->count() + incoming - MaxLines;
    if (excess >= list->count())
        list->clear();
    else if (excess > 0)
        list->model()->removeRows(0, excess);
    // Each item gets a size of its own, or the list would measure every text again at each of
    // its layouts. Measuring a line exactly (shaping some 800 characters) costs about 0.1 ms, far
    // more than the rest of the line, so the size is reckoned from the parts instead: the time
    // and the hex bytes have digits of one width, the text at most a wide character per byte,
    // and every line break in the block adds a line. Too wide only adds a little room at the
    // right.
    const QFontMetrics metrics = list->fontMetrics();
    const int margin = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
    const int tagWidth = metrics.horizontalAdvance(QStringLiteral("00:00:00.000 [VCOM] "));
    const int byteWidth = metrics.horizontalAdvance(QStringLiteral(" 0xdd"));
    const int charWidth = metrics.horizontalAdvance(QLatin1Char('W'));
    const int lineSpacing = metrics.lineSpacing();
    int skip = pendingLines - incoming;
    for (Block &block : pending) {
        if (skip >= block.lines) {
            skip -= block.lines;
            continue;
        }
        // Kept for as long as its lines: not the larger buffer the bytes were read into. Only
        // here: in a flood most blocks are dropped before they are shown.
        block.data.squeeze();
        const int step = block.lines > 1 ? int(QPipeItem::SerialChunk) : block.data.size();
        for (int line = skip; line < block.lines; ++line) {
            const int from = line * step;
            const int size = qMin(step, block.data.size() - from);
            const int width = tagWidth + size * (byteWidth + charWidth);
            const char *begin = block.data.constData() + from;
            const int height = (int(std::count(begin, begin + size, '\n')) + 1) * lineSpacing;
            list->addItem(new BlockLine(block.fromSerial, block.data, from, size, block.readAtMs,
                                        QSize(width + margin, height + 2)));
        }
        skip = 0;
    }
    showTimer.setInterval(pendingLines >= MaxLines ? FloodShowEveryMs : ShowEveryMs);
    pending.clear();
    pendingLines = 0;
    list->setUpdatesEnabled(true);
    list->scrollToBottom();
}
