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

bool Module1::SubclassProc(QObject *watched, QEvent *event)
{
    if (hookedWnd && watched == hookedWnd.data())
        hookedWnd->MessageProc(event);
    return false;
}

bool Module1::eventFilter(QObject *watched, QEvent *event)
{
    return SubclassProc(watched, event);
}

} // namespace Tessaline
