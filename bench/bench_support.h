#pragma once

// What the benchmarks share: order statistics, and the driver file of a test-pattern camera.

#include <QFile>
#include <QString>

#include <algorithm>
#include <cmath>
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
