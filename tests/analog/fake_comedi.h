#pragma once

#include <comedilib.h>

#include <vector>

// A board as its comedi driver describes it to the library.
struct FakeComediBoard
{
    bool hasAnalogInput = true;
    unsigned channels = 8;
    lsampl_t maxdata = 4095;
    // Every channel offers these ranges, in this order.
    std::vector<comedi_range> ranges{{-10, 10, UNIT_volt}, {0, 10, UNIT_volt}};
    // What each channel reads; channels beyond the list read 0.
    std::vector<lsampl_t> samples{2048, 2171};
    // errno of comedi_open (EACCES: this user may not use the card); 0: it opens.
    int openError = 0;
    // errno of every comedi_data_read (EIO: the conversion timed out); 0: reads succeed.
    int readError = 0;
};

// Stands in for comedilib: linking fake_comedi.cpp into a test replaces the library's calls
// that the program uses, for the whole executable. Boards come and go as /dev/comediN would.
namespace FakeComedi {

// /dev/comedi<board> appears with this board behind it.
void plug(int board, const FakeComediBoard &description);
// The device goes away: it no longer opens, and handles still open fail with ENODEV.
void unplug(int board);
// Handles opened and not yet closed.
int openHandles();
// The range index of every comedi_data_read so far.
std::vector<unsigned> rangesRead();

} // namespace FakeComedi
