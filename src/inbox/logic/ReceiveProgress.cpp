#include "ReceiveProgress.h"

namespace hollin {

void ReceiveProgress::noteProgress(int n, int count)
{
    QMutexLocker lock(&m_mutex);
    m_state.n = n;
    m_state.count = count;
}

void ReceiveProgress::noteMessage(const Message &message)
{
    QMutexLocker lock(&m_mutex);
    if (m_state.received++ == 0)
        m_state.firstSubject = message.subject;
    m_state.latest = message;
}

ReceiveProgress::Snapshot ReceiveProgress::take()
{
    QMutexLocker lock(&m_mutex);
    Snapshot now = m_state;
    m_state.latest.reset();
    return now;
}

} // namespace hollin
