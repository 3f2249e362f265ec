#pragma once

#include <QObject>
#include <QPointer>

namespace Tessaline {

class Form1;

// The main window's hook: an event filter that shows every event of the hooked window to its
// MessageProc first and then lets the event go on, unchanged, to the window's own handling.
class Module1 : public QObject
{
    Q_OBJECT

public:
    explicit Module1(QObject *parent = nullptr);
    ~Module1() override;

    // Hooks the window; a window hooked before is unhooked first.
    void HookWindow(Form1 *window);

    // Removes the hook; nothing happens when nothing is hooked. The window stays remembered.
    void UnhookWindow();

    // The window hooked last, if it still exists.
    Form1 *hookedWindow() const;

    // Hands an event of the hooked window to its MessageProc; false, so that the event always
    // goes on to the window.
    bool SubclassProc(QObject *watched, QEvent *event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Held as a plain QObject: a hooked window that is being destroyed still sends events
    // after it has stopped being a Form1.
    QPointer<QObject> hookedWnd;
    bool m_hooked = false;
};

} // namespace Tessaline
