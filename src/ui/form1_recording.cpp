#include "ui/form1.h"

// The capture step, Start/Stop and the capture interval.

void Form1::connectRecordingHandlers() {}
void Form1::Saving() {}
void Form1::StartStop_Click() {}
