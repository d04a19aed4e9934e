#include <protocol/SwitchCommand.h>

#include <protocol/CtiRequest.h>
#include <protocol/DeviceDigits.h>
#include <protocol/MessageLetters.h>

#include <algorithm>

namespace protocol {

namespace {

// Type code of the setup-tool 'i' requests.
constexpr std::uint8_t kFirTypeCode = 0x09;

} // namespace

SwitchCommand::SwitchCommand(std::uint8_t letter) {
    frame_[CtiRequest::kStartOffset] = CtiRequest::kStartByte;
    frame_[CtiRequest::kLetterOffset] = letter;
    std::fill_n(frame_.begin() + CtiRequest::kFillerOffset, 2 + DeviceDigits::kSize, 0xFF);
}

void SwitchCommand::SetDevice(std::string_view device) {
    const DeviceDigits::Field digits = DeviceDigits::FromText(device);
    std::copy(digits.begin(), digits.end(), frame_.begin() + CtiRequest::kDeviceOffset);
}

KeepAlivePollCommand::KeepAlivePollCommand(std::uint8_t argument)
    : SwitchCommand(RequestLetter::KeepAlivePollCommand) {
    frame_[CtiRequest::kArgumentOffset] = argument;
    SetLength(9);
}

IAmAliveCommand::IAmAliveCommand() : SwitchCommand(RequestLetter::IAmAliveCommand) {
    constexpr std::uint8_t tail[] = {0x20, 0x02, 0x02, 0x20, 0x02, 0x01, 0x81};
    std::copy(std::begin(tail), std::end(tail), frame_.begin() + CtiRequest::kArgumentOffset);
    SetLength(15);
}

DeviceQueryCommand::DeviceQueryCommand(std::uint8_t argument, std::string_view device,
                                       std::uint8_t subLetter)
    : SwitchCommand(RequestLetter::StatusQueryRequest) {
    SetDevice(device);
    frame_[CtiRequest::kArgumentOffset] = argument;
    frame_[CtiRequest::kParameterOffset] = subLetter;
    SetLength(10);
}

FirStartRequestCommand::FirStartRequestCommand(std::uint8_t argument, std::string_view device,
                                               std::string_view password)
    : SwitchCommand(RequestLetter::DeviceInfoRequest) {
    SetDevice(device);
    constexpr std::uint8_t header[] = {kFirTypeCode, 0x00, 0xD1, 0x00, 0x01, 0x08,
                                       0xE0,         0xFF, 0xFF, 0xFF, 0xFF};
    frame_[CtiRequest::kArgumentOffset] = argument;
    std::copy(std::begin(header), std::end(header), frame_.begin() + CtiRequest::kParameterOffset);
    std::fill_n(frame_.begin() + kPasswordOffset, kPasswordSize, ' ');
    // The setting holds at most eight characters; a longer one must not spill past the body.
    const std::size_t n = std::min(password.size(), kPasswordSize);
    std::copy_n(password.begin(), n, frame_.begin() + kPasswordOffset);
    SetLength(kPasswordOffset + kPasswordSize);
}

FirLinkCheckCommand::FirLinkCheckCommand(std::uint8_t argument, std::string_view device)
    : SwitchCommand(RequestLetter::DeviceInfoRequest) {
    SetDevice(device);
    constexpr std::uint8_t header[] = {kFirTypeCode, 0x02, 0xD1, 0x00, 0x01,
                                       0x00,         0xE0, 0xFF, 0xFF, 0xFF};
    frame_[CtiRequest::kArgumentOffset] = argument;
    std::copy(std::begin(header), std::end(header), frame_.begin() + CtiRequest::kParameterOffset);
    SetLength(19);
}

} // namespace protocol
