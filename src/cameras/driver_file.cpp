#include "cameras/driver_file.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <type_traits>

namespace {

constexpr qsizetype kMaxDriverFileBytes = 64 * 1024;
const QLatin1String kPrefixes[] = {QLatin1String("control"), QLatin1String("feature")};

// `control.<name>` or `feature.<name>`: the prefix in lower case and the name as written.
bool splitNamedKey(const QString &key, QString &prefix, QString &name)
{
    const qsizetype dot = key.indexOf(QLatin1Char('.'));
    if (dot <= 0)
        return false;
    for (const QLatin1String known : kPrefixes) {
        if (key.left(dot).compare(known, Qt::CaseInsensitive) == 0) {
            prefix = known;
            name = key.mid(dot + 1).trimmed();
            return true;
        }
    }
    return false;
}

// V4L2 control names are sentences ("Exposure Time, Absolute"); GenICam names are words.
bool isNameCharacter(QChar c)
{
    return c.isLetterOrNumber() || QStringView(u"_- ,()/").contains(c);
}

} // namespace

bool DriverFile::parse(const QString &text, DriverFile &out, QString &error)
{
    DriverFile result;
    result.path = out.path;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        // A message shows the values it refuses; a NUL byte would end it there, and other
        // control characters have no place in a text file either.
        for (const QChar c : line) {
            if (c.category() == QChar::Other_Control && c != QLatin1Char('\t')) {
                error = QStringLiteral("line %1: a control character (byte %2) is not text").arg(i + 1).arg(c.unicode());
                return false;
            }
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            error = QStringLiteral("line %1: expected key = value").arg(i + 1);
            return false;
        }
        const QString value = line.mid(eq + 1).trimmed();
        QString prefix, name;
        if (splitNamedKey(line.left(eq).trimmed(), prefix, name)) {
            if (name.isEmpty() || !std::all_of(name.cbegin(), name.cend(), isNameCharacter)) {
                error = QStringLiteral("line %1: bad name \"%2\" after %3.").arg(i + 1).arg(name, prefix);
                return false;
            }
            result.named.append(NamedSetting{prefix, name, value, i + 1});
            continue;
        }
        const QString key = line.left(eq).trimmed().toLower();
        for (const QChar c : key) {
            if (!(c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'))) {
                error = QStringLiteral("line %1: bad key \"%2\"").arg(i + 1).arg(key);
                return false;
            }
        }
        if (key == QLatin1String("source")) {
            if (!result.source.isEmpty()) {
                error = QStringLiteral("line %1: source given twice").arg(i + 1);
                return false;
            }
            result.source = value.toLower();
            continue;
        }
        if (result.values.contains(key)) {
            error = QStringLiteral("line %1: %2 given twice").arg(i + 1).arg(key);
            return false;
        }
        result.values.insert(key, value);
    }
    if (result.source.isEmpty()) {
        error = QStringLiteral("no source given");
        return false;
    }
    out = result;
    return true;
}

bool DriverFile::load(const QString &path, DriverFile &out, QString &error)
{
    QFile file(path);
    if (!file.exists()) {
        error = QStringLiteral("driver file not found: %1").arg(path);
        return false;
    }
    // A pipe or a device would be read without end.
    if (!QFileInfo(path).isFile()) {
        error = QStringLiteral("driver file %1 is not a file but a folder, a device or a pipe").arg(path);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read driver file %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = file.read(kMaxDriverFileBytes + 1);
    if (bytes.size() > kMaxDriverFileBytes) {
        error = QStringLiteral("driver file %1 is too large").arg(path);
        return false;
    }
    out.path = path;
    if (!parse(QString::fromUtf8(bytes), out, error)) {
        error = QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), error);
        return false;
    }
    return true;
}

Status DriverFile::checkKeys(std::initializer_list<const char *> known, QLatin1String namedPrefix) const
{
    for (const NamedSetting &setting : named) {
        if (setting.prefix != namedPrefix)
            return Status::failure(
                QStringLiteral("unknown key \"%1\" for source %2").arg(setting.key(), source));
    }
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        bool found = false;
        for (const char *k : known)
            found = found || it.key() == QLatin1String(k);
        if (!found)
            return Status::failure(QStringLiteral("unknown key \"%1\" for source %2").arg(it.key(), source));
    }
    return Status::success();
}

namespace {

// Reads a number key within [min, max]; keeps `value` when the key is absent. A whole number is
// asked for as such, so that "2.5" is refused for a width instead of being cut to 2.
template <typename Number>
Status readNumberKey(const QMap<QString, QString> &values, const char *key, Number min, Number max, Number &value)
{
    const auto it = values.constFind(QLatin1String(key));
    if (it == values.cend())
        return Status::success();
    bool ok = false;
    Number v{};
    if constexpr (std::is_integral_v<Number>)
        v = it.value().toInt(&ok);
    else
        v = it.value().toDouble(&ok);
    if (!ok || !(v >= min && v <= max))
        return Status::failure(QStringLiteral("%1 must be %2 from %3 to %4, not \"%5\"")
                                   .arg(QLatin1String(key),
                                        std::is_integral_v<Number> ? QStringLiteral("a whole number")
                                                                   : QStringLiteral("a number"))
                                   .arg(min)
                                   .arg(max)
                                   .arg(it.value()));
    value = v;
    return Status::success();
}

} // namespace

Status DriverFile::readInt(const char *key, int min, int max, int &value) const
{
    return readNumberKey(values, key, min, max, value);
}

Status DriverFile::readDouble(const char *key, double min, double max, double &value) const
{
    return readNumberKey(values, key, min, max, value);
}

void DriverFile::pin(const QString &key, const QString &value)
{
    if (values.value(key).isEmpty() && !value.isEmpty())
        values.insert(key, value);
}
