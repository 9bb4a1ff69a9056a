#include "Strings.h"

namespace linkmoot {

namespace {
struct Entry {
    int id;
    const char* text;
};

constexpr Entry kStrings[] = {
    {StringId::WebPage, "https://linkmoot.org/"},
    {StringId::QuestionClientCannotConnect,
     "Cannot connect to Linkmoot server. Please check that\n- the server is running and enabled,\n"
     "- the properties on both the client and server are correct,\n- no firewall blocks the "
     "connection.\n\nDo you want to open the configuration dialog now?"},
    {StringId::Caption, "Linkmoot"},
    {StringId::StatusConnected, "RAS dial-up is connected, votes:"},
    {StringId::StatusDisabled, "Linkmoot server is disabled."},
    {StringId::StatusNotConnected, "RAS dial-up is not connected."},
    {StringId::StatusVoteFrom, "Vote from %s"},
    {StringId::EnterClientPort, "Please enter a Linkmoot server port number (usually 9005)."},
    {StringId::EnterServerAddress,
     "Please enter an IP address or name to specify the Linkmoot server."},
    {StringId::EnterWakeOnLanMac, "Please enter the Wake-on-LAN MAC address of the server."},
    {StringId::ChooseConnection, "Please choose a RAS (dial-up) connection to be used."},
    {StringId::EnterReconnectMinutes, "Please enter a dis- and reconnect timeout (minutes)."},
    {StringId::EnterWebPort,
     "Please enter the port of the web page for phones and tablets (1 to 65535, for example "
     "8080)."},
    {StringId::EnterServerPort, "Please enter a Linkmoot server port number (usually 9005)."},
    {StringId::EnterShutdownMinutes,
     "Please enter the number of minutes of no votes prior to shutting down."},
    {StringId::QuestionServerCannotStart,
     "Cannot start the Linkmoot server. Please check that\n- the server properties are "
     "correct,\n- no firewall prevents from offering the server.\n\nDo you want to open the "
     "configuration dialog now?"},
    {StringId::ShutdownMessage,
     "The Linkmoot server shuts down the system because there are no more votes indicating "
     "that the server is needed."},
    {StringId::SocketsUnsupported, "Sorry, this version of Windows Sockets is unsupported."},
    {StringId::SelectMode, "Please select a mode for this computer."},
    {StringId::SecretTooShort,
     "Please enter a shared secret of at least 16 characters, the same on the server and every "
     "client (or none at all)."},
    {StringId::EnterAllowedNetworks,
     "Please enter the allowed networks as IPv4 blocks separated by commas, such as "
     "192.168.1.0/24, 10.0.0.0/8 (empty: the private networks)."},
    {StringId::CorrectDataPlan, "Please correct the data plan."},
};
}  // namespace

const char* loadString(int id) {
    for (const Entry& entry : kStrings) {
        if (entry.id == id)
            return entry.text;
    }
    return "";
}

}  // namespace linkmoot
