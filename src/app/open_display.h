#pragma once

#include <QApplication>

#include <memory>

// Creates the application on the display the environment names. Where none can be opened it
// prints one line saying so, with the way to use a virtual display, and ends the program with
// kExitFailure instead of letting Qt abort.
std::unique_ptr<QApplication> openDisplay(int &argc, char **argv);
