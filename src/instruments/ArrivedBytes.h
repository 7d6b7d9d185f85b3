#pragma once

#include "instruments/visa/visa.h"

#include <QByteArray>

// What has arrived on a session, read without waiting and without a word on the wire:
// a banner, a stray reply, a reply that came after its query gave up.
struct ArrivedBytes
{
    QByteArray bytes; // its first `keep` bytes; the rest is read and dropped
    bool connectionLost = false;

    // An instrument that never stops talking is given up on after 100 ms. The session's
    // timeout is as it was afterwards.
    static ArrivedBytes take(ViSession vi, qsizetype keep);
};
