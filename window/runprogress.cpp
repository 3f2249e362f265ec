#include "runprogress.h"

#include <QMutexLocker>

namespace Tessaline {

void RunProgress::report(qsizetype done, qsizetype total, const QString &current)
{
    const QMutexLocker locker(&m_mutex);
    m_state = {done, total, current};
    m_changed = true;
}

std::optional<RunProgress::State> RunProgress::take()
{
    const QMutexLocker locker(&m_mutex);
    if (!std::exchange(m_changed, false))
        return std::nullopt;
    return m_state;
}

} // namespace Tessaline
