// A GenICam camera's own features: set by name from a driver file, and listed as its lines.

#include "cameras/genicam/genicam_features.h"

#include "cameras/camera_settings.h"
#include "cameras/driver_file.h"
#include "cameras/genicam/genicam_error.h"

#include <arv.h>

#include <QSet>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

enum class Kind { Command, Enumeration, Boolean, Integer, Float, Other };

// An enumeration is an integer too, so it is asked first.
Kind kindOf(ArvGcNode *node)
{
    if (ARV_IS_GC_COMMAND(node))
        return Kind::Command;
    if (ARV_IS_GC_ENUMERATION(node))
        return Kind::Enumeration;
    if (ARV_IS_GC_BOOLEAN(node))
        return Kind::Boolean;
    if (ARV_IS_GC_INTEGER(node))
        return Kind::Integer;
    if (ARV_IS_GC_FLOAT(node))
        return Kind::Float;
    return Kind::Other;
}

QStringList entriesOf(ArvGcEnumeration *enumeration)
{
    guint count = 0;
    const char **values = arv_gc_enumeration_dup_available_string_values(enumeration, &count, nullptr);
    QStringList entries;
    for (guint i = 0; values && i < count; ++i)
        entries << QString::fromUtf8(values[i]);
    g_free(values);
    return entries;
}

// Aravis does not check ranges by default, and cameras differ in what they do with a value
// beyond them: every value is checked here first.
Status checkNumber(ArvGcNode *node, Kind kind, const QString &key, const QString &text)
{
    bool ok = false;
    if (kind == Kind::Integer) {
        const qlonglong value = text.toLongLong(&ok);
        const gint64 min = arv_gc_integer_get_min(ARV_GC_INTEGER(node), nullptr);
        const gint64 max = arv_gc_integer_get_max(ARV_GC_INTEGER(node), nullptr);
        const gint64 step = std::max<gint64>(1, arv_gc_integer_get_inc(ARV_GC_INTEGER(node), nullptr));
        if (!ok || value > max || !onStep(value, min, step))
            return Status::failure(outOfRangeMessage(key, double(min), double(max), double(step), text));
        return Status::success();
    }
    const double value = text.toDouble(&ok);
    const double min = arv_gc_float_get_min(ARV_GC_FLOAT(node), nullptr);
    const double max = arv_gc_float_get_max(ARV_GC_FLOAT(node), nullptr);
    if (!ok || !std::isfinite(value) || value < min || value > max)
        return Status::failure(outOfRangeMessage(key, min, max, 0.0, text));
    return Status::success();
}

// Checks `text` against the feature's kind and range and sets it.
Status setFeature(ArvGcNode *node, const QString &key, const QString &text)
{
    GError *error = nullptr;
    const Kind kind = kindOf(node);
    if (kind == Kind::Command)
        return Status::failure(QStringLiteral("%1 is a command, not a setting").arg(key));
    if (kind == Kind::Other)
        return Status::failure(QStringLiteral("%1 holds a kind of value this program does not set").arg(key));
    if (kind == Kind::Enumeration) {
        const QStringList entries = entriesOf(ARV_GC_ENUMERATION(node));
        const auto entry = std::find_if(entries.cbegin(), entries.cend(), [&](const QString &e) {
            return e.compare(text, Qt::CaseInsensitive) == 0;
        });
        if (entry == entries.cend())
            return Status::failure(notOneOfMessage(key, entries, text));
        arv_gc_enumeration_set_string_value(ARV_GC_ENUMERATION(node), entry->toUtf8().constData(), &error);
    } else if (kind == Kind::Boolean) {
        bool on = false;
        if (Status s = readBooleanSetting(key, text, on); !s)
            return s;
        arv_gc_boolean_set_value(ARV_GC_BOOLEAN(node), on, &error);
    } else {
        if (Status s = checkNumber(node, kind, key, text); !s)
            return s;
        if (kind == Kind::Integer)
            arv_gc_integer_set_value(ARV_GC_INTEGER(node), text.toLongLong(), &error);
        else
            arv_gc_float_set_value(ARV_GC_FLOAT(node), text.toDouble(), &error);
    }
    if (error)
        return Status::failure(QStringLiteral("cannot set %1: %2").arg(key, takeError(error)));
    return Status::success();
}

