#!/usr/bin/python3
"""A lab script as a user writes one, with Debian's python3-dbus: it sets up the window of
Pictures in a row, starts a series, watches 10 PictureSaved signals, stops it and waits for
Stopped; on the way it makes the requests the window refuses. It prints what it heard as JSON
for the test to compare with the files and the log.

    series_client.py APP_ID OBJECT_PATH DIRECTORY
"""
import json
import sys

import dbus
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

app_id, path, directory = sys.argv[1:4]
DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
window = bus.get_object(app_id, path)
series = dbus.Interface(window, app_id + ".Series")
setup = dbus.Interface(window, app_id + ".Setup")
properties = dbus.Interface(window, "org.freedesktop.DBus.Properties")
heard = {"refused": {}, "pictures": [], "states": [], "started": None, "stopped": None}


def refusal(name, call, *arguments):
    try:
        call(*arguments)
        heard["refused"][name] = None
    except dbus.exceptions.DBusException as error:
        heard["refused"][name] = [error.get_dbus_name(), error.get_dbus_message()]


refusal("start at start-up", series.Start)
refusal("interval 49", setup.SetInterval, dbus.UInt32(49))
setup.SetDirectory(directory)
setup.SetBaseName("probe")
setup.SetFileType(".tif")
setup.SetInterval(dbus.UInt32(100))
setup.SetOptions(["number", "time"])

loop = GLib.MainLoop()


def changed(interface, values, invalidated):
    if "State" in values:
        heard["states"].append(str(values["State"]))


def saved(number, file, scheduled_ms, stopwatch_ms):
    heard["pictures"].append([int(number), str(file), float(scheduled_ms), float(stopwatch_ms)])
    if len(heard["pictures"]) == 10:
        refusal("base name while running", setup.SetBaseName, "other")
        refusal("start while running", series.Start)
        series.Stop()


def stopped(ok, reason, pictures, ticks_missed):
    heard["stopped"] = [bool(ok), str(reason), int(pictures), int(ticks_missed)]
    heard["properties"] = {str(k): (list(map(str, v)) if isinstance(v, dbus.Array) else
                                    (int(v) if isinstance(v, dbus.UInt32) else str(v)))
                           for k, v in properties.GetAll(app_id + ".Series").items()}
    refusal("start with the same base name", series.Start)
    loop.quit()


properties.connect_to_signal("PropertiesChanged", changed)
series.connect_to_signal("PictureSaved", saved)
series.connect_to_signal("Started", lambda log: heard.update(started=str(log)))
series.connect_to_signal("Stopped", stopped)
series.Start()
GLib.timeout_add_seconds(60, loop.quit)
loop.run()
print(json.dumps(heard))
