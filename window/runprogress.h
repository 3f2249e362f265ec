#pragma once

#include <QMutex>
#include <QString>

#include <optional>

namespace Tessaline {

// How far a run has got, handed from the thread that converts to the window. The thread records
// its progress before each file; the window takes the latest state when it redraws the progress
// (every 100 ms), so however fast the files go by, nothing of them piles up in the window's event
// queue.
class RunProgress
{
public:
    struct State
    {
        qsizetype done = 0; // files done so far
        qsizetype total = 0;
        QString current; // the file being converted
    };

    // Records the latest state (from the converting thread).
    void report(qsizetype done, qsizetype total, const QString &current);

    // The latest state when it changed since the last call; nothing otherwise.
    std::optional<State> take();

private:
    QMutex m_mutex;
    State m_state;
    bool m_changed = false;
};

} // namespace Tessaline
