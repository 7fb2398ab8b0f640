#include "monitor.h"
#include "ui_monitor.h"

#include "qpipemap.h"

#include <QFontMetrics>
#include <QAbstractItemView>
#include <QApplication>
#include <QListWidgetItem>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QStyle>

#include <algorithm>

namespace {

// A line made into text only when asked for it: the list asks for the lines in view, and of a
// busy connection's lines nearly all are dropped again before anyone sees them. Formatting each
// cost the monitor more than relaying its bytes.
class BlockLine : public QListWidgetItem
{
public:
    BlockLine(bool fromSerial, const QByteArray &data, int from, int size, QSize hint)
        : m_data(data)
        , m_from(from)
        , m_size(size)
        , m_hint(hint)
        , m_fromSerial(fromSerial)
    {
    }

    QVariant data(int role) const override
    {
        if (role == Qt::DisplayRole || role == Qt::EditRole) {
            const QByteArray block = m_from == 0 && m_size == m_data.size() ? m_data : m_data.mid(m_from, m_size);
            return Monitor::formatLine(m_fromSerial ? QStringLiteral("[VCOM]") : QStringLiteral("[TCP]"), block);
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
    setWindowTitle(tr("Монитор"));
    ui->listWidget->setStyleSheet(QStringLiteral("color:rgb(150,150,150);background-color:rgb(50,50,50);"));

    // The blocks arrive in the GUI thread between the reads and writes of the relay it watches.
    // A list line, its layout and the repaint it causes cost far more than relaying a block, so
    // a block is only queued here and the lines are made a few times a second.
    ui->listWidget->setItemDelegate(new VisiblePartDelegate(ui->listWidget));
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
    Block block{fromSerial, buffer, linesOf(fromSerial, buffer.size())};
    pendingLines += block.lines;
    pending.push_back(std::move(block));
    // Older blocks would only be shown to be dropped at once.
    while (pendingLines - pending.front().lines >= MaxLines) {
        pendingLines -= pending.front().lines;
        pending.pop_front();
    }
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
    // The lines that would go at once are not added at all.
    const int incoming = qMin(pendingLines, int(MaxLines));
    const int excess = list->count() + incoming - MaxLines;
    if (excess >= list->count())
        list->clear();
    else if (excess > 0)
        list->model()->removeRows(0, excess);
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
            list->addItem(new BlockLine(block.fromSerial, block.data, from, size, QSize(width + margin, height + 2)));
        }
        skip = 0;
    }
    showTimer.setInterval(pendingLines >= MaxLines ? FloodShowEveryMs : ShowEveryMs);
    pending.clear();
    pendingLines = 0;
    list->setUpdatesEnabled(true);
    list->scrollToBottom();
}
