#include "analog/fake_comedi.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

struct comedi_t_struct
{
    int board;
};

namespace {

struct Library
{
    std::mutex mutex;
    std::map<int, FakeComediBoard> boards; // the boards present
    int handles = 0;
    int error = 0;
    std::vector<unsigned> ranges;
};

Library &library()
{
    static Library instance;
    return instance;
}

// The board behind an open handle, or null (with the library's error set) when it is gone.
const FakeComediBoard *boardOf(Library &lib, comedi_t *it)
{
    const auto b = lib.boards.find(it->board);
    if (b != lib.boards.end())
        return &b->second;
    lib.error = ENODEV;
    return nullptr;
}

} // namespace

namespace FakeComedi {

void plug(int board, const FakeComediBoard &description)
{
    const std::lock_guard lock(library().mutex);
    library().boards[board] = description;
}

void unplug(int board)
{
    const std::lock_guard lock(library().mutex);
    library().boards.erase(board);
}

int openHandles()
{
    const std::lock_guard lock(library().mutex);
    return library().handles;
}

std::vector<unsigned> rangesRead()
{
    const std::lock_guard lock(library().mutex);
    return library().ranges;
}

} // namespace FakeComedi

comedi_t *comedi_open(const char *fn)
{
    Library &lib = library();
    const std::lock_guard lock(lib.mutex);
    int board = -1;
    if (std::sscanf(fn, "/dev/comedi%d", &board) != 1 || !lib.boards.count(board)) {
        lib.error = ENOENT;
        return nullptr;
    }
    if (lib.boards[board].openError != 0) {
        lib.error = lib.boards[board].openError;
        return nullptr;
    }
    ++lib.handles;
    return new comedi_t{board};
}

int comedi_close(comedi_t *it)
{
    const std::lock_guard lock(library().mutex);
    --library().handles;
    delete it;
    return 0;
}

int comedi_errno(void)
{
    const std::lock_guard lock(library().mutex);
    return library().error;
}

const char *comedi_strerror(int errnum)
{
    return std::strerror(errnum);
}

int comedi_find_subdevice_by_type(comedi_t *it, int type, unsigned int subd)
{
    Library &lib = library();
    const std::lock_guard lock(lib.mutex);
    const FakeComediBoard *b = boardOf(lib, it);
    if (!b)
        return -1;
    // The analog input is subdevice 0, as on the DAS08 family.
    if (type == COMEDI_SUBD_AI && subd == 0 && b->hasAnalogInput)
        return 0;
    lib.error = ENODEV;
    return -1;
}

int comedi_get_n_channels(comedi_t *it, unsigned int)
{
    Library &lib = library();
    const std::lock_guard lock(lib.mutex);
    const FakeComediBoard *b = boardOf(lib, it);
    return b ? int(b->channels) : -1;
}

int comedi_get_n_ranges(comedi_t *it, unsigned int, unsigned int)
{
    Library &lib = library();
    const std::lock_guard lock(lib.mutex);
    const FakeComediBoard *b = boardOf(lib, it);
    return b ? int(b->ranges.size()) : -1;
}

comedi_range *comedi_get_range(comedi_t *it, unsigned int, unsigned int, unsigned int range)
{
    Library &lib = library();
    const std::lock_guard lock(lib.mutex);
    auto *b = const_cast<FakeComediBoard *>(boardOf(lib, it));
    return b && range < b->ranges.size() ? &b->ranges[range] : nullptr;
}

lsampl_t comedi_get_maxdata(comedi_t *it, unsigned int, unsigned int)
{
    Library &lib = library();
    const std::lock_guard lock(lib.mutex);
    const FakeComediBoard *b = boardOf(lib, it);
    return b ? b->maxdata : 0;
}

int comedi_data_read(comedi_t *it, unsigned int, unsigned int chan, unsigned int range, unsigned int,
                     lsampl_t *data)
{
    Library &lib = library();
    const std::lock_guard lock(lib.mutex);
    const FakeComediBoard *b = boardOf(lib, it);
    if (!b)
        return -1;
    if (b->readError != 0 || chan >= b->channels || range >= b->ranges.size()) {
        lib.error = b->readError != 0 ? b->readError : EINVAL;
        return -1;
    }
    lib.ranges.push_back(range);
    *data = chan < b->samples.size() ? b->samples[chan] : 0;
    return 1;
}
