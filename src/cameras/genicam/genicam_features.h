#pragma once

#include "base/status.h"

#include <QList>
#include <QString>

struct NamedSetting;
typedef struct _ArvDevice ArvDevice;

// Sets `feature.<Name>` lines in the order written, each checked against the feature's type
// and range as the camera describes them; the reason names the line's key.
Status applyFeatures(ArvDevice *device, const QList<NamedSetting> &features);

// Every feature a driver file can set, as its lines: a comment on its kind and range, then the
// line that sets its current value (itself a comment where it cannot be set now). The
// categories come first, in the camera's order, then the features no category lists.
QString describeFeatures(ArvDevice *device);

// Whether the device has this feature, for telling the standard names from older ones.
bool hasFeature(ArvDevice *device, const char *name);
