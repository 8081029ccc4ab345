#include "orva.h"

extern "C" const char *orva_strerror(int code)
{
    switch (code) {
    case ORVA_OK: return "success";
    case ORVA_E_NOT_INITIALISED: return "library not initialised";
    case ORVA_E_NO_DEVICE: return "no module present";
    case ORVA_E_BUSY: return "module is open elsewhere";
    case ORVA_E_UNKNOWN_ID: return "unknown identifier";
    case ORVA_E_BAD_PASSWORD: return "wrong password";
    case ORVA_E_INVALID_ARG: return "invalid argument";
    case ORVA_E_READ: return "input error";
    case ORVA_E_WRITE: return "output error";
    case ORVA_E_NOT_FOUND: return "record not found";
    case ORVA_E_EXISTS: return "record name already in use";
    case ORVA_E_FULL: return "no room left";
    case ORVA_E_BAD_HANDLE: return "bad module handle";
    case ORVA_E_NOMEM: return "out of memory";
    case ORVA_E_DB_CLOSED: return "database not open";
    case ORVA_E_LOG_CLOSED: return "event log not open";
    case ORVA_E_NO_SESSION: return "nobody is logged on";
    case ORVA_E_BLOCKED: return "account blocked";
    case ORVA_E_PIK: return "module self-test failure";
    case ORVA_E_END: return "no further log record";
    case ORVA_E_BAD_IMAGE: return "malformed database image or configuration";
    case ORVA_E_RANGE: return "outside the area";
    case ORVA_E_NOT_SET: return "never stored";
    case ORVA_E_STATE: return "not possible in this device state";
    case ORVA_E_CORRUPT: return "stored module data is damaged";
    case ORVA_E_IN_USE: return "group still has users";
    case ORVA_E_UNKNOWN: return "unknown error";
    default: return "unrecognised code";
    }
}
