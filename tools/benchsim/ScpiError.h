#pragma once

// The SCPI error numbers the simulated instruments put in their error queue.
namespace ScpiError {

enum Code : int
{
    None = 0,
    DataTypeError = -104,
    UndefinedHeader = -113,
    SettingsConflict = -221,
    DataOutOfRange = -222,
    IllegalParameterValue = -224,
    DataStale = -230,
    QueueOverflow = -350,
    InputBufferOverrun = -363,
    QueryDeadlocked = -430,
};

// The standard text of `code` ("Undefined header").
const char *message(int code);

} // namespace ScpiError
