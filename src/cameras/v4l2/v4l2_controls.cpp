// The controls of a V4L2 device: finding them by name, checking a value against what the
// driver reports, setting them, and writing them out as driver-file lines.

#include "cameras/v4l2/v4l2_controls.h"

#include "cameras/camera_settings.h"
#include "cameras/driver_file.h"
#include "cameras/v4l2/v4l2_camera.h"
#include "cameras/v4l2/v4l2_device_io.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace {

// A driver that reports a huge menu is not asked for every index of it.
constexpr std::int64_t kMaxMenuEntries = 256;

bool isMenu(std::uint32_t type)
{
    return type == V4L2_CTRL_TYPE_MENU || type == V4L2_CTRL_TYPE_INTEGER_MENU;
}

bool isInteger(std::uint32_t type)
{
    return type == V4L2_CTRL_TYPE_INTEGER || type == V4L2_CTRL_TYPE_INTEGER64;
}

// Drivers leave out the menu indexes they do not support (UVC cameras commonly offer only
// entries 1 and 3 of the four exposure modes), so every index in the range is asked.
QList<QPair<std::int64_t, QString>> menuEntries(int fd, const v4l2_query_ext_ctrl &query)
{
    QList<QPair<std::int64_t, QString>> entries;
    const std::int64_t last = std::min(query.maximum, query.minimum + kMaxMenuEntries - 1);
    for (std::int64_t index = query.minimum; index <= last; ++index) {
        v4l2_querymenu item{};
        item.id = query.id;
        item.index = std::uint32_t(index);
        if (v4l2Ioctl(fd, VIDIOC_QUERYMENU, &item) < 0)
            continue;
        const std::int64_t number = item.value;
        entries.append({index, query.type == V4L2_CTRL_TYPE_INTEGER_MENU
                                   ? QString::number(number)
                                   : QString::fromUtf8(reinterpret_cast<const char *>(item.name),
                                                       qsizetype(qstrnlen(reinterpret_cast<const char *>(item.name),
                                                                          sizeof item.name)))});
    }
    return entries;
}

V4l2Control fromQuery(int fd, const v4l2_query_ext_ctrl &query)
{
    V4l2Control control;
    control.id = query.id;
    control.type = query.type;
    control.name = QString::fromUtf8(query.name, qsizetype(qstrnlen(query.name, sizeof query.name)));
    control.minimum = query.minimum;
    control.maximum = query.maximum;
    control.step = query.step > 0 ? std::int64_t(query.step) : 1;
    control.flags = query.flags;
    if (isMenu(query.type))
        control.menu = menuEntries(fd, query);
    return control;
}

const V4l2Control *findByKey(const QList<V4l2Control> &controls, const QString &name)
{
    const QString key = controlKey(name);
    for (const V4l2Control &control : controls)
        if (control.type != V4L2_CTRL_TYPE_CTRL_CLASS && control.key() == key)
            return &control;
    return nullptr;
}

Status menuValue(const V4l2Control &control, const QString &text, const QString &key, std::int64_t &value)
{
    QStringList names;
    for (const auto &[index, name] : control.menu) {
        // A plain menu's entry may also be given by its index, as v4l2-ctl takes it.
        const bool byIndex = control.type == V4L2_CTRL_TYPE_MENU && text == QString::number(index);
        if (controlKey(name) == controlKey(text) || byIndex) {
            value = index;
            return Status::success();
        }
        names << name;
    }
    return Status::failure(notOneOfMessage(key, names, text));
}

QString valueText(const V4l2Control &control, std::int64_t value)
{
    if (control.type == V4L2_CTRL_TYPE_BOOLEAN)
        return value ? QStringLiteral("true") : QStringLiteral("false");
    for (const auto &[index, name] : control.menu)
        if (index == value)
            return name;
    return QString::number(value);
}

// What a control takes, for the comment above its line; empty for a kind not set here.
QString describeKind(const V4l2Control &control)
{
    if (control.type == V4L2_CTRL_TYPE_BOOLEAN)
        return QStringLiteral("true or false");
    if (isMenu(control.type)) {
        QStringList names;
        for (const auto &entry : control.menu)
            names << entry.second;
        return QStringLiteral("one of ") + names.join(QStringLiteral(", "));
    }
    if (!isInteger(control.type))
        return {};
    QString kind = QStringLiteral("whole number from %1 to %2").arg(control.minimum).arg(control.maximum);
    if (control.step > 1)
        kind += QStringLiteral(" in steps of %1").arg(control.step);
    // The V4L2 documentation fixes this control's unit; exposure-us sets it in microseconds.
    if (control.id == V4L2_CID_EXPOSURE_ABSOLUTE)
        kind += QStringLiteral(", in units of 100 us (exposure-us sets it in us)");
    return kind;
}

} // namespace

