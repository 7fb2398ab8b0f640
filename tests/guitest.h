// Driving modal dialogs, message boxes and popup menus from GUI tests.
#ifndef GUITEST_H
#define GUITEST_H

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QList>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace GuiTest {

// What a message box showed before it was answered.
struct Box
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool seen = false;
};

inline Box boxOf(const QMessageBox *mb)
{
    return Box{mb->windowTitle(), mb->text(), mb->icon(), mb->standardButtons(), true};
}

// What the handlers below share: how many wait for a modal widget still, the widgets a handler
// is busy with, and what came up that no step of the test waited for.
struct Watch
{
    int waiting = 0;
    QList<QWidget *> busy;
    QStringList unplanned;
};

inline Watch &watch()
{
    static Watch state;
    return state;
}

inline QString describe(QWidget *w)
{
    if (auto *mb = qobject_cast<QMessageBox *>(w))
        return QStringLiteral("message box \"%1\": %2").arg(mb->windowTitle(), mb->text());
    return QStringLiteral("%1 \"%2\"").arg(QLatin1String(w->metaObject()->className()), w->windowTitle());
}

// Ends a modal run without choosing anything a user would have to mean: a box's escape button
// (No, Cancel, OK), else the dialog's reject.
inline void dismiss(QWidget *w)
{
    if (auto *mb = qobject_cast<QMessageBox *>(w)) {
        if (QAbstractButton *escape = mb->escapeButton()) {
            escape->click();
            return;
        }
    }
    if (auto *dialog = qobject_cast<QDialog *>(w))
        dialog->reject();
    else
        w->close();
}

// Notes what a modal widget showed that the test did not plan for, and closes it.
inline void noteUnplanned(QWidget *w)
{
    watch().unplanned << describe(w);
    dismiss(w);
}

// Runs act on the next modal widget to become active (polled from the event loop, which the
// modal run keeps going). The poll gives up after timeoutMs so a test never hangs on it.
inline void whenModal(std::function<void(QWidget *)> act, int timeoutMs = 10000)
{
    auto *timer = new QTimer;
    auto left = std::make_shared<int>(timeoutMs / 10);
    ++watch().waiting;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act, left] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal && --*left > 0)
            return;
        timer->stop();
        timer->deleteLater();
        --watch().waiting;
        if (!modal)
            return;
        // A step may wait inside the dialog: the widget stays this handler's until it is done.
        watch().busy << modal;
        act(modal);
        watch().busy.removeOne(modal);
    });
    timer->start();
}

// Answers the next message box with button, recording what it showed into box.
inline void answerBox(Box *box, QMessageBox::StandardButton button)
{
    whenModal([box, button](QWidget *w) {
        auto *mb = qobject_cast<QMessageBox *>(w);
        if (!mb) {
            noteUnplanned(w);
            return;
        }
        *box = boxOf(mb);
        mb->button(button) ? mb->button(button)->click() : mb->reject();
    });
}

// Clicks the push button called name in the next modal dialog, after prepare has run on it.
inline void clickInModal(const QString &name, std::function<void(QWidget *)> prepare = nullptr)
{
    whenModal([name, prepare](QWidget *w) {
        if (prepare)
            prepare(w);
        if (auto *button = w->findChild<QAbstractButton *>(name))
            button->click();
        else
            noteUnplanned(w);
    });
}

// While it lives, answers every message box that comes up with the next planned answer and
// records it; a box beyond the plan is recorded, noted as unplanned and dismissed, and so is any
// other modal widget.
class Answers
{
public:
    explicit Answers(const QList<QMessageBox::StandardButton> &plan)
        : m_plan(plan)
    {
        ++watch().waiting;
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { answer(); });
        m_timer.start();
    }
    ~Answers() { --watch().waiting; }
    Answers(const Answers &) = delete;
    Answers &operator=(const Answers &) = delete;

    // Whether every planned answer was given.
    bool planUsed() const { return m_plan.isEmpty(); }
    QList<Box> boxes;

private:
    void answer()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == m_answered || !modal->isVisible())
            return;
        m_answered = modal;
        auto *mb = qobject_cast<QMessageBox *>(modal);
        if (!mb) {
            noteUnplanned(modal);
            return;
        }
        boxes << boxOf(mb);
        if (m_plan.isEmpty()) {
            noteUnplanned(mb);
            return;
        }
        if (QAbstractButton *button = mb->button(m_plan.takeFirst()))
            button->click();
        else
            mb->reject();
    }

    QList<QMessageBox::StandardButton> m_plan;
    QPointer<QWidget> m_answered;
    QTimer m_timer;
};

// Called once by a GUI test (initTestCase): from then on a modal widget that comes up while no
// step of the test waits for one is noted and dismissed, so the test fails with its text
// (checkNoUnplanned) instead of hanging until CTest gives up.
inline void watchUnplanned()
{
    static QPointer<QTimer> timer;
    if (timer)
        return;
    timer = new QTimer(qApp);
    timer->setInterval(20);
    QObject::connect(timer.data(), &QTimer::timeout, [] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible() && watch().waiting == 0 && !watch().busy.contains(modal))
            noteUnplanned(modal);
    });
    timer->start();
}

// Fails the running test with what came up unplanned since the last call (cleanup()).
inline void checkNoUnplanned()
{
    const QStringList seen = watch().unplanned;
    watch().unplanned.clear();
    QVERIFY2(seen.isEmpty(), qPrintable(QStringLiteral("closed what the test did not plan: ") + seen.join(QStringLiteral(" | "))));
}

// Picks the entry with text from the next popup menu (or closes it when text is empty).
inline void pickFromMenu(const QString &text, QStringList *entries = nullptr, int timeoutMs = 10000)
{
    auto *timer = new QTimer;
    auto left = std::make_shared<int>(timeoutMs / 10);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, text, entries, left] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu && --*left > 0)
            return;
        timer->stop();
        timer->deleteLater();
        if (!menu)
            return;
        QAction *pick = nullptr;
        for (QAction *a : menu->actions()) {
            if (entries)
                *entries << (a->isSeparator() ? QStringLiteral("-") : a->text());
            if (a->text() == text)
                pick = a;
        }
        // As a click does: the menu goes away first, then the entry's command runs.
        menu->close();
        if (pick)
            pick->trigger();
    });
    timer->start();
}

} // namespace GuiTest

#endif // GUITEST_H
