#include "FakeNotificationService.h"
#include "PrivateSessionBus.h"
#include "ScriptedDialogs.h"
#include "app/CBackupDlg.h"
#include "app/CommandIds.h"
#include "app/DesktopNotifier.h"
#include "app/TrayPresence.h"
#include "storage/FirstStart.h"
#include "storage/PowerClass.h"
#include "storage/ProjectFile.h"
#include "support/TempHome.h"
#include "util/SafeFormat.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

// Bounds a wait for the bus, which delivers asynchronously; no test takes this long.
constexpr int kDeliveryMs = 10'000;

QString Q(const std::string& text) {
    return QString::fromUtf8(text);
}

class NotificationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus.Started()) << "dbus-daemon did not start"; }

    FakeNotificationService& StartService() {
        service = std::make_unique<FakeNotificationService>(bus.Connect(QStringLiteral("service")));
        EXPECT_TRUE(service->Registered());
        return *service;
    }
    bool WaitForCalls(std::size_t count) {
        return QTest::qWaitFor([&] { return service->calls.size() >= count; }, kDeliveryMs);
    }

    TempHome home;
    PrivateSessionBus bus;
    std::unique_ptr<FakeNotificationService> service;
};

// ------------------------------------------------------------ the notifier

class DesktopNotifierTest : public NotificationTest {
protected:
    std::unique_ptr<DesktopNotifier> MakeNotifier(QDBusConnection connection, int replyTimeoutMs = 10'000) {
        return std::make_unique<DesktopNotifier>(
            connection, texts,
            [this](const QString& summary, const QString&) { fallbackSummaries << summary; },
            [this] { ++clicks; }, replyTimeoutMs);
    }

    CTranslation texts{BinFolder()};
    QStringList fallbackSummaries;
    int clicks = 0;
};

TEST_F(DesktopNotifierTest, OnlyTheDefaultActionOfItsOwnOpenNotificationsIsAClick) {
    FakeNotificationService& fake = StartService();
    auto notifier = MakeNotifier(bus.Connect(QStringLiteral("client")));
    // A second notifier on the same connection sees the service's signals after
    // the first: its click shows that every earlier signal has been handled.
    int probeClicks = 0;
    DesktopNotifier probe(bus.Connect(QStringLiteral("client")), texts, {}, [&] { ++probeClicks; });
    auto handledUpToHere = [&] {
        const int before = probeClicks;
        fake.SendActionInvoked(2, QStringLiteral("default"));
        return QTest::qWaitFor([&] { return probeClicks > before; }, kDeliveryMs);
    };

    notifier->Notify(QStringLiteral("first"), QStringLiteral("body"));
    probe.Notify(QStringLiteral("probe"), QString());
    ASSERT_TRUE(WaitForCalls(2));
    EXPECT_EQ(fake.calls[0].appName, "Tarnwick Backup");
    EXPECT_EQ(fake.calls[0].appIcon, "tarnwick-backup");
    EXPECT_EQ(fake.calls[0].replacesId, 0u);
    EXPECT_EQ(fake.calls[0].actions.value(0), "default");
    fake.SendActionInvoked(77, QStringLiteral("default"));  // another program's
    fake.SendActionInvoked(1, QStringLiteral("other"));
    fake.SendActionInvoked(1, QStringLiteral("default"));
    ASSERT_TRUE(handledUpToHere());
    EXPECT_EQ(clicks, 1);

    // An open notification is replaced by the next; a closed one is no longer ours.
    notifier->Notify(QStringLiteral("second"), QStringLiteral("body"));
    ASSERT_TRUE(WaitForCalls(3));
    EXPECT_EQ(fake.calls[2].replacesId, 1u);
    fake.SendNotificationClosed(1);
    fake.SendActionInvoked(1, QStringLiteral("default"));
    ASSERT_TRUE(handledUpToHere());
    EXPECT_EQ(clicks, 1);
    notifier->Notify(QStringLiteral("third"), QStringLiteral("body"));
    ASSERT_TRUE(WaitForCalls(4));
    EXPECT_EQ(fake.calls[3].replacesId, 0u);
    EXPECT_TRUE(fallbackSummaries.isEmpty());
}

