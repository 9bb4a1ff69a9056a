#pragma once
// The program's resource strings: every user-visible text by its numeric id,
// shared by every front end.

namespace linkmoot {

namespace StringId {
enum : int {
    WebPage = 20001,
    QuestionClientCannotConnect = 20010,
    Caption = 20013,
    StatusConnected = 20015,
    StatusDisabled = 20016,
    StatusNotConnected = 20017,
    StatusVoteFrom = 20018,
    EnterClientPort = 20019,
    EnterServerAddress = 20020,
    EnterWakeOnLanMac = 20021,
    ChooseConnection = 20022,
    EnterReconnectMinutes = 20023,
    EnterServerPort = 20025,
    EnterShutdownMinutes = 20026,
    QuestionServerCannotStart = 20033,
    ShutdownMessage = 20034,
    SocketsUnsupported = 20035,
    SelectMode = 20036,
    EnterWebPort = 20040,
    SecretTooShort = 20042,
    EnterAllowedNetworks = 20043,
    CorrectDataPlan = 20044,
};
}

/// The text of a string id; "" for an unknown id.
const char* loadString(int id);

}  // namespace linkmoot
