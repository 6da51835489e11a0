#pragma once

#include "base/status.h"

#include <QList>
#include <QPair>
#include <QString>

#include <linux/videodev2.h>

#include <cstdint>

struct NamedSetting;

// One control of a V4L2 device, as VIDIOC_QUERY_EXT_CTRL and VIDIOC_QUERYMENU describe it.
struct V4l2Control
{
    std::uint32_t id = 0;
    std::uint32_t type = 0;
    QString name; // the driver's, e.g. "Exposure Time, Absolute"
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    std::int64_t step = 1;
    std::uint32_t flags = 0;
    QList<QPair<std::int64_t, QString>> menu; // the entries offered: index and name

    // The name as v4l2-ctl --list-ctrls writes it: "exposure_time_absolute".
    QString key() const;
};

// The name as v4l2-ctl writes it: lower case, every other run of characters one underscore.
QString controlKey(const QString &name);

// The controls of an open device in the driver's order, the headings of their classes among
// them; disabled controls are left out, as the V4L2 documentation asks.
QList<V4l2Control> queryControls(int fd);
// nullptr when the device has no such control.
const V4l2Control *findControl(const QList<V4l2Control> &controls, std::uint32_t id);
// The current value.
Status readControl(int fd, const V4l2Control &control, std::int64_t &value);
// The reason of a refusal names `key`, as the driver file does.
Status writeControl(int fd, const V4l2Control &control, std::int64_t value, const QString &key);
// Reads `text` as a value of the control: a number within its range and step, true or false,
// or a menu entry by its name (or index). The refusal names `key` and says what it takes.
Status controlValue(const V4l2Control &control, const QString &text, const QString &key, std::int64_t &value);
// Sets `control.<name>` lines in the order written.
Status applyNamedControls(int fd, const QList<NamedSetting> &settings);
// Every control as driver-file lines: a comment on its kind and range, then the line that sets
// its current value (itself a comment where the control cannot be set now).
QString describeControls(int fd);

// The frame rates the device offers in this format and size, "one of 30, 15, 5" or "from 1 to
// 30"; empty when the driver does not tell.
QString offeredFrameRates(int fd, std::uint32_t fourcc, int width, int height);
// VIDIOC_G_PARM's answer, where it holds the driver's time per frame: only a driver that sets
// V4L2_CAP_TIMEPERFRAME fills that field. Every reading of the frame rate goes through here.
bool readStreamParameters(int fd, v4l2_streamparm &parm);
// Frames per second from the driver's time per frame; 0 when it cannot be set or read.
double currentFrameRate(int fd);
// The driver-file line of the frame rate, with the rates offered above it; empty when the
// frame rate cannot be set.
QString describeFrameRate(int fd, std::uint32_t fourcc, int width, int height);
// A frame rate as the lines and messages write it, to a thousandth.
QString frameRateText(double rate);