TEST_F(DesktopNotifierTest, WhenNoServiceAnswersTheFallbackCarriesTheText) {
    // No bus at all: at once.
    auto unconnected = MakeNotifier(QDBusConnection(QStringLiteral("no such connection")));
    unconnected->Notify(QStringLiteral("no bus"), QString());
    EXPECT_EQ(fallbackSummaries, QStringList{"no bus"});

    // No service on the bus.
    auto notifier = MakeNotifier(bus.Connect(QStringLiteral("client")), 200);
    notifier->Notify(QStringLiteral("no service"), QString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return fallbackSummaries.size() == 2; }, kDeliveryMs));
    EXPECT_EQ(fallbackSummaries.last(), "no service");

    // A service that refuses, and one that never answers: Notify returns before
    // any answer, the fallback follows the answer or its time-out.
    FakeNotificationService& fake = StartService();
    fake.answer = FakeNotificationService::Answer::Error;
    notifier->Notify(QStringLiteral("refused"), QString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return fallbackSummaries.size() == 3; }, kDeliveryMs));
    EXPECT_EQ(fallbackSummaries.last(), "refused");
    fake.answer = FakeNotificationService::Answer::Never;
    notifier->Notify(QStringLiteral("unanswered"), QString());
    EXPECT_EQ(fallbackSummaries.size(), 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fallbackSummaries.size() == 4; }, kDeliveryMs));
    EXPECT_EQ(fallbackSummaries.last(), "unanswered");
    EXPECT_EQ(fake.calls.size(), 2u);
    EXPECT_EQ(clicks, 0);
}

// ------------------------------------------------------------ the window

class WindowNotificationTest : public NotificationTest {
protected:
    std::unique_ptr<CBackupDlg> OpenWindow(bool withBus = true) {
        MainWindowEnvironment environment;
        environment.programFolder = BinFolder();
        environment.executablePath = BinFolder() + "/tarnwick-backup";
        environment.commandLine = "tarnwick-backup";
        environment.trayAvailable = [] { return true; };
        if (withBus) environment.notificationBus = [this] { return bus.Connect(QStringLiteral("window")); };
        return std::make_unique<CBackupDlg>(dialogs, environment);
    }

    // Two files backed up every minute; a failing run finds a file where the
    // backup folder must be.
    void PrepareProject(bool failing) {
        BackupSetup setup;
        for (const char* name : {"a.txt", "b.txt"}) {
            WriteTestFile(source.path() + "/" + name, name);
            setup.entries.push_back(source.path() + "/" + name);
        }
        setup.destination = target.path() + "/...";
        setup.interval = 1;
        PowerClass settings(BinFolder());
        settings.ResolveSettingsFile();
        WriteProject(ProvisionDefaultProject(settings), setup);
        if (!failing) return;
        fs::remove_all(target.path());
        WriteTestFile(target.path(), "in the way");
    }
    static QString Text(const CBackupDlg& window, TextId id) { return Q(window.Texts().GetText(id)); }
    static QString CountText(const CBackupDlg& window, TextId id) {
        return Q(
            FormatText(window.Texts().GetText(id), static_cast<std::int64_t>(window.Run().failures.size())));
    }

    ScriptedDialogs dialogs;
    TempFolder source;
    TempFolder target;
};

TEST_F(WindowNotificationTest, ARunWithFailuresSendsOneNotificationWithTheCountAndACleanOneInSightNone) {
    FakeNotificationService& fake = StartService();
    PrepareProject(false);
    auto window = OpenWindow();
    window->show();

    window->OnCommand(CommandId::StartBackupNow);
    ASSERT_TRUE(window->Run().failures.empty());
    fs::remove_all(target.path());
    WriteTestFile(target.path(), "in the way");
    window->OnCommand(CommandId::StartBackupNow);

    // The bus keeps the order: a notice of the clean run would have come first.
    ASSERT_TRUE(WaitForCalls(1));
    ASSERT_FALSE(window->Run().failures.empty());
    EXPECT_EQ(fake.calls[0].summary, Text(*window, TextId::NotifyFailuresSummary));
    EXPECT_EQ(fake.calls[0].body, CountText(*window, TextId::NotifyFailuresBody));
    EXPECT_TRUE(fake.calls[0].body.contains(QString::number(window->Run().failures.size())));
}

