#pragma once

#include <QString>

// Where the program is found on the session bus, every name derived from the application id
// (PIR_APP_ID), so that a lab that packages the program under its own id gets its own names.

// The D-Bus interfaces of a series, and the error a refusal comes back as.
inline constexpr char kSeriesInterface[] = PIR_APP_ID ".Series";
inline constexpr char kSetupInterface[] = PIR_APP_ID ".Setup";
inline constexpr char kRefusedError[] = PIR_APP_ID ".Error.Refused";

// The window's name: the application id itself.
QString windowServiceName();
// The name of the `record` process `pid`: "<app id>.Record<pid>".
QString recordServiceName(qint64 pid);
// The series' object, "/org/kelvaro/PicturesInARow/Series" for the id org.kelvaro.PicturesInARow.
QString seriesObjectPath();
