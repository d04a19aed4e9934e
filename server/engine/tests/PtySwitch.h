#pragma once

// A test switch on the master side of a pty pair. The slave side is the server's COM port: map it
// with MapAsComPort and SerialPort::Open(1) opens it. Everything the server writes is kept in a
// receive stream that the test consumes with Read / Expect / ReadFrame; the test writes line bytes
// and frames with Send / SendFrame. AutoAnswer makes it answer the server's ENQs and frames by
// itself (the bodies it got are then available from WaitBody).
//
// Thread-safe; every wait is bounded by its time-out. The switch keeps a descriptor of the slave
// open for its own life, so the server can close and reopen the port without a hang-up.
//
//   PtySwitch::TempRegistry registry;   // QORVELL_REGISTRY -> a temp file for this scope
//   PtySwitch sw;
//   ASSERT_TRUE(sw.MapAsComPort(1));
//   SerialPort port;
//   ASSERT_EQ(port.Open(1), 1);
//   sw.SendFrame(body);
//   EXPECT_TRUE(sw.Expect({0x06}, 2000));

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <platform/Event.h>

#include <testsupport/TempRegistry.h>

class PtySwitch {
public:
    using Bytes = std::vector<std::uint8_t>;

    // QORVELL_REGISTRY at a fresh file in a temp folder for its own life.
    using TempRegistry = testsupport::TempRegistry;

    enum class Answer { None, Ack, Nak };

    PtySwitch();
    ~PtySwitch();
    PtySwitch(const PtySwitch&) = delete;
    PtySwitch& operator=(const PtySwitch&) = delete;

    bool IsOpen() const { return master_ >= 0 && slave_ >= 0; }
    // The slave device, e.g. "/dev/pts/3".
    const std::string& DevicePath() const { return slavePath_; }
    // Maps the slave as "COMn" in HKEY_LOCAL_MACHINE "HARDWARE\DEVICEMAP\SERIALCOMM", replacing
    // any other device mapped to that name. Refuses (false) while QORVELL_REGISTRY is unset, so a
    // test never writes a real registry.
    bool MapAsComPort(int port = 1);

    // --- to the server ---
    bool Send(const Bytes& bytes);
    bool SendByte(std::uint8_t byte) { return Send(Bytes{byte}); }
    bool SendFrame(const Bytes& body) { return Send(Frame(body)); }
    // STX, LEN high, LEN low, body, XOR of LEN and body, ETX.
    static Bytes Frame(const Bytes& body);

    // --- from the server: the receive stream ---
    // Takes up to `count` bytes, waiting up to the time-out for them; fewer when it ran out.
    Bytes Read(std::size_t count, int timeoutMs);
    // Takes as many bytes as `bytes` has and compares them.
    bool Expect(const Bytes& bytes, int timeoutMs);
    // Takes one whole frame (STX .. ETX, by its LEN); nothing when the next byte is no STX or the
    // frame does not complete in time (what was taken is then lost).
    std::optional<Bytes> ReadFrame(int timeoutMs);
    // True when no new byte arrives within the time given (for checks that something did NOT
    // happen); bytes already waiting in the stream do not count.
    bool QuietFor(int ms);
    std::size_t Available() const;
    void DiscardPending();
    // Every byte received so far, taken or not.
    Bytes AllReceived() const;

    // --- automatic answers ---
    // From now on answers every ENQ of the server with `enq` and every frame with `frame`
    // (None: no answer) and keeps the frame bodies. The receive stream still gets every byte.
    void AutoAnswer(Answer enq, Answer frame);
    void StopAutoAnswer();
    // The next frame body received while answering automatically.
    std::optional<Bytes> WaitBody(int timeoutMs);
    int EnqCount() const;
    // Waits until at least `count` ENQs have been seen while answering automatically.
    bool WaitEnqCount(int count, int timeoutMs);

private:
    void ReaderLoop();
    // Under lock_; appends the answer to send, if any, to `replies`.
    void AutoParse(std::uint8_t byte, Bytes& replies);
    bool WriteMaster(const Bytes& bytes);

    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::uint8_t> pending_;
    Bytes all_;

    bool auto_ = false;
    Answer enqAnswer_ = Answer::None;
    Answer frameAnswer_ = Answer::None;
    int enqCount_ = 0;
    std::deque<Bytes> bodies_;
    int parseState_ = 0;
    std::size_t parseLen_ = 0;
    Bytes parseFrame_;

    std::mutex writeLock_;
    platform::Event stop_{true, false};
    std::thread reader_;
};
