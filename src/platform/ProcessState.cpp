#include "platform/ProcessState.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <sys/types.h>
#endif

bool ProcessRunning(qint64 processId) {
    if (processId <= 0)
        return false;
#ifdef Q_OS_UNIX
    if (::kill(static_cast<pid_t>(processId), 0) != 0 && errno == ESRCH)
        return false;
    // "<pid> (<name>) <state> ...": the state of a process that has exited is Z (or X).
    QFile stat(QStringLiteral("/proc/%1/stat").arg(processId));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.read(4096);
    const qsizetype nameEnd = line.lastIndexOf(')');
    if (nameEnd < 0 || nameEnd + 2 >= line.size())
        return true;
    const char state = line.at(nameEnd + 2);
    return state != 'Z' && state != 'X';
#else
    return false;
#endif
}
