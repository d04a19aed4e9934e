#pragma once

namespace engine {

// The waits of the switch link. The defaults are the link's own; tests shorten them.
struct LinkTimings {
    int sanityTimeoutMs = 25000;     // silence from the switch that ends the link
    int keepAliveIntervalMs = 13000; // keep-alive poll period once the download has ended
    int enqAckWaitMs = 7000;         // serial line bid: wait for ACK/NAK after each ENQ
    int frameAckWaitMs = 50000;      // serial: wait for the ACK of a sent frame
    int badCheckPauseMs = 1000;      // serial reader pause after a bad check byte
    int serialLinkDownPollMs = 1000; // serial reader poll while the link is down
    int serialSettleMs = 2000;       // serial: pause between the purge and marking the link up
    int linkClearWaitMs = 3000;      // serial: pause after the link clear / start bytes
    int dialoguePauseMs = 1000;      // scripted start: pause after 'A'
    int dialogueLongPauseMs = 5000;  // scripted start: pause after 'T'
    int serialReadTimeoutMs = 1000;  // serial: constant part of a read time-out
    int connectTimeoutMs = 10000;    // TCP connect to the switch
    int closeDrainMs = 1000;         // how long the link-close request may take to leave
    int sendTimeoutMs = 10000;       // TCP: a send the switch takes nothing of for this long fails
};

} // namespace engine