TEST_F(WindowNotificationTest, AScheduledRunEndingInTheTrayIsToldAndAClickBringsTheWindowBack) {
    FakeNotificationService& fake = StartService();
    PrepareProject(false);
    auto window = OpenWindow();
    window->show();
    window->OnCommand(CommandId::MinimizeToTray);
    ASSERT_FALSE(window->isVisible());
    QSignalSpy trayMessages(&window->Tray(), &TrayPresence::MessageShown);

    window->OnSchedulerTick();
    ASSERT_FALSE(window->Setup().lastRun.empty()) << "the tick ran no backup";

    ASSERT_TRUE(WaitForCalls(1));
    EXPECT_EQ(fake.calls[0].summary, Text(*window, TextId::NotifyFinishedSummary));
    EXPECT_EQ(fake.calls[0].body, Text(*window, TextId::NotifyFinishedBody));
    fake.SendActionInvoked(1, QStringLiteral("default"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isVisible(); }, kDeliveryMs));
    EXPECT_FALSE(window->Tray().IsShown());
    EXPECT_TRUE(trayMessages.isEmpty());
}

TEST_F(WindowNotificationTest, AScheduledRunCancelledWhileMinimisedSaysSoWithTheFailuresUpToThen) {
    FakeNotificationService& fake = StartService();
    PrepareProject(false);
    auto window = OpenWindow();
    window->showMinimized();
    // At the run's first pump of events.
    QTimer::singleShot(0, window.get(),
                       [&] { window->findChild<QPushButton*>("startBackupButton")->click(); });

    window->OnSchedulerTick();

    ASSERT_TRUE(window->Run().cancelRequested);
    ASSERT_TRUE(WaitForCalls(1));
    EXPECT_EQ(fake.calls[0].summary, Text(*window, TextId::NotifyCancelledSummary));
    EXPECT_EQ(fake.calls[0].body, CountText(*window, TextId::NotifyCancelledBody));
}

TEST_F(WindowNotificationTest, WithoutAServiceTheTrayIconCarriesTheMessageAndItsClickBringsTheWindowBack) {
    PrepareProject(true);
    for (const bool withBus : {true, false}) {
        auto window = OpenWindow(withBus);
        window->show();
        QSignalSpy trayMessages(&window->Tray(), &TrayPresence::MessageShown);

        window->OnCommand(CommandId::StartBackupNow);

        ASSERT_TRUE(QTest::qWaitFor([&] { return !trayMessages.isEmpty(); }, kDeliveryMs)) << withBus;
        EXPECT_EQ(trayMessages.size(), 1);
        EXPECT_EQ(trayMessages[0][0].toString(), Text(*window, TextId::NotifyFailuresSummary));
        EXPECT_EQ(trayMessages[0][1].toString(), CountText(*window, TextId::NotifyFailuresBody));
        // The icon raised for the message takes the window as well.
        window->OnCommand(CommandId::MinimizeToTray);
        EXPECT_FALSE(window->isVisible());
        emit window->Tray().Icon()->messageClicked();
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(window->Tray().IsShown());
    }
}

TEST_F(WindowNotificationTest, AServiceThatNeverAnswersDoesNotHoldUpTheScheduler) {
    FakeNotificationService& fake = StartService();
    fake.answer = FakeNotificationService::Answer::Never;
    PrepareProject(true);
    auto window = OpenWindow();
    window->OnCommand(CommandId::MinimizeToTray);
    QSignalSpy trayMessages(&window->Tray(), &TrayPresence::MessageShown);

    window->OnSchedulerTick();
    ASSERT_TRUE(WaitForCalls(1));
    // The first notification still waits for its answer; the next minute runs
    // a backup all the same, and tells of it.
    window->OnSchedulerTick();

    EXPECT_TRUE(window->SchedulerTimer().isActive());
    EXPECT_FALSE(window->Run().running);
    ASSERT_TRUE(WaitForCalls(2));
    EXPECT_EQ(fake.calls[1].summary, Text(*window, TextId::NotifyFailuresSummary));
    // Still waiting: a call that had blocked would have ended in the fallback.
    EXPECT_TRUE(trayMessages.isEmpty());
}

}  // namespace
