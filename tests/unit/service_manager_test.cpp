// TServiceManager against an in-memory service control manager.
#include <gtest/gtest.h>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/fake_ui.h"
#include "system/ServiceManager.h"

namespace tide {
namespace {

using platform::ScopedPort;

struct ServiceManagerTest : ::testing::Test {
    platform::fake::FakeServiceControl scm;
    platform::fake::RecordingMessageBoxes boxes;
    platform::fake::FakeOsInfo os;
    platform::fake::FakeClock clock;
    ScopedPort<platform::ServiceControl> p1{scm};
    ScopedPort<platform::MessageBoxes> p2{boxes};
    ScopedPort<platform::OsInfo> p3{os};
    ScopedPort<platform::Clock> p4{clock};

    ServiceManagerTest() {
        scm.AddService(L"Tidewell", kServiceStopped);
        os.SetMessage(1060, L"The specified service does not exist as an installed service.");
    }
};

TEST_F(ServiceManagerTest, StartRunStopAndTheStatesOnTheWay) {
    {
        TServiceManager sm;
        ASSERT_TRUE(sm.Connect(nullptr, nullptr, kScManagerAllAccess));
        ASSERT_TRUE(sm.OpenServiceConnection(L"Tidewell"));
        EXPECT_TRUE(sm.ServiceStopped());
        EXPECT_FALSE(sm.ServiceRunning());
        EXPECT_TRUE(sm.StartService());
        EXPECT_TRUE(sm.ServiceRunning());
        EXPECT_FALSE(sm.StartService());  // already running

        // Stop-pending is neither stopped nor running.
        scm.QueueStates(L"Tidewell", {kServiceStopPending});
        EXPECT_TRUE(sm.StopService());
        EXPECT_FALSE(sm.ServiceStopped());
        EXPECT_TRUE(sm.ServiceStopped());
        EXPECT_EQ(sm.GetStatus(), kServiceStopped);

        // Stopping a stopped service is refused; it still reads as stopped.
        EXPECT_FALSE(sm.StopService());
        EXPECT_TRUE(sm.ServiceStopped());
        EXPECT_TRUE(boxes.Shown().empty());
    }
    EXPECT_EQ(scm.OpenHandles(), 0);
}

TEST_F(ServiceManagerTest, ControlsAndArguments) {
    TServiceManager sm;
    ASSERT_TRUE(sm.Connect(nullptr, nullptr, kScManagerAllAccess));
    ASSERT_TRUE(sm.OpenServiceConnection(L"Tidewell"));
    const wchar_t* args[] = {L"-x", L"y"};
    EXPECT_TRUE(sm.StartService(2, args));
    EXPECT_EQ(scm.LastStartArguments(), (std::vector<std::wstring>{L"-x", L"y"}));
    sm.PauseService();
    EXPECT_EQ(sm.GetStatus(), 7u);
    sm.ContinueService();
    EXPECT_TRUE(sm.ServiceRunning());
    sm.DisableService();
    sm.ShutdownService();
    EXPECT_EQ(scm.Controls(), (std::vector<uint32_t>{2, 3, 5}));
    EXPECT_TRUE(sm.ServiceStopped());
    sm.PauseService();  // refused; nothing to report
}

TEST_F(ServiceManagerTest, ServiceNotInstalledShowsOneNoticeAndOnlyTheManagerIsClosed) {
    platform::ScHandle manager = 0;
    {
        TServiceManager sm;
        ASSERT_TRUE(sm.Connect(nullptr, nullptr, kScManagerAllAccess));
        EXPECT_FALSE(sm.OpenServiceConnection(L"NoSuchService"));
        auto shown = boxes.Shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, L"The specified service does not exist as an installed service.");
        EXPECT_EQ(shown[0].caption, L"Notice");
        EXPECT_EQ(shown[0].icon, platform::MbIcon::Warning);
        ASSERT_EQ(scm.OpenHandles(), 1);
        EXPECT_TRUE(scm.Closed().empty());
        // With no service open the state is unknown: neither running nor
        // stopped, so a stop poll never mistakes it for stopped.
        EXPECT_EQ(sm.GetStatus(), kServiceStateUnknown);
        EXPECT_FALSE(sm.ServiceStopped());
        EXPECT_FALSE(sm.ServiceRunning());
        EXPECT_FALSE(sm.StartService());
        EXPECT_FALSE(sm.StopService());
        for (platform::ScHandle h = 1; h < 0x200; ++h)
            if (scm.IsManager(h)) manager = h;
    }
    EXPECT_EQ(scm.Closed(), (std::vector<platform::ScHandle>{manager}));
    EXPECT_EQ(scm.OpenHandles(), 0);
}

TEST_F(ServiceManagerTest, FailedConnectClosesNothingAndOpeningThenFailsVisibly) {
    scm.SetDenyManager(true);
    os.SetMessage(6, L"The handle is invalid.");
    {
        TServiceManager sm;
        EXPECT_FALSE(sm.Connect(nullptr, nullptr, kScManagerAllAccess));
        EXPECT_TRUE(boxes.Shown().empty());
        EXPECT_FALSE(sm.OpenServiceConnection(L"Tidewell"));
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, L"The handle is invalid.");
    }
    EXPECT_TRUE(scm.Closed().empty());
}

