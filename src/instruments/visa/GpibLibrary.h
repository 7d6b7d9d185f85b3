#pragma once

#include <string>

namespace visa {

// The functions of linux-gpib's user library, loaded with dlopen when a
// GPIB session is first opened, so the VISA layer works without it.
class GpibLibrary
{
public:
    // ibsta bits and iberr codes the transport looks at.
    static constexpr int StatusError = 0x8000;
    static constexpr int StatusTimeout = 0x4000;
    static constexpr int StatusEnd = 0x2000;
    static constexpr int ErrorAbort = 6;       // EABO: the I/O timed out
    static constexpr int ErrorNoListener = 2;  // ENOL
    static constexpr int ReadEndOnEos = 0x400; // REOS, for ibeos

    // The library loaded from LibraryConfig::gpibLibrary(), or null (with a
    // line on standard error that says what to install) when it is missing.
    static const GpibLibrary *load();

    int (*ibdev)(int board, int pad, int sad, int timeout, int eot, int eos) = nullptr;
    int (*ibonl)(int ud, int online) = nullptr;
    int (*ibwrt)(int ud, const void *data, long count) = nullptr;
    int (*ibrd)(int ud, void *buffer, long count) = nullptr;
    int (*ibtmo)(int ud, int timeout) = nullptr;
    int (*ibeos)(int ud, int eos) = nullptr;
    int (*ibeot)(int ud, int eot) = nullptr;
    // Device clear, serial poll and trigger; null in a library without them.
    int (*ibclr)(int ud) = nullptr;
    int (*ibrsp)(int ud, char *pollByte) = nullptr;
    int (*ibtrg)(int ud) = nullptr;

    // The calling thread's ibsta, iberr and ibcntl after a call.
    int status() const;
    int error() const;
    long count() const;

    // The timeout code of linux-gpib (T10us ... T1000s, TNONE) that is the
    // shortest step not shorter than `ms`.
    static int timeoutCode(unsigned long ms);

private:
    int (*threadIbsta)() = nullptr;
    int (*threadIberr)() = nullptr;
    long (*threadIbcntl)() = nullptr;
    int *globalIbsta = nullptr;
    int *globalIberr = nullptr;
    long *globalIbcntl = nullptr;
};

} // namespace visa
