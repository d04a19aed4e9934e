#include <protocol/Supervision.h>

#include <protocol/CtiEvent.h>
#include <protocol/CtiRequest.h>
#include <protocol/MessageLetters.h>
#include <protocol/SwitchCommand.h>

namespace protocol {

namespace {

bool IsSupervisionLetter(std::uint8_t letter) {
    return letter == RequestLetter::IAmAliveCommand ||
           letter == RequestLetter::KeepAlivePollCommand;
}

} // namespace

bool IsSupervisionRequest(ByteView requestBody) {
    const CtiRequest request(requestBody);
    if (!request.Has(CtiRequest::kLetterOffset))
        return false;
    const std::uint8_t letter = request.Letter();
    // An absent sub-letter reads as 0xFF, never as the server's own.
    return IsSupervisionLetter(letter) ||
           (letter == RequestLetter::StatusQueryRequest &&
            request.Parameter() == DeviceQueryCommand::kServerSubLetter);
}

bool IsSupervisionEvent(ByteView eventBody) {
    const CtiEvent event(eventBody);
    if (!event.Has(CtiEvent::kLetterOffset))
        return false;
    const std::uint8_t letter = event.Letter();
    return IsSupervisionLetter(letter) || (letter == EventLetter::StatusReplyEvent &&
                                           event.SubCode() == DeviceQueryCommand::kServerSubLetter);
}

} // namespace protocol
