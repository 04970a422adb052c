#pragma once

#include <QtGlobal>

// The process `processId` still runs: it exists and has not exited (a process that has exited
// but was not reaped yet counts as ended). False for ids of 0 and below.
bool ProcessRunning(qint64 processId);
