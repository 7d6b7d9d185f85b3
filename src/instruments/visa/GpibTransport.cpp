#include "instruments/visa/GpibTransport.h"

#include "instruments/visa/GpibLibrary.h"

#include <algorithm>

namespace visa {

GpibTransport::~GpibTransport()
{
    if (device >= 0)
        library->ibonl(device, 0);
}

ViStatus GpibTransport::open(const ResourceName &name, ViUInt32 timeoutMs)
{
    library = GpibLibrary::load();
    if (library == nullptr)
        return VI_ERROR_LIBRARY_NFOUND;
    // linux-gpib writes secondary addresses as 0x60 + n, 0 for none.
    const int secondary = name.secondaryAddress < 0 ? 0 : 0x60 + name.secondaryAddress;
    device = library->ibdev(int(name.board), int(name.primaryAddress), secondary,
                            GpibLibrary::timeoutCode(timeoutMs), 1, 0);
    return device < 0 ? VI_ERROR_RSRC_NFOUND : VI_SUCCESS;
}

void GpibTransport::setTimeout(const Deadline &deadline)
{
    const ViUInt32 remaining = deadline.remainingMs();
    library->ibtmo(device, remaining == VI_TMO_INFINITE ? 0 : GpibLibrary::timeoutCode(remaining));
}

ViStatus GpibTransport::statusAfterError() const
{
    if ((library->status() & GpibLibrary::StatusTimeout) ||
        library->error() == GpibLibrary::ErrorAbort)
        return VI_ERROR_TMO;
    if (library->error() == GpibLibrary::ErrorNoListener)
        return VI_ERROR_NLISTENERS;
    return VI_ERROR_IO;
}

ViStatus GpibTransport::write(const ViByte *data, std::size_t count, const IoSettings &settings,
                              const Deadline &deadline, std::size_t &written)
{
    setTimeout(deadline);
    library->ibeot(device, settings.sendEnd ? 1 : 0);
    const int status = library->ibwrt(device, data, long(count));
    written = std::size_t(std::clamp(library->count(), 0L, long(count)));
    return status & GpibLibrary::StatusError ? statusAfterError() : VI_SUCCESS;
}

ViStatus GpibTransport::clear(const Deadline &deadline)
{
    if (library->ibclr == nullptr)
        return VI_ERROR_NSUP_OPER;
    setTimeout(deadline);
    return library->ibclr(device) & GpibLibrary::StatusError ? statusAfterError() : VI_SUCCESS;
}

ViStatus GpibTransport::assertTrigger(const Deadline &deadline)
{
    if (library->ibtrg == nullptr)
        return VI_ERROR_NSUP_OPER;
    setTimeout(deadline);
    return library->ibtrg(device) & GpibLibrary::StatusError ? statusAfterError() : VI_SUCCESS;
}

ViStatus GpibTransport::readStatusByte(ViUInt16 &statusByte, const Deadline &deadline)
{
    if (library->ibrsp == nullptr)
        return VI_ERROR_NSUP_OPER;
    setTimeout(deadline);
    char poll = 0;
    if (library->ibrsp(device, &poll) & GpibLibrary::StatusError)
        return statusAfterError();
    statusByte = static_cast<unsigned char>(poll);
    return VI_SUCCESS;
}

ViStatus GpibTransport::receive(InputBuffer &in, std::size_t wanted, const IoSettings &settings,
                                const Deadline &deadline)
{
    setTimeout(deadline);
    library->ibeos(device,
                   settings.termCharEnabled ? GpibLibrary::ReadEndOnEos | settings.termChar : 0);
    char chunk[4096];
    const long request = long(std::min(wanted, sizeof chunk));
    const int status = library->ibrd(device, chunk, request);
    const long received = std::clamp(library->count(), 0L, request);
    in.append(chunk, std::size_t(received), (status & GpibLibrary::StatusEnd) != 0);
    if (status & GpibLibrary::StatusError)
        return statusAfterError();
    return received > 0 || (status & GpibLibrary::StatusEnd) ? VI_SUCCESS : VI_ERROR_TMO;
}

} // namespace visa
