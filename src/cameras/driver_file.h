#pragma once

#include "base/status.h"

#include <QMap>
#include <QString>

// An acquisition driver file: `key = value` lines naming a camera source and its settings.
// Blank lines and lines starting with '#' are ignored. Keys are lower case; every key may
// appear once. Each camera back-end checks the keys of its own source.
struct DriverFile
{
    QString path;   // where it was read from, for messages
    QString source; // value of the `source` key
    QMap<QString, QString> values; // every other key

    // Parses the text; `error` receives the reason when the text is refused.
    static bool parse(const QString &text, DriverFile &out, QString &error);
    // Reads and parses a file.
    static bool load(const QString &path, DriverFile &out, QString &error);

    // Refuses keys that are not in `known`, naming the first one.
    Status checkKeys(std::initializer_list<const char *> known) const;
    // Reads an integer key within [min, max]; keeps `value` when the key is absent.
    Status readInt(const char *key, int min, int max, int &value) const;
    Status readDouble(const char *key, double min, double max, double &value) const;
};