QString controlKey(const QString &name)
{
    QString key;
    bool gap = false;
    for (const QChar c : name) {
        if (!c.isLetterOrNumber()) {
            gap = !key.isEmpty();
            continue;
        }
        if (gap)
            key += QLatin1Char('_');
        gap = false;
        key += c.toLower();
    }
    return key;
}

QString V4l2Control::key() const
{
    return controlKey(name);
}

QList<V4l2Control> queryControls(int fd)
{
    QList<V4l2Control> controls;
    std::uint32_t next = V4L2_CTRL_FLAG_NEXT_CTRL;
    for (;;) {
        v4l2_query_ext_ctrl query{};
        query.id = next;
        // A driver that answered with the same control again would keep this loop going.
        if (v4l2Ioctl(fd, VIDIOC_QUERY_EXT_CTRL, &query) < 0 || query.id <= (next & V4L2_CTRL_ID_MASK))
            break;
        if (!(query.flags & V4L2_CTRL_FLAG_DISABLED))
            controls.append(fromQuery(fd, query));
        next = query.id | V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return controls;
}

const V4l2Control *findControl(const QList<V4l2Control> &controls, std::uint32_t id)
{
    for (const V4l2Control &control : controls)
        if (control.id == id)
            return &control;
    return nullptr;
}

Status readControl(int fd, const V4l2Control &control, std::int64_t &value)
{
    v4l2_ext_control one{};
    one.id = control.id;
    v4l2_ext_controls request{};
    request.which = V4L2_CTRL_WHICH_CUR_VAL;
    request.count = 1;
    request.controls = &one;
    if (v4l2Ioctl(fd, VIDIOC_G_EXT_CTRLS, &request) < 0)
        return Status::failure(QStringLiteral("cannot read %1: %2").arg(control.name, v4l2ErrorText()));
    value = control.type == V4L2_CTRL_TYPE_INTEGER64 ? std::int64_t(one.value64) : std::int64_t(one.value);
    return Status::success();
}

Status writeControl(int fd, const V4l2Control &control, std::int64_t value, const QString &key)
{
    v4l2_ext_control one{};
    one.id = control.id;
    if (control.type == V4L2_CTRL_TYPE_INTEGER64)
        one.value64 = value;
    else
        one.value = std::int32_t(value);
    v4l2_ext_controls request{};
    request.which = V4L2_CTRL_WHICH_CUR_VAL;
    request.count = 1;
    request.controls = &one;
    if (v4l2Ioctl(fd, VIDIOC_S_EXT_CTRLS, &request) == 0)
        return Status::success();
    const int error = errno;
    // Drivers refuse a control that an automatic mode sets (EACCES, or EBUSY in older ones)
    // and flag it inactive: the order of the lines is what the user can change.
    v4l2_query_ext_ctrl query{};
    query.id = control.id;
    if ((error == EACCES || error == EBUSY) && v4l2Ioctl(fd, VIDIOC_QUERY_EXT_CTRL, &query) == 0 &&
        (query.flags & V4L2_CTRL_FLAG_INACTIVE))
        return Status::failure(QStringLiteral("%1 cannot be set while the camera adjusts it automatically: switch "
                                              "its automatic mode off on an earlier line")
                                   .arg(key));
    errno = error;
    return Status::failure(QStringLiteral("cannot set %1: %2").arg(key, v4l2ErrorText()));
}

Status controlValue(const V4l2Control &control, const QString &text, const QString &key, std::int64_t &value)
{
    if (control.type == V4L2_CTRL_TYPE_BUTTON)
        return Status::failure(QStringLiteral("%1 is an action, not a setting").arg(key));
    if (control.flags & V4L2_CTRL_FLAG_READ_ONLY)
        return Status::failure(QStringLiteral("%1 is read-only").arg(key));
    if (control.type == V4L2_CTRL_TYPE_BOOLEAN) {
        bool on = false;
        const Status read = readBooleanSetting(key, text, on);
        value = on;
        return read;
    }
    if (isMenu(control.type))
        return menuValue(control, text, key, value);
    if (!isInteger(control.type))
        return Status::failure(QStringLiteral("%1 holds a kind of value this program does not set").arg(key));
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok);
    // Drivers clamp a value out of range and round it to the step without a word.
    if (!ok || number > control.maximum || !onStep(number, control.minimum, control.step))
        return Status::failure(outOfRangeMessage(key, double(control.minimum), double(control.maximum),
                                                 double(control.step), text));
    value = number;
    return Status::success();
}

