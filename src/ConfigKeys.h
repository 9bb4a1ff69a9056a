#pragma once
#include <cstdint>
// Every configuration key of the application in one place: its section, its
// name and the default its readers pass. Sections are below the root "Root";
// kRoot stands for the root itself.

namespace linkmoot::keys {

struct Key {
    const char* section;  ///< nullptr: the root section
    const char* name;
};

inline constexpr const char* kClientSection = "Client";
inline constexpr const char* kServerSection = "Server";

// Root
inline constexpr Key Mode{nullptr, "Mode"};              // "client" | "server"; getParameter
inline constexpr Key Configured{nullptr, "Configured"};  // bool, default false
inline constexpr Key Port{nullptr, "Port"};              // text; server/client: getParameter+asLong
inline constexpr const char* kPortDialogDefault = "9005";
inline constexpr bool kConfiguredDefault = false;

// Client
inline constexpr Key ClientServer{kClientSection, "Server"};              // text; getParameter
inline constexpr Key WakeOnLanMac{kClientSection, "WakeOnLanMac"};        // text, default ""
inline constexpr Key AutoVote{kClientSection, "AutoVote"};                // bool, default false
inline constexpr const char* kWakeOnLanMacDefault = "";
inline constexpr bool kAutoVoteDefault = false;

// Server
inline constexpr Key GuardTime{kServerSection, "GuardTime"};                        // ms, 3000
inline constexpr Key AutoReconnectMinutes{kServerSection, "AutoReconnectMinutes"};  // optional, 600
inline constexpr Key ShutDownMinutes{kServerSection, "ShutDownMinutes"};  // server 0, dialog 600
inline constexpr Key AlwaysConnected{kServerSection, "AlwaysConnected"};  // bool, false
inline constexpr Key Connection{kServerSection, "Connection"};            // text; getParameter
inline constexpr Key UserName{kServerSection, "UserName"};                // text; getParameter
inline constexpr Key Password{kServerSection, "Password"};                // text; getParameter
inline constexpr Key Dialer{kServerSection, "Dialer"};                    // text, default "auto"
inline constexpr Key PppProgram{kServerSection, "PppProgram"};            // text, default "pppd"
inline constexpr Key PppPeersFolder{kServerSection, "PppPeersFolder"};    // "/etc/ppp/peers"
inline constexpr Key DialCommand{kServerSection, "DialCommand"};          // text, default ""
inline constexpr Key HangUpCommand{kServerSection, "HangUpCommand"};      // text, default ""
inline constexpr Key StatusCommand{kServerSection, "StatusCommand"};      // text, default ""

inline constexpr int32_t kGuardTimeDefault = 3000;
inline constexpr int32_t kAutoReconnectMinutesDefault = 600;
inline constexpr int32_t kShutDownMinutesServerDefault = 0;
inline constexpr int32_t kShutDownMinutesDialogDefault = 600;
inline constexpr bool kAlwaysConnectedDefault = false;
inline constexpr const char* kDialerDefault = "auto";
inline constexpr const char* kPppProgramDefault = "pppd";
inline constexpr const char* kPppPeersFolderDefault = "/etc/ppp/peers";
inline constexpr const char* kCommandDefault = "";

}  // namespace linkmoot::keys

#include "ToolBox/Config.h"

namespace linkmoot::keys {

/// The section that holds a key: the root itself or one of its sections.
inline toolbox::ConfigSection* section(toolbox::ConfigSection* root, const Key& key) {
    return key.section == nullptr ? root : root->getSection(key.section);
}

}  // namespace linkmoot::keys
