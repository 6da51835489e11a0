#pragma once

#include <QString>

#include <functional>

class QWidget;

// Every message of the system: a modal box with the text, an OK button, no icon, and the
// title "Kelvaro".
void showMessage(QWidget *parent, const QString &text);

// Tests may take the messages instead of the modal box; an empty function restores the box.
void setMessageSink(std::function<void(const QString &)> sink);