Status applyNamedControls(int fd, const QList<NamedSetting> &settings)
{
    if (settings.isEmpty())
        return Status::success();
    const QList<V4l2Control> controls = queryControls(fd);
    for (const NamedSetting &setting : settings) {
        const V4l2Control *control = findByKey(controls, setting.name);
        if (!control)
            return Status::failure(
                QStringLiteral("%1: the camera has no control \"%2\"").arg(setting.key(), setting.name));
        std::int64_t value = 0;
        if (Status s = controlValue(*control, setting.value, setting.key(), value); !s)
            return s;
        if (Status s = writeControl(fd, *control, value, setting.key()); !s)
            return s;
    }
    return Status::success();
}

QString describeControls(int fd)
{
    QString text;
    for (const V4l2Control &control : queryControls(fd)) {
        if (control.type == V4L2_CTRL_TYPE_CTRL_CLASS) {
            text += QStringLiteral("\n# %1\n").arg(control.name);
            continue;
        }
        QString kind = describeKind(control);
        std::int64_t value = 0;
        // Actions and write-only controls have no value to keep.
        if (kind.isEmpty() || (control.flags & V4L2_CTRL_FLAG_WRITE_ONLY) || !readControl(fd, control, value))
            continue;
        const bool settable = !(control.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_INACTIVE));
        if (control.flags & V4L2_CTRL_FLAG_READ_ONLY)
            kind += QStringLiteral("; read-only");
        else if (control.flags & V4L2_CTRL_FLAG_INACTIVE)
            kind += QStringLiteral("; inactive while an automatic mode sets it");
        text += QStringLiteral("# %1: %2\n%3control.%4 = %5\n")
                    .arg(control.name, kind, settable ? QString() : QStringLiteral("# "), control.key(),
                         valueText(control, value));
    }
    return text;
}

QString frameRateText(double rate)
{
    return numberText(std::round(rate * 1000.0) / 1000.0);
}

QString offeredFrameRates(int fd, std::uint32_t fourcc, int width, int height)
{
    auto rate = [](const v4l2_fract &interval) {
        return interval.numerator ? double(interval.denominator) / interval.numerator : 0.0;
    };
    QStringList rates;
    v4l2_frmivalenum interval{};
    interval.pixel_format = fourcc;
    interval.width = std::uint32_t(width);
    interval.height = std::uint32_t(height);
    while (v4l2Ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0) {
        if (interval.type != V4L2_FRMIVAL_TYPE_DISCRETE)
            return QStringLiteral("from %1 to %2")
                .arg(frameRateText(rate(interval.stepwise.max)), frameRateText(rate(interval.stepwise.min)));
        rates << frameRateText(rate(interval.discrete));
        ++interval.index;
    }
    return rates.isEmpty() ? QString() : QStringLiteral("one of ") + rates.join(QStringLiteral(", "));
}

bool readStreamParameters(int fd, v4l2_streamparm &parm)
{
    parm = {};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    const v4l2_fract &interval = parm.parm.capture.timeperframe;
    return v4l2Ioctl(fd, VIDIOC_G_PARM, &parm) == 0 && (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) &&
           interval.numerator > 0 && interval.denominator > 0;
}

double currentFrameRate(int fd)
{
    v4l2_streamparm parm;
    if (!readStreamParameters(fd, parm))
        return 0.0;
    const v4l2_fract &interval = parm.parm.capture.timeperframe;
    return double(interval.denominator) / interval.numerator;
}

QString describeFrameRate(int fd, std::uint32_t fourcc, int width, int height)
{
    const double rate = currentFrameRate(fd);
    if (rate <= 0.0)
        return {};
    const QString offered = offeredFrameRates(fd, fourcc, width, height);
    return QStringLiteral("# frame-rate: frames per second in %1 %2x%3%4\nframe-rate = %5\n")
        .arg(fourccName(fourcc))
        .arg(width)
        .arg(height)
        .arg(offered.isEmpty() ? QString() : QStringLiteral(", ") + offered, frameRateText(rate));
}
