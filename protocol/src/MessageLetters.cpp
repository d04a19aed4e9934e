#include "protocol/MessageLetters.h"

namespace protocol {

std::string_view RequestName(std::uint8_t letter) {
    switch (letter) {
    case RequestLetter::IAmAliveCommand:
        return "IAmAliveCommand";
    case RequestLetter::KeepAlivePollCommand:
        return "KeepAlivePollCommand";
    case RequestLetter::StatusQueryRequest:
        return "StatusQueryRequest";
    case RequestLetter::DeviceInfoRequest:
        return "DeviceInfoRequest";
    case RequestLetter::LinkClearRequest:
        return "LinkClearRequest";
    case RequestLetter::MakeCallRequest:
        return "MakeCallRequest";
    case RequestLetter::AnswerCallRequest:
        return "AnswerCallRequest";
    case RequestLetter::HoldCallRequest:
        return "HoldCallRequest";
    case RequestLetter::RetrieveCallRequest:
        return "RetrieveCallRequest";
    case RequestLetter::DropCallRequest:
        return "DropCallRequest";
    case RequestLetter::OriginateRequest:
        return "OriginateRequest";
    default:
        return {};
    }
}

std::string_view EventName(std::uint8_t letter) {
    switch (letter) {
    case EventLetter::DeviceRecordEvent:
        return "DeviceRecordEvent";
    case EventLetter::OfferingEvent:
        return "OfferingEvent";
    case EventLetter::ConnectedEvent:
        return "ConnectedEvent";
    case EventLetter::RequestResponseEvent:
        return "RequestResponseEvent";
    case EventLetter::HeldEvent:
        return "HeldEvent";
    case EventLetter::DialToneEvent:
        return "DialToneEvent";
    case EventLetter::HookOnEvent:
        return "HookOnEvent";
    case EventLetter::StatusReplyEvent:
        return "StatusReplyEvent";
    case EventLetter::RetrievedEvent:
        return "RetrievedEvent";
    case EventLetter::DeviceInfoEvent:
        return "DeviceInfoEvent";
    case EventLetter::KeepAliveAnswer:
        return "KeepAliveAnswer";
    case EventLetter::UcdRecordEvent:
        return "UcdRecordEvent";
    case EventLetter::SmdrRecordEvent:
        return "SmdrRecordEvent";
    default:
        return {};
    }
}

} // namespace protocol
