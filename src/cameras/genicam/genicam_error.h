#pragma once

#include <QString>

#include <glib.h>

// An Aravis call's error as a reason for the user; clears it, so that `error` can be given to
// the next call.
inline QString takeError(GError *&error)
{
    const QString message = error ? QString::fromUtf8(error->message) : QStringLiteral("unknown error");
    g_clear_error(&error);
    return message;
}
