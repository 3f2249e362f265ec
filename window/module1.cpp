#include "module1.h"

#include "form1.h"

namespace Tessaline {

Module1::Module1(QObject *parent) : QObject(parent)
{ }

Module1::~Module1()
{
    UnhookWindow();
}

void Module1::HookWindow(Form1 *window)
{
    if (hookedWnd)
        UnhookWindow();
    hookedWnd = window;
    hookedWnd->installEventFilter(this);
    m_hooked = true;
}

void Module1::UnhookWindow()
{
    if (!m_hooked)
        return;
    if (hookedWnd)
        hookedWnd->removeEventFilter(this);
    m_hooked = false;
}

Form1 *Module1::hookedWindow() const
{
    return qobject_cast<Form1 *>(hookedWnd.data());
}

bool Module1::SubclassProc(QObject *watched, QEvent *event)
{
    if (watched == hookedWnd.data()) {
        if (Form1 *window = hookedWindow())
            window->MessageProc(event);
    }
    return false;
}

bool Module1::eventFilter(QObject *watched, QEvent *event)
{
    return SubclassProc(watched, event);
}

} // namespace Tessaline
