#pragma once

#include <pthread.h>

// Names the calling thread as top -H, perf and gdb show it (at most 15 characters).
inline void nameThisThread(const char *name)
{
    pthread_setname_np(pthread_self(), name);
}
