#pragma once

#include "base/status.h"

#include <QList>
#include <QMap>
#include <QString>

#include <optional>

// One line of a driver file that sets a camera's own control or feature by its own name:
// `control.brightness = 128` (V4L2) or `feature.ExposureAuto = Off` (GenICam).
struct NamedSetting
{
    QString prefix; // "control" or "feature", lower case
    QString name;   // as written: GenICam names are case-sensitive
    QString value;
    int line = 0;

    // "feature.ExposureAuto", for messages.
    QString key() const { return prefix + QLatin1Char('.') + name; }
};

// The keys that every source takes, whatever its camera: what the pictures' records say of the
// optics and of their channel.
struct CommonSettings
{
    std::optional<double> pixelSizeUm; // `pixel-size-um`: one pixel in the sample plane, after the optics
    QString channelName;               // `channel-name`
};

// An acquisition driver file: `key = value` lines naming a camera source and its settings.
// Blank lines and lines starting with '#' are ignored. Keys are lower case; every key may
// appear once. Keys with a prefix (`control.`, `feature.`) name a camera's own settings: they
// keep their case and their order, and may repeat, since a selector is set before each value
// it selects. Each camera back-end checks the keys of its own source.
struct DriverFile
{
    QString path;   // where it was read from, for messages
    QString source; // value of the `source` key
    QMap<QString, QString> values; // every other key without a prefix
    QList<NamedSetting> named;     // the keys with a prefix, in the order written

    // Parses the text; `error` receives the reason when the text is refused.
    static bool parse(const QString &text, DriverFile &out, QString &error);
    // Reads and parses a file.
    static bool load(const QString &path, DriverFile &out, QString &error);

    // Refuses keys that are not in `known`, naming the first one, and named settings unless
    // their prefix is `namedPrefix`.
    Status checkKeys(std::initializer_list<const char *> known, QLatin1String namedPrefix = {}) const;
    // Reads an integer key within [min, max]; keeps `value` when the key is absent.
    Status readInt(const char *key, int min, int max, int &value) const;
    Status readDouble(const char *key, double min, double max, double &value) const;
    // Sets `key` to `value` unless the file gives it a value of its own, or `value` is empty.
    void pin(const QString &key, const QString &value);
};
