#pragma once

#include <QString>

// The outcome of an operation that can fail for a reason the user should read.
// Back-ends return it instead of throwing; the window turns the reason into a message.
class Status
{
public:
    static Status success() { return Status(); }
    static Status failure(const QString &reason) { return Status(reason.isEmpty() ? QStringLiteral("unknown error") : reason); }

    bool ok() const { return m_reason.isEmpty(); }
    explicit operator bool() const { return ok(); }
    const QString &reason() const { return m_reason; }

private:
    Status() = default;
    explicit Status(const QString &reason) : m_reason(reason) {}

    QString m_reason;
};
