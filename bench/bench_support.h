#pragma once

// What the benchmarks share: order statistics, a scratch folder, and the driver file of a
// test-pattern camera.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

// The value below which a share `p` (0 to 1) of the samples lies; 0 for no samples.
inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const double rank = std::ceil(p * double(v.size())) - 1;
    return v[std::min(v.size() - 1, std::size_t(std::max(0.0, rank)))];
}

inline double median(std::vector<double> v)
{
    return percentile(std::move(v), 0.5);
}

// A new folder for everything one run writes, made inside `parent` (the system's temporary
// folder when empty) and removed with its contents when the run ends. A benchmark writes and
// removes files only inside it, so that a mistyped directory can never cost the user a file.
// Returns nullptr after saying why on stderr; the caller then exits with a non-zero status.
inline std::unique_ptr<QTemporaryDir> makeScratchFolder(const QString &parent, const QString &prefix)
{
    const QString base = parent.isEmpty() ? QDir::tempPath() : parent;
    if (!QFileInfo(base).isDir()) {
        std::fprintf(stderr, "The directory \"%s\" %s.\n", qPrintable(base),
                     QFileInfo::exists(base) ? "is not a directory" : "does not exist");
        return nullptr;
    }
    auto folder = std::make_unique<QTemporaryDir>(base + QLatin1Char('/') + prefix + QStringLiteral("-XXXXXX"));
    if (!folder->isValid()) {
        std::fprintf(stderr, "Cannot make a scratch folder in \"%s\": %s.\n", qPrintable(base),
                     qPrintable(folder->errorString()));
        return nullptr;
    }
    return folder;
}

// An empty subfolder `name` of the scratch folder for the next run, the previous run's pictures
// removed with it so that a long benchmark holds one run's pictures at a time. Removes only
// inside a valid scratch folder; returns an empty path otherwise.
inline QString freshSubfolder(const QTemporaryDir &scratch, const QString &name)
{
    if (!scratch.isValid() || name.isEmpty())
        return QString();
    const QString path = scratch.filePath(name);
    QDir(path).removeRecursively();
    return QDir().mkpath(path) ? path : QString();
}

// Writes a driver file for the built-in test pattern and returns its path.
inline QString writeTestPatternDriver(const QString &path, int width, int height, const char *pixelFormat = "Mono8")
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QStringLiteral("source = test-pattern\nwidth = %1\nheight = %2\npixel-format = %3\n")
                       .arg(width)
                       .arg(height)
                       .arg(QLatin1String(pixelFormat))
                       .toUtf8());
    return path;
}
