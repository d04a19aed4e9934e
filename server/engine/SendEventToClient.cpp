#include "SwitchDeviceTable.h"

#include "OrbClientConnectionManager.h"
#include "OrbClientSocketUser.h"
#include "OrbManagerDlg.h"
#include "TraceLog.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

constexpr int kMaxEventLength = 400;

// The value of the text's leading decimal digits; 0 when it starts with none.
long LeadingNumber(const std::string& text) {
    long value = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            break;
        if (value > 100000000L)
            break; // far beyond any device number; stop before it can overflow
        value = value * 10 + (c - '0');
    }
    return value;
}

bool Deliverable(int length) {
    return length > 0 && length <= kMaxEventLength;
}

} // namespace

void SwitchDeviceTable::SendEventToClient(const std::string& deviceText, const std::uint8_t* body,
                                          int length, const std::string& secondText, int allFlag) {
    const long number1 = LeadingNumber(deviceText);
    const long number2 = LeadingNumber(secondText);

    // One frame for every client; an undeliverable length (or no body) builds none and is
    // reported per client below.
    std::array<std::uint8_t, 2 + kMaxEventLength> frame{};
    const bool deliverable = body != nullptr && Deliverable(length);
    const int frameLength = deliverable ? length + 2 : 0;
    if (deliverable) {
        frame[0] = static_cast<std::uint8_t>(length >> 8);
        frame[1] = static_cast<std::uint8_t>(length & 0xFF);
        std::copy(body, body + length, frame.begin() + 2);
    }
    if (!m_pOwner)
        return;

    if (COrbClientConnectionManager* manager = m_pOwner->m_pClientManager) {
        platform::CriticalSectionLock guard(manager->ClientListLock());
        for (COrbClientSocketUser* client : manager->GetClients()) {
            if (!client || client->m_bRegistered.load() != 1) {
                TraceLog("[ERROR] The connected User's Socket Handle is a null or There is no "
                         "right for this type of event. Something Wrong!!!");
                continue;
            }
            std::string address;
            unsigned port = 0;
            if (!client->GetPeerName(address, port))
                continue;
            if (!deliverable) {
                TraceLog("[ERROR] Switch Event Length is too big or too small[<= 0 or > 400]. "
                         "This event can't be delivered!!!");
                continue;
            }
            bool send = allFlag == 1 || client->m_bOwnLineFilter.load() != 1;
            if (!send) {
                const long ownLine = client->m_nOwnLine.load();
                send = (ownLine == number1 || ownLine == number2) && client->m_bAlder.load() != 1;
            }
            if (!send)
                continue;
            int error = 0;
            if (client->SendRecord(frame.data(), frameLength, error) < 0)
                TraceLog("[ERROR] Client Socket Error. Switch Event can't be delivered[IP - %s : "
                         "%d]. Error Code[%d : %s]",
                         client->m_strPeerAddress.c_str(), client->m_nPeerPort, error,
                         SystemErrorText(error).c_str());
        }
    }

    if (COrbClientConnectionManager* manager = m_pOwner->m_pBypassClientManager) {
        platform::CriticalSectionLock guard(manager->ClientListLock());
        for (COrbClientSocketUser* client : manager->GetClients()) {
            if (!client) {
                TraceLog("[ERROR] The connected User's Socket Handle is a null. Something "
                         "Wrong!!!");
                continue;
            }
            if (!deliverable) {
                TraceLog("[ERROR] Send Message Length is more than 400 bytes. This message can't "
                         "be delivered!!!");
                continue;
            }
            int error = 0;
            if (client->SendRecord(frame.data(), frameLength, error) < 0)
                TraceLog("[ERROR] Client Socket Error. Data can't be delivered[IP - %s : %d]. "
                         "Error Code[%d : %s]",
                         client->m_strPeerAddress.c_str(), client->m_nPeerPort, error,
                         SystemErrorText(error).c_str());
        }
    }
}
