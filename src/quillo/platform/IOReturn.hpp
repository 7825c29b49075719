#pragma once

#include <cstdint>

namespace quillo {

using IOReturn = std::int32_t;

// The common IOKit return codes: system 0x38 << 26, subsystem 0, and a 14-bit code.
constexpr IOReturn iokitCommonErr(std::uint32_t code) {
    return static_cast<IOReturn>(0xE0000000u | code);
}

inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnInvalid = iokitCommonErr(0x001);
inline constexpr IOReturn kIOReturnError = iokitCommonErr(0x2BC);
inline constexpr IOReturn kIOReturnNoMemory = iokitCommonErr(0x2BD);
inline constexpr IOReturn kIOReturnNoResources = iokitCommonErr(0x2BE);
inline constexpr IOReturn kIOReturnIPCError = iokitCommonErr(0x2BF);
inline constexpr IOReturn kIOReturnNoDevice = iokitCommonErr(0x2C0);
inline constexpr IOReturn kIOReturnBadArgument = iokitCommonErr(0x2C2);
inline constexpr IOReturn kIOReturnLockedRead = iokitCommonErr(0x2C3);
inline constexpr IOReturn kIOReturnExclusiveAccess = iokitCommonErr(0x2C5);
inline constexpr IOReturn kIOReturnBadMessageID = iokitCommonErr(0x2C6);
inline constexpr IOReturn kIOReturnUnsupported = iokitCommonErr(0x2C7);
inline constexpr IOReturn kIOReturnVMError = iokitCommonErr(0x2C8);
inline constexpr IOReturn kIOReturnInternalError = iokitCommonErr(0x2C9);
inline constexpr IOReturn kIOReturnIOError = iokitCommonErr(0x2CA);
inline constexpr IOReturn kIOReturnCannotLock = iokitCommonErr(0x2CC);
inline constexpr IOReturn kIOReturnNotOpen = iokitCommonErr(0x2CD);
inline constexpr IOReturn kIOReturnNotReadable = iokitCommonErr(0x2CE);
inline constexpr IOReturn kIOReturnNotWritable = iokitCommonErr(0x2CF);
inline constexpr IOReturn kIOReturnNotAligned = iokitCommonErr(0x2D0);
inline constexpr IOReturn kIOReturnBadMedia = iokitCommonErr(0x2D1);
inline constexpr IOReturn kIOReturnStillOpen = iokitCommonErr(0x2D2);
inline constexpr IOReturn kIOReturnRLDError = iokitCommonErr(0x2D3);
inline constexpr IOReturn kIOReturnDMAError = iokitCommonErr(0x2D4);
inline constexpr IOReturn kIOReturnBusy = iokitCommonErr(0x2D5);
inline constexpr IOReturn kIOReturnTimeout = iokitCommonErr(0x2D6);
inline constexpr IOReturn kIOReturnOffline = iokitCommonErr(0x2D7);
inline constexpr IOReturn kIOReturnNotReady = iokitCommonErr(0x2D8);
inline constexpr IOReturn kIOReturnNotAttached = iokitCommonErr(0x2D9);
inline constexpr IOReturn kIOReturnNoChannels = iokitCommonErr(0x2DA);
inline constexpr IOReturn kIOReturnNoSpace = iokitCommonErr(0x2DB);
inline constexpr IOReturn kIOReturnPortExists = iokitCommonErr(0x2DD);
inline constexpr IOReturn kIOReturnCannotWire = iokitCommonErr(0x2DE);
inline constexpr IOReturn kIOReturnNoInterrupt = iokitCommonErr(0x2DF);
inline constexpr IOReturn kIOReturnNoFrames = iokitCommonErr(0x2E0);
inline constexpr IOReturn kIOReturnMessageTooLarge = iokitCommonErr(0x2E1);
inline constexpr IOReturn kIOReturnNotPermitted = iokitCommonErr(0x2E2);
inline constexpr IOReturn kIOReturnNoPower = iokitCommonErr(0x2E3);
inline constexpr IOReturn kIOReturnNoMedia = iokitCommonErr(0x2E4);
inline constexpr IOReturn kIOReturnUnformattedMedia = iokitCommonErr(0x2E5);
inline constexpr IOReturn kIOReturnUnsupportedMode = iokitCommonErr(0x2E6);
inline constexpr IOReturn kIOReturnUnderrun = iokitCommonErr(0x2E7);
inline constexpr IOReturn kIOReturnOverrun = iokitCommonErr(0x2E8);
inline constexpr IOReturn kIOReturnDeviceError = iokitCommonErr(0x2E9);
inline constexpr IOReturn kIOReturnNoCompletion = iokitCommonErr(0x2EA);
inline constexpr IOReturn kIOReturnAborted = iokitCommonErr(0x2EB);
inline constexpr IOReturn kIOReturnNoBandwidth = iokitCommonErr(0x2EC);
inline constexpr IOReturn kIOReturnNotResponding = iokitCommonErr(0x2ED);
inline constexpr IOReturn kIOReturnIsoTooOld = iokitCommonErr(0x2EE);
inline constexpr IOReturn kIOReturnIsoTooNew = iokitCommonErr(0x2EF);
inline constexpr IOReturn kIOReturnNotFound = iokitCommonErr(0x2F0);

}  // namespace quillo
