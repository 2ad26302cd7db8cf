// Result codes: the outcome of almost every operation, returned or thrown.
// The numbers are stable (saved images and scripts see some of them).
#pragma once

#include <cstdint>
#include <string>

namespace tn
{

enum class ereturnvalue : int32_t
{
    Unknown = 0,
    OK = 1,
    Error = 2,
    MemAlloc = 3,
    DataError = 4,
    FileError = 5,
    OSError = 6,
    OSException = 7,
    OSResourceLimit = 8,
    OSDoesNotSupport = 9,
    OSNetworkError = 10,
    OSDNSError = 11,
    UnableToEstablishConnection = 12,
    ConfigError = 13,
    Empty = 14,
    Reject = 15,
    Incomplete = 16,
    Complete = 17,
    Failed = 18,
    Abandon = 19,
    NotFound = 20,
    AccessDestroyedResource = 21,
    AccessAllocatedResource = 22,
    TimedOut = 23,
    NotSupported = 24,
    UnknownFormat = 25,
    InvalidInput = 26,
    Programing = 27,
    TypeUnknown = 28,
    TerminationRequest = 29,
    Closed = 30,
    Ignore = 31,
    Redirect = 32,
    EndOfFile = 33,
    Unauthorized = 34,
    RuntimeError = 35,
    DBMSError = 36,
    Wait = 37,
    NotModified = 38,
    LimitExceeded = 39,
    SpecialError = 40,
};

using RC = ereturnvalue;

constexpr int32_t kResultCodeCount = 41;

// Display name of a code; "XXXX" outside 0..40.
const char* ResultCodeName(int32_t code) noexcept;
inline const char* ResultCodeName(ereturnvalue code) noexcept { return ResultCodeName(static_cast<int32_t>(code)); }
// Replaces [out] with the display name.
void ResultCodeName(int32_t code, std::string& out);

// Script-visible status numbers: 1 OK, -2 NotFound, -1 TimedOut, -3 InvalidInput, 0 anything else.
int32_t ScriptStatus(ereturnvalue code) noexcept;

} // namespace tn
