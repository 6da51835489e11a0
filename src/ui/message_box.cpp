#include "ui/message_box.h"

#include <QMessageBox>

namespace {
std::function<void(const QString &)> &sink()
{
    static std::function<void(const QString &)> instance;
    return instance;
}
} // namespace

void showMessage(QWidget *parent, const QString &text)
{
    if (sink()) {
        sink()(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Kelvaro"), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("Kelvaro"));
    box.exec();
}

void setMessageSink(std::function<void(const QString &)> s)
{
    sink() = std::move(s);
}
