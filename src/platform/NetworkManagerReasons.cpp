#include "platform/NetworkManagerReasons.h"

namespace linkmoot::networkmanager {

namespace {

constexpr const char* kDocs = "docs/dialup-services.md";

enum class Cause { Login, NoSecrets, LinkEnded, NoAnswer, Removed, Disconnected, Other };

Cause causeOf(const FailedActivation& failed) {
    if (failed.reason == kActiveReasonLoginFailed || failed.passwordRefused)
        return Cause::Login;
    if (failed.reason == kActiveReasonNoSecrets || failed.deviceReason == kDeviceReasonNoSecrets)
        return Cause::NoSecrets;
    if (failed.deviceReason == kDeviceReasonPppDisconnect) {
        // The link ended while the device was still being set up, just after
        // NetworkManager took the password from us: the provider said no.
        const bool settingUp = failed.deviceStateBefore == kDeviceStateConfig ||
                               failed.deviceStateBefore == kDeviceStateNeedAuth;
        return settingUp && failed.passwordGiven ? Cause::Login : Cause::LinkEnded;
    }
    if (failed.deviceReason == kDeviceReasonPppFailed ||
        failed.deviceReason == kDeviceReasonPppStartFailed ||
        failed.deviceReason == kDeviceReasonModemNoCarrier)
        return Cause::NoAnswer;
    if (failed.reason == kActiveReasonDeviceRemoved || failed.deviceReason == kDeviceReasonRemoved)
        return Cause::Removed;
    if (failed.reason == kActiveReasonDeviceDisconnected)
        return Cause::Disconnected;
    return Cause::Other;
}

}  // namespace

const char* activeReasonText(uint32_t reason) {
    switch (reason) {
        case 0:
            return "unknown reason";
        case 1:
            return "no reason given";
        case 2:
            return "disconnected by the user";
        case 3:
            return "the device was disconnected";
        case 4:
            return "the VPN service stopped";
        case 5:
            return "the IP configuration was invalid";
        case 6:
            return "the connection attempt timed out";
        case 7:
            return "the VPN service did not start in time";
        case 8:
            return "the VPN service failed to start";
        case 9:
            return "no secrets (password) were available";
        case 10:
            return "the login failed";
        case 11:
            return "the connection profile was removed";
        case 12:
            return "a connection it depends on failed";
        case 13:
            return "the device could not be set up";
        case 14:
            return "the device was removed";
        default:
            return "reason unknown to Linkmoot";
    }
}

std::string failureText(const std::string& profile, const FailedActivation& failed) {
    const std::string quoted = "\"" + profile + "\"";
    const std::string cannot = "NetworkManager could not bring " + quoted + " up: ";
    switch (causeOf(failed)) {
        case Cause::Login:
            return "NetworkManager could not log in to " + quoted +
                   ": the provider refused the user name or password";
        case Cause::NoSecrets:
            return cannot + "no secrets (password) were available";
        case Cause::LinkEnded:
            return cannot +
                   "the PPP link ended while it was being made (the provider refused the user "
                   "name or password, or the line dropped)";
        case Cause::NoAnswer:
            return cannot +
                   "the PPP link could not be made (no answer: the modem, the line or the "
                   "provider is down)";
        case Cause::Removed:
            return cannot + "the device was removed";
        case Cause::Disconnected:
            return cannot +
                   "the device was disconnected (the provider may have refused the user name or "
                   "password, or the modem or the line is gone)";
        case Cause::Other:
            break;
    }
    if (failed.reason == 0)
        return cannot + "the activation ended without a reason given";
    return cannot + activeReasonText(failed.reason);
}

std::string failureHint(const FailedActivation& failed) {
    switch (causeOf(failed)) {
        case Cause::Login:
            return "; check the user name in the profile and Server/Password";
        case Cause::NoSecrets:
            return std::string(
                       "; set the password in the server options and the profile's password "
                       "flags to agent-owned (") +
                   kDocs + ")";
        case Cause::LinkEnded:
        case Cause::Disconnected:
            return "; check the user name in the profile and Server/Password, then the modem "
                   "and the line";
        case Cause::NoAnswer:
            return "; check the modem, its cable and the line";
        case Cause::Removed:
            return "; is the modem plugged in?";
        case Cause::Other:
            break;
    }
    return "";
}

}  // namespace linkmoot::networkmanager
