#pragma once
// Why NetworkManager could not bring a profile up, in words a user can act on.
// NetworkManager's active connection says little ("the device was
// disconnected" covers a refused password and an unplugged modem alike), so
// the text also weighs what the device said when it failed and what the secret
// agent saw: a PPP link that ends while it is being made, right after the
// password was handed over, is the provider refusing the login.
#include <cstdint>
#include <string>

namespace linkmoot::networkmanager {

/// NetworkManager's NMActiveConnectionStateReason values this code tells apart.
enum ActiveReason : uint32_t {
    kActiveReasonDeviceDisconnected = 3,
    kActiveReasonNoSecrets = 9,
    kActiveReasonLoginFailed = 10,
    kActiveReasonDeviceRemoved = 14,
};

/// NetworkManager's NMDeviceState and NMDeviceStateReason values used here.
enum DeviceValue : uint32_t {
    kDeviceStateConfig = 50,
    kDeviceStateNeedAuth = 60,
    kDeviceStateFailed = 120,
    kDeviceReasonNoSecrets = 7,
    kDeviceReasonPppStartFailed = 12,
    kDeviceReasonPppDisconnect = 13,
    kDeviceReasonPppFailed = 14,
    kDeviceReasonModemBusy = 23,
    kDeviceReasonModemNoCarrier = 25,
    kDeviceReasonRemoved = 36,
};

/// What is known of an activation that ended before the line came up.
struct FailedActivation {
    uint32_t reason = 0;             ///< the active connection's, at DEACTIVATED
    uint32_t deviceReason = 0;       ///< the device's when it reached FAILED; 0: not seen
    uint32_t deviceStateBefore = 0;  ///< the device's state just before FAILED
    bool passwordGiven = false;      ///< our agent handed the password over for it
    bool passwordRefused = false;    ///< NetworkManager asked again: the password was refused
};

/// The failure as the report and the log say it, naming the profile, for
/// example `NetworkManager could not log in to "Dial-in": the provider refused
/// the user name or password`.
std::string failureText(const std::string& profile, const FailedActivation& failed);

/// What to do about it, as a "; ..." tail for the log line (may be empty).
std::string failureHint(const FailedActivation& failed);

/// An active connection's state reason in words, e.g. for a line that was up.
const char* activeReasonText(uint32_t reason);

}  // namespace linkmoot::networkmanager
