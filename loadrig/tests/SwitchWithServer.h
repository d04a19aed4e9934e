#pragma once

// The start of a test that runs the link server against the simulated switch: a registry of the
// test's own, the switch window's controller running on a port of its own, and the settings that
// point a server started by the test at it, with client ports at m_clientPort (and + 500).

#include <switchsim/SimRunController.h>
#include <testsupport/LoopbackPorts.h>
#include <testsupport/ServerSettings.h>
#include <testsupport/TempRegistry.h>
#include <testsupport/TestApp.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#ifdef BROVIK_PATH

class SwitchWithServer : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        ASSERT_TRUE(m_registry.IsReady());
        BeforeSwitchLoads();
        m_switch.SetListenPortOverride(0);
        m_switch.Form_Load();
        m_switch.cmdRun_Click();
        ASSERT_EQ(m_switch.Link().State(), SimLink::StateListening);
        m_clientPort = testsupport::FreeListenPortPair();
        ASSERT_GT(m_clientPort, 0);

        ASSERT_TRUE(testsupport::WriteServerSettings(m_registry.Dir(), "localhost",
                                                     m_switch.Link().ListeningPort(), m_clientPort,
                                                     BROVIK_PATH));
    }
    // What a test connects to the switch before it loads.
    virtual void BeforeSwitchLoads() {}

    testsupport::TempRegistry m_registry;
    SimRunController m_switch;
    int m_clientPort = 0;
};

#endif