// "whole number from 1 to 2048", "one of Off, Once, Continuous", with the unit where there is one.
QString describeRange(ArvGcNode *node, Kind kind)
{
    if (kind == Kind::Boolean)
        return QStringLiteral("true or false");
    if (kind == Kind::Enumeration)
        return QStringLiteral("one of ") + entriesOf(ARV_GC_ENUMERATION(node)).join(QStringLiteral(", "));
    QString range;
    const char *unit = nullptr;
    if (kind == Kind::Integer) {
        ArvGcInteger *integer = ARV_GC_INTEGER(node);
        const gint64 min = arv_gc_integer_get_min(integer, nullptr);
        const gint64 max = arv_gc_integer_get_max(integer, nullptr);
        const gint64 step = arv_gc_integer_get_inc(integer, nullptr);
        range = QStringLiteral("whole number");
        // A feature without limits of its own reports those of the type.
        if (min != G_MININT64 || max != G_MAXINT64)
            range += QStringLiteral(" from %1 to %2").arg(min).arg(max);
        if (step > 1)
            range += QStringLiteral(" in steps of %1").arg(step);
        unit = arv_gc_integer_get_unit(integer);
    } else {
        ArvGcFloat *number = ARV_GC_FLOAT(node);
        range = QStringLiteral("number from %1 to %2")
                    .arg(numberText(arv_gc_float_get_min(number, nullptr)),
                         numberText(arv_gc_float_get_max(number, nullptr)));
        unit = arv_gc_float_get_unit(number);
    }
    return unit && *unit ? range + QLatin1Char(' ') + QString::fromUtf8(unit) : range;
}

// The current value as a driver file writes it; false when it cannot be read.
bool readValue(ArvGcNode *node, Kind kind, QString &value)
{
    GError *error = nullptr;
    if (kind == Kind::Enumeration)
        value = QString::fromUtf8(arv_gc_enumeration_get_string_value(ARV_GC_ENUMERATION(node), &error));
    else if (kind == Kind::Boolean)
        value = arv_gc_boolean_get_value(ARV_GC_BOOLEAN(node), &error) ? QStringLiteral("true") : QStringLiteral("false");
    else if (kind == Kind::Integer)
        value = QString::number(arv_gc_integer_get_value(ARV_GC_INTEGER(node), &error));
    else
        value = numberText(arv_gc_float_get_value(ARV_GC_FLOAT(node), &error));
    const bool read = error == nullptr;
    g_clear_error(&error);
    return read;
}

// The two lines of one feature; empty for commands, hidden features and what cannot be read.
QString describeFeature(ArvGcNode *node)
{
    ArvGcFeatureNode *feature = ARV_GC_FEATURE_NODE(node);
    const Kind kind = kindOf(node);
    const ArvGcAccessMode access = arv_gc_feature_node_get_actual_access_mode(feature);
    QString value;
    if (kind == Kind::Command || kind == Kind::Other || access == ARV_GC_ACCESS_MODE_WO ||
        arv_gc_feature_node_get_visibility(feature) == ARV_GC_VISIBILITY_INVISIBLE ||
        !arv_gc_feature_node_is_implemented(feature, nullptr) || !readValue(node, kind, value))
        return {};
    const bool available = arv_gc_feature_node_is_available(feature, nullptr);
    // The range of what cannot be set says nothing.
    QString range = access == ARV_GC_ACCESS_MODE_RO ? QStringLiteral("read-only") : describeRange(node, kind);
    if (access != ARV_GC_ACCESS_MODE_RO && !available)
        range += QStringLiteral("; not available now");
    const QString name = QString::fromUtf8(arv_gc_feature_node_get_name(feature));
    const bool settable = available && access != ARV_GC_ACCESS_MODE_RO;
    return QStringLiteral("# %1: %2\n%3feature.%1 = %4\n")
        .arg(name, range, settable ? QString() : QStringLiteral("# "), value);
}