TEST_F(ServiceManagerTest, ClosesTheServiceBeforeTheManager) {
    platform::ScHandle manager = 0;
    {
        TServiceManager sm;
        ASSERT_TRUE(sm.Connect(nullptr, nullptr, kScManagerAllAccess));
        for (platform::ScHandle h = 1; h < 0x200; ++h)
            if (scm.IsManager(h)) manager = h;
        ASSERT_TRUE(sm.OpenServiceConnection(L"Tidewell"));
    }
    auto closed = scm.Closed();
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_NE(closed[0], manager);
    EXPECT_EQ(closed[1], manager);
}

TEST_F(ServiceManagerTest, ConnectingOrOpeningAgainLeaksNoHandle) {
    {
        TServiceManager sm;
        ASSERT_TRUE(sm.Connect(nullptr, nullptr, kScManagerAllAccess));
        ASSERT_TRUE(sm.Connect(nullptr, nullptr, kScManagerAllAccess));
        EXPECT_EQ(scm.OpenHandles(), 1);
        ASSERT_TRUE(sm.OpenServiceConnection(L"Tidewell"));
        ASSERT_TRUE(sm.OpenServiceConnection(L"Tidewell"));
        EXPECT_EQ(scm.OpenHandles(), 2);
        // A failed second open keeps the service that is open.
        EXPECT_FALSE(sm.OpenServiceConnection(L"Other"));
        EXPECT_TRUE(sm.ServiceStopped());
    }
    EXPECT_EQ(scm.OpenHandles(), 0);
}

TEST_F(ServiceManagerTest, AFailedQueryIsNeitherRunningNorStopped) {
    TServiceManager sm;
    ASSERT_TRUE(sm.Connect(nullptr, nullptr, kScManagerAllAccess));
    ASSERT_TRUE(sm.OpenServiceConnection(L"Tidewell"));
    scm.SetQueryFails(true);
    EXPECT_EQ(sm.GetStatus(), kServiceStateUnknown);
    EXPECT_FALSE(sm.ServiceStopped());
    EXPECT_FALSE(sm.ServiceRunning());
}

TEST_F(ServiceManagerTest, StopWaitEndsWhenStoppedOrWhenTheBoundPasses) {
    TServiceManager sm;
    ASSERT_TRUE(sm.Connect(nullptr, nullptr, kScManagerAllAccess));
    ASSERT_TRUE(sm.OpenServiceConnection(L"Tidewell"));
    ASSERT_TRUE(sm.StartService());
    scm.QueueStates(L"Tidewell", {kServiceStopPending, kServiceStopPending});
    ASSERT_TRUE(sm.StopService());
    // The polls sleep through the clock port, which the fake clock turns
    // into elapsed time at once.
    uint64_t t0 = clock.TickMs();
    EXPECT_TRUE(sm.WaitUntilStopped(kWaitForever, 10));
    EXPECT_EQ(clock.TickMs() - t0, 20u);

    // A state that cannot be read never counts as stopped: the bound ends it.
    scm.SetQueryFails(true);
    t0 = clock.TickMs();
    EXPECT_FALSE(sm.WaitUntilStopped(200, 20));
    uint64_t took = clock.TickMs() - t0;
    EXPECT_GE(took, 200u);
    EXPECT_LT(took, 2000u);
}

}  // namespace
}  // namespace tide
