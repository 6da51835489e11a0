#include "recording/series_control.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<bool NameOptions::*, const char *>, 4> kOptionNames = {{
    {&NameOptions::number, "number"},
    {&NameOptions::time, "time"},
    {&NameOptions::channel0, "channel0"},
    {&NameOptions::channel1, "channel1"},
}};

} // namespace

QStringList optionNames(const NameOptions &options)
{
    QStringList names;
    for (const auto &[member, name] : kOptionNames) {
        if (options.*member)
            names << QLatin1String(name);
    }
    return names;
}

std::optional<NameOptions> optionsFromNames(const QStringList &names)
{
    NameOptions options{false, false, false, false};
    for (const QString &name : names) {
        const auto known = std::find_if(kOptionNames.begin(), kOptionNames.end(),
                                        [&name](const auto &option) { return name == QLatin1String(option.second); });
        if (known == kOptionNames.end())
            return std::nullopt;
        options.*(known->first) = true;
    }
    return options;
}
