// The controls and frame intervals of the V4L2 stand-in, answered as the V4L2 documentation and
// the UVC driver do.

#include "cameras/v4l2/fake_v4l2.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr std::uint32_t kClassFlags = V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY;

template <typename Controls>
auto find(Controls &controls, std::uint32_t id) -> decltype(&*controls.begin())
{
    const auto it = std::find_if(controls.begin(), controls.end(), [id](const auto &c) { return c.id == id; });
    return it == controls.end() ? nullptr : &*it;
}

// A control whose automatic mode is on is inactive: the driver sets it itself.
bool isActive(const std::vector<FakeV4l2Control> &controls, const FakeV4l2Control &control)
{
    const FakeV4l2Control *master = control.master ? find(controls, control.master) : nullptr;
    return !master || (master->value >= 0 && master->value < 32 && ((control.activeWhen >> master->value) & 1));
}

bool offersSize(const FakeV4l2Node &node, std::uint32_t fourcc, QSize size)
{
    return std::find(node.formats.begin(), node.formats.end(), fourcc) != node.formats.end() &&
           std::find(node.sizes.begin(), node.sizes.end(), size) != node.sizes.end();
}

} // namespace

std::vector<FakeV4l2Control> uvcControls()
{
    using C = FakeV4l2Control;
    constexpr std::uint32_t manualExposure = (1u << V4L2_EXPOSURE_MANUAL) | (1u << V4L2_EXPOSURE_SHUTTER_PRIORITY);
    return {
        C{V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0, 0, 0, kClassFlags},
        C{V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", -64, 64, 1, 0},
        C{V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN, "White Balance, Automatic", 0, 1, 1, 1},
        C{V4L2_CID_AUTOGAIN, V4L2_CTRL_TYPE_BOOLEAN, "Gain, Automatic", 0, 1, 1, 1},
        C{V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, "Gain", 0, 255, 1, 32, 0, {}, V4L2_CID_AUTOGAIN, 1u},
        C{V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 1, 1, 0,
          {"Disabled", "50 Hz", "60 Hz"}},
        C{V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CTRL_TYPE_INTEGER, "White Balance Temperature", 2800, 6500, 10,
          4600, 0, {}, V4L2_CID_AUTO_WHITE_BALANCE, 1u},
        C{V4L2_CID_CAMERA_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "Camera Controls", 0, 0, 0, 0, kClassFlags},
        // UVC cameras offer two of the four exposure modes.
        C{V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3, 1, V4L2_EXPOSURE_APERTURE_PRIORITY, 0,
          {nullptr, "Manual Mode", nullptr, "Aperture Priority Mode"}},
        C{V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Exposure Time, Absolute", 3, 2047, 1, 250, 0, {},
          V4L2_CID_EXPOSURE_AUTO, manualExposure},
        C{V4L2_CID_PAN_RESET, V4L2_CTRL_TYPE_BUTTON, "Pan, Reset", 0, 0, 0, 0},
        C{V4L2_CID_FOCUS_AUTO, V4L2_CTRL_TYPE_BOOLEAN, "Focus, Automatic Continuous", 0, 1, 1, 0,
          V4L2_CTRL_FLAG_DISABLED},
    };
}

int FakeV4l2::controlCall(Device &d, unsigned long request, void *arg)
{
    if (!d.node.capture)
        return ENOTTY;
    switch (request) {
    case VIDIOC_QUERY_EXT_CTRL:
        return queryControl(d, *static_cast<v4l2_query_ext_ctrl *>(arg));
    case VIDIOC_QUERYMENU:
        return queryMenu(d, *static_cast<v4l2_querymenu *>(arg));
    case VIDIOC_G_EXT_CTRLS:
    case VIDIOC_S_EXT_CTRLS:
        return extendedControls(d, request == VIDIOC_S_EXT_CTRLS, *static_cast<v4l2_ext_controls *>(arg));
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM:
        return streamParameters(d, request == VIDIOC_S_PARM, *static_cast<v4l2_streamparm *>(arg));
    case VIDIOC_ENUM_FRAMEINTERVALS:
        return frameIntervals(d, *static_cast<v4l2_frmivalenum *>(arg));
    default:
        return ENOTTY;
    }
}

// With V4L2_CTRL_FLAG_NEXT_CTRL the control with the next higher id, disabled ones included.
int FakeV4l2::queryControl(const Device &d, v4l2_query_ext_ctrl &q) const
{
    const std::vector<FakeV4l2Control> &controls = d.node.controls;
    const FakeV4l2Control *found = nullptr;
    if (q.id & V4L2_CTRL_FLAG_NEXT_CTRL) {
        for (const FakeV4l2Control &c : controls)
            if (c.id > (q.id & V4L2_CTRL_ID_MASK) && (!found || c.id < found->id))
                found = &c;
    } else {
        found = find(controls, q.id);
    }
    if (!found)
        return EINVAL;
    q = {};
    q.id = found->id;
    q.type = found->type;
    std::strncpy(q.name, found->name, sizeof q.name - 1);
    q.minimum = found->minimum;
    q.maximum = found->maximum;
    q.step = std::uint64_t(found->step);
    q.default_value = found->value;
    q.flags = found->flags | (isActive(controls, *found) ? 0 : V4L2_CTRL_FLAG_INACTIVE);
    q.elems = 1;
    q.elem_size = found->type == V4L2_CTRL_TYPE_INTEGER64 ? 8 : 4;
    return 0;
}

int FakeV4l2::queryMenu(const Device &d, v4l2_querymenu &m) const
{
    const FakeV4l2Control *c = find(d.node.controls, m.id);
    if (!c || c->type != V4L2_CTRL_TYPE_MENU || m.index >= c->menu.size() || !c->menu[m.index])
        return EINVAL;
    std::strncpy(reinterpret_cast<char *>(m.name), c->menu[m.index], sizeof m.name - 1);
    return 0;
}

// Refuses a read-only control, an inactive one and a menu index left out; clamps a number to
// the range and rounds it to the step without a word, as UVC does.
int FakeV4l2::extendedControls(Device &d, bool set, v4l2_ext_controls &controls)
{
    for (std::uint32_t i = 0; i < controls.count; ++i) {
        v4l2_ext_control &one = controls.controls[i];
        controls.error_idx = set ? controls.count : i;
        FakeV4l2Control *c = find(d.node.controls, one.id);
        if (!c || (c->flags & V4L2_CTRL_FLAG_DISABLED) || c->type == V4L2_CTRL_TYPE_CTRL_CLASS)
            return EINVAL;
        const bool wide = c->type == V4L2_CTRL_TYPE_INTEGER64;
        if (!set) {
            if (wide)
                one.value64 = c->value;
            else
                one.value = std::int32_t(c->value);
            continue;
        }
        if (c->flags & V4L2_CTRL_FLAG_READ_ONLY)
            return EACCES;
        if (!isActive(d.node.controls, *c))
            return d.node.inactiveError;
        const std::int64_t asked = wide ? one.value64 : one.value;
        if (c->type == V4L2_CTRL_TYPE_MENU &&
            (asked < c->minimum || asked > c->maximum || !c->menu[std::size_t(asked)]))
            return EINVAL;
        const __int128 step = std::max<std::int64_t>(1, c->step);
        const __int128 rounded = c->minimum + (asked - __int128(c->minimum) + step / 2) / step * step;
        c->value = std::int64_t(std::clamp<__int128>(rounded, c->minimum, c->maximum));
    }
    return 0;
}

// S_PARM takes the offered interval nearest to the one asked for, and refuses while streaming.
int FakeV4l2::streamParameters(Device &d, bool set, v4l2_streamparm &p)
{
    if (p.type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
        return EINVAL;
    if (set) {
        if (d.streaming)
            return EBUSY;
        const v4l2_fract asked = p.parm.capture.timeperframe;
        const double interval = asked.denominator ? double(asked.numerator) / asked.denominator : 0.0;
        auto distance = [interval](int rate) { return std::abs(1.0 / rate - interval); };
        d.node.frameRate = *std::min_element(d.node.frameRates.begin(), d.node.frameRates.end(),
                                             [&](int a, int b) { return distance(a) < distance(b); });
    }
    p.parm.capture = {};
    p.parm.capture.capability = d.node.timePerFrame ? V4L2_CAP_TIMEPERFRAME : 0;
    p.parm.capture.timeperframe = {1, std::uint32_t(d.node.frameRate)};
    return 0;
}

int FakeV4l2::frameIntervals(const Device &d, v4l2_frmivalenum &interval) const
{
    if (!offersSize(d.node, interval.pixel_format, QSize(int(interval.width), int(interval.height))) ||
        interval.index >= d.node.frameRates.size())
        return EINVAL;
    interval.type = V4L2_FRMIVAL_TYPE_DISCRETE;
    interval.discrete = {1, std::uint32_t(d.node.frameRates[interval.index])};
    return 0;
}
