#include "instruments/visa/StatusDescription.h"

namespace visa {

const char *statusDescription(ViStatus status)
{
    switch (status) {
    case VI_SUCCESS:
        return "VI_SUCCESS: Operation completed successfully.";
    case VI_SUCCESS_TERM_CHAR:
        return "VI_SUCCESS_TERM_CHAR: The specified termination character was read.";
    case VI_SUCCESS_MAX_CNT:
        return "VI_SUCCESS_MAX_CNT: The number of bytes read is equal to the input count.";
    case VI_SUCCESS_EVENT_DIS:
        return "VI_SUCCESS_EVENT_DIS: Specified event is already disabled for at least one of "
               "the specified mechanisms.";
    case VI_SUCCESS_QUEUE_EMPTY:
        return "VI_SUCCESS_QUEUE_EMPTY: Operation completed successfully, but queue was "
               "already empty.";
    case VI_SUCCESS_NESTED_SHARED:
        return "VI_SUCCESS_NESTED_SHARED: The specified access mode is successfully acquired, "
               "and this session has nested shared locks.";
    case VI_SUCCESS_NESTED_EXCLUSIVE:
        return "VI_SUCCESS_NESTED_EXCLUSIVE: The specified access mode is successfully "
               "acquired, and this session has nested exclusive locks.";
    case VI_WARN_NULL_OBJECT:
        return "VI_WARN_NULL_OBJECT: The specified object reference is uninitialized.";
    case VI_ERROR_SYSTEM_ERROR:
        return "VI_ERROR_SYSTEM_ERROR: Unknown system error.";
    case VI_ERROR_INV_OBJECT:
        return "VI_ERROR_INV_OBJECT: The given session or object reference is invalid.";
    case VI_ERROR_RSRC_LOCKED:
        return "VI_ERROR_RSRC_LOCKED: The resource is locked by another session.";
    case VI_ERROR_INV_EXPR:
        return "VI_ERROR_INV_EXPR: Invalid expression specified for search.";
    case VI_ERROR_RSRC_NFOUND:
        return "VI_ERROR_RSRC_NFOUND: The resource was not found: no instrument answered at "
               "that address.";
    case VI_ERROR_INV_RSRC_NAME:
        return "VI_ERROR_INV_RSRC_NAME: Invalid resource reference specified. Parsing error.";
    case VI_ERROR_INV_ACC_MODE:
        return "VI_ERROR_INV_ACC_MODE: Invalid access mode.";
    case VI_ERROR_TMO:
        return "VI_ERROR_TMO: Timeout expired before operation completed.";
    case VI_ERROR_ABORT:
        return "VI_ERROR_ABORT: User abort occurred during transfer.";
    case VI_ERROR_INV_JOB_ID:
        return "VI_ERROR_INV_JOB_ID: Specified job identifier is invalid.";
    case VI_ERROR_NSUP_ATTR:
        return "VI_ERROR_NSUP_ATTR: The specified attribute is not defined or not supported "
               "by the referenced session.";
    case VI_ERROR_NSUP_ATTR_STATE:
        return "VI_ERROR_NSUP_ATTR_STATE: The specified state of the attribute is not valid, "
               "or is not supported as defined by the session.";
    case VI_ERROR_ATTR_READONLY:
        return "VI_ERROR_ATTR_READONLY: The specified attribute is read-only.";
    case VI_ERROR_INV_LOCK_TYPE:
        return "VI_ERROR_INV_LOCK_TYPE: The specified type of lock is not supported by this "
               "resource.";
    case VI_ERROR_INV_ACCESS_KEY:
        return "VI_ERROR_INV_ACCESS_KEY: The access key to the resource associated with this "
               "session is invalid.";
    case VI_ERROR_INV_EVENT:
        return "VI_ERROR_INV_EVENT: Specified event type is not supported by the resource "
               "(this library delivers no events).";
    case VI_ERROR_INV_MECH:
        return "VI_ERROR_INV_MECH: Invalid mechanism specified.";
    case VI_ERROR_INV_CONTEXT:
        return "VI_ERROR_INV_CONTEXT: Specified event context is invalid.";
    case VI_ERROR_INV_SETUP:
        return "VI_ERROR_INV_SETUP: Unable to start operation because setup is invalid (a "
               "SOCKET or ASRL session reads a status byte only with VI_ATTR_IO_PROT set to "
               "VI_PROT_4882_STRS).";
    case VI_ERROR_INV_MASK:
        return "VI_ERROR_INV_MASK: The specified mask does not specify a valid flush "
               "operation on read/write resource.";
    case VI_ERROR_INV_MODE:
        return "VI_ERROR_INV_MODE: The value specified by the mode parameter is invalid.";
    case VI_ERROR_SESN_NLOCKED:
        return "VI_ERROR_SESN_NLOCKED: The current session did not have any lock on the "
               "resource.";
    case VI_ERROR_ALLOC:
        return "VI_ERROR_ALLOC: Insufficient system resources to perform necessary memory "
               "allocation.";
    case VI_ERROR_IO:
        return "VI_ERROR_IO: Could not perform operation because of I/O error.";
    case VI_ERROR_NLISTENERS:
        return "VI_ERROR_NLISTENERS: No listeners condition is detected (both NRFD and NDAC "
               "are deasserted).";
    case VI_ERROR_NSUP_OPER:
        return "VI_ERROR_NSUP_OPER: The resource or operation is not supported by this "
               "library.";
    case VI_ERROR_ASRL_PARITY:
        return "VI_ERROR_ASRL_PARITY: A parity error occurred during transfer.";
    case VI_ERROR_ASRL_FRAMING:
        return "VI_ERROR_ASRL_FRAMING: A framing error occurred during transfer.";
    case VI_ERROR_ASRL_OVERRUN:
        return "VI_ERROR_ASRL_OVERRUN: An overrun error occurred during transfer.";
    case VI_ERROR_USER_BUF:
        return "VI_ERROR_USER_BUF: A specified user buffer is not valid or cannot be accessed "
               "for the required size.";
    case VI_ERROR_INV_PARAMETER:
        return "VI_ERROR_INV_PARAMETER: The value of some parameter is invalid.";
    case VI_ERROR_INV_PROT:
        return "VI_ERROR_INV_PROT: The protocol specified is invalid (viAssertTrigger takes "
               "VI_TRIG_PROT_DEFAULT).";
    case VI_ERROR_LIBRARY_NFOUND:
        return "VI_ERROR_LIBRARY_NFOUND: A code library required by VISA could not be located "
               "or loaded (GPIB needs linux-gpib's libgpib.so.0).";
    case VI_ERROR_INTF_NUM_NCONFIG:
        return "VI_ERROR_INTF_NUM_NCONFIG: The interface type is valid but the specified "
               "interface number is not configured.";
    case VI_ERROR_CONN_LOST:
        return "VI_ERROR_CONN_LOST: The connection for the given session has been lost.";
    case VI_ERROR_NPERMISSION:
        return "VI_ERROR_NPERMISSION: Access to the resource or remote machine is denied.";
    default:
        return nullptr;
    }
}

} // namespace visa
