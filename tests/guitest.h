// Driving modal dialogs, message boxes and popup menus from GUI tests.
#ifndef GUITEST_H
#define GUITEST_H

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

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

// Runs act on the next modal widget to become active (polled from the event loop, which the
// modal run keeps going). The poll gives up after timeoutMs so a test never hangs on it.
inline void whenModal(std::function<void(QWidget *)> act, int timeoutMs = 10000)
{
    auto *timer = new QTimer;
    auto left = std::make_shared<int>(timeoutMs / 10);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act, left] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal && --*left > 0)
            return;
        timer->stop();
        timer->deleteLater();
        if (modal)
            act(modal);
    });
    timer->start();
}

// Answers the next message box with button, recording what it showed into box.
inline void answerBox(Box *box, QMessageBox::StandardButton button)
{
    whenModal([box, button](QWidget *w) {
        auto *mb = qobject_cast<QMessageBox *>(w);
        if (!mb) {
            w->close();
            return;
        }
        box->seen = true;
        box->title = mb->windowTitle();
        box->text = mb->text();
        box->icon = mb->icon();
        box->buttons = mb->standardButtons();
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
            w->close();
    });
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
