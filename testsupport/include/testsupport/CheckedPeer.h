#pragma once

// A PeerSocket for GoogleTest programs: a send that does not go through fails the running test
// (the test itself goes on, as after any assertion inside a helper).

#include <testsupport/PeerSocket.h>

#include <gtest/gtest.h>

namespace testsupport {

class CheckedPeer : public PeerSocket {
public:
    using PeerSocket::PeerSocket;

    void Send(const Bytes& bytes) {
        ASSERT_TRUE(PeerSocket::Send(bytes)) << bytes.size() << " bytes not sent";
    }
};

} // namespace testsupport