void describeCategory(ArvGc *genicam, ArvGcNode *category, QSet<QString> &seen, QString &text)
{
    for (const GSList *item = arv_gc_category_get_features(ARV_GC_CATEGORY(category)); item; item = item->next) {
        const QString name = QString::fromUtf8(static_cast<const char *>(item->data));
        ArvGcNode *node = arv_gc_get_node(genicam, static_cast<const char *>(item->data));
        if (seen.contains(name) || !ARV_IS_GC_FEATURE_NODE(node))
            continue;
        seen.insert(name);
        if (ARV_IS_GC_CATEGORY(node)) {
            QString lines;
            describeCategory(genicam, node, seen, lines);
            if (!lines.isEmpty())
                text += QStringLiteral("\n# %1\n").arg(name) + lines;
        } else {
            text += describeFeature(node);
        }
    }
}

} // namespace

Status applyFeatures(ArvDevice *device, const QList<NamedSetting> &features)
{
    ArvGc *genicam = arv_device_get_genicam(device);
    for (const NamedSetting &setting : features) {
        ArvGcNode *node = arv_gc_get_node(genicam, setting.name.toUtf8().constData());
        GError *error = nullptr;
        if (!ARV_IS_GC_FEATURE_NODE(node) || ARV_IS_GC_CATEGORY(node) ||
            !arv_gc_feature_node_is_implemented(ARV_GC_FEATURE_NODE(node), &error)) {
            g_clear_error(&error);
            return Status::failure(
                QStringLiteral("%1: the camera has no feature \"%2\"").arg(setting.key(), setting.name));
        }
        ArvGcFeatureNode *feature = ARV_GC_FEATURE_NODE(node);
        if (arv_gc_feature_node_get_actual_access_mode(feature) == ARV_GC_ACCESS_MODE_RO)
            return Status::failure(QStringLiteral("%1 is read-only").arg(setting.key()));
        if (!arv_gc_feature_node_is_available(feature, &error)) {
            g_clear_error(&error);
            return Status::failure(
                QStringLiteral("%1 is not available now: another feature switches it off").arg(setting.key()));
        }
        if (Status s = setFeature(node, setting.key(), setting.value); !s)
            return s;
    }
    return Status::success();
}

QString describeFeatures(ArvDevice *device)
{
    ArvGc *genicam = arv_device_get_genicam(device);
    QSet<QString> seen;
    QString text;
    if (ArvGcNode *root = arv_gc_get_node(genicam, "Root"); ARV_IS_GC_CATEGORY(root))
        describeCategory(genicam, root, seen, text);
    // Cameras do not always list every feature in a category (Aravis's emulator leaves out its
    // gain and frame rate), so the value nodes of the whole description are gone through too.
    QString rest;
    ArvDomElement *description = arv_dom_document_get_document_element(ARV_DOM_DOCUMENT(genicam));
    for (ArvDomNode *child = arv_dom_node_get_first_child(ARV_DOM_NODE(description)); child;
         child = arv_dom_node_get_next_sibling(child)) {
        if (!(ARV_IS_GC_INTEGER_NODE(child) || ARV_IS_GC_FLOAT_NODE(child) || ARV_IS_GC_ENUMERATION(child) ||
              ARV_IS_GC_BOOLEAN(child)))
            continue;
        const QString name = QString::fromUtf8(arv_gc_feature_node_get_name(ARV_GC_FEATURE_NODE(child)));
        if (!seen.contains(name))
            rest += describeFeature(ARV_GC_NODE(child));
        seen.insert(name);
    }
    if (!rest.isEmpty())
        text += QStringLiteral("\n# In no category\n") + rest;
    return text;
}

bool hasFeature(ArvDevice *device, const char *name)
{
    ArvGcNode *node = arv_device_get_feature(device, name);
    return ARV_IS_GC_FEATURE_NODE(node) && arv_gc_feature_node_is_implemented(ARV_GC_FEATURE_NODE(node), nullptr);
}
