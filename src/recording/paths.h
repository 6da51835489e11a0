#pragma once

#include <QString>

// Where the program finds its default acquisition driver: the `drivers/` folder of its data
// directory, beside the executable's build or install tree. PIR_DRIVERS_DIR overrides it
// (the tests use that to run from any folder).
QString driversDirectory();
QString defaultDriverPath();

// The default save directory: `Daten/` in the user's home folder, with its trailing '/'.
QString defaultSaveDirectory();
