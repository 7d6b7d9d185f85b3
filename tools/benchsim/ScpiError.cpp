#include "tools/benchsim/ScpiError.h"

const char *ScpiError::message(int code)
{
    switch (code) {
    case None:
        return "No error";
    case DataTypeError:
        return "Data type error";
    case UndefinedHeader:
        return "Undefined header";
    case SettingsConflict:
        return "Settings conflict";
    case DataOutOfRange:
        return "Data out of range";
    case IllegalParameterValue:
        return "Illegal parameter value";
    case DataStale:
        return "Data stale";
    case QueueOverflow:
        return "Queue overflow";
    case InputBufferOverrun:
        return "Input buffer overrun";
    case QueryDeadlocked:
        return "Query DEADLOCKED";
    }
    return "Error";
}
