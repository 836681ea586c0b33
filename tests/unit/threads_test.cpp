// The client's threads for real, beside the UI thread, for ThreadSanitizer: the check
// thread the dialog starts and polls, and report threads in flight together. The other
// suites run threads inside StartThread, where no two ever overlap.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "options/CmdLineInfo.h"
#include "fakes/FakeInternet.h"
#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "log/Log.h"
#include "ui/Dialog.h"
#include "update/QuickCheck.h"
#include "update/StatusReports.h"

using namespace brut;

namespace {

// A window that accepts everything and remembers nothing.
class QuietView : public DialogView {
public:
    void BuildForShowing() override {}
    int32_t WindowDpi() override { return 96; }
    int32_t SystemDpi() override { return 96; }
    void LayOut(int32_t) override {}
    void SetTitle(const std::u16string&) override {}
    void SetHeader(const std::u16string&, const std::u16string&) override {}
    void MoveTo(int32_t, int32_t) override {}
    void ShowOnTop() override {}
    void Hide() override {}
    bool ScreenPosition(int32_t& left, int32_t& top) override { return left = top = 0, true; }
    void SetProgress(int32_t) override {}
    void SetText(ControlId, const std::u16string&) override {}
    void Show(ControlId, bool) override {}
    void Enable(ControlId, bool) override {}
    bool IsShown(ControlId) override { return true; }
    bool IsEnabled(ControlId) override { return true; }
    void SetCheck(ControlId, bool) override {}
    bool IsChecked(ControlId) override { return false; }
    void SetFocus(ControlId) override {}
    void SetDefaultButton(ControlId) override {}
    void SetLinkTarget(const std::u16string&) override {}
    int AskYesNo(const std::u16string&, const std::u16string&) override { return plat::kIdNo; }
    uint32_t StartTimer(uint32_t id, uint32_t) override { return id; }
    void StopTimer(uint32_t) override {}
    void WakeTimer(uint32_t) override {}
    void PostClose() override {}
    void End(int32_t) override {}
};

// A dialog and its checker for one product, wired as start-up wires them.
struct Wired {
    explicit Wired(DialogView& view, bool silent = false) : dialog(view) {
        info->ProgramName = info->DisplayName = u"PhotoStudio";
        info->ProgramVersionNumber = u"21.0";
        cmd.mIsQuickCheck = 1;
        cmd.mIsUpdateCheckSilent = silent ? 1 : 0;
        check.SetProgramInfo(info);
        check.mCmdLineInfo = &cmd;
        dialog.mQuickCheck = &check;
        dialog.mCmdLineInfo = &cmd;
        dialog.SetProgramInfo(info);
    }
    std::shared_ptr<ProgramInfo> info = std::make_shared<ProgramInfo>();
    CmdLineInfo cmd;
    QuickCheck check;
    Dialog dialog;
};

std::string Envelope(const std::string& inner) {
    std::string escaped;
    for (char c : inner) escaped += c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return "<string xmlns=\"x\">" + escaped + "</string>";
}

// As start-up leaves the process before the dialog starts threads: the product record
// published, the log open.
class RealThreads : public ::testing::Test {
protected:
    RealThreads() {
        ProgramInfo record;
        record.ProgramName = record.DisplayName = u"PhotoStudio";
        record.ProgramVersionNumber = u"21.0";
        record.InstallLocation = u"C:\\PhotoStudio\\";
        record.ProgramLanguage = 1033;
        record.ProgramInstallDate = u"20261207";
        DiscoverProgramInfo(record);
        SetupLog(record.ProgramName);
        fp.system.realThreads = true;
    }
    ~RealThreads() override {
        fp.system.JoinThreads();
        ResetProgramInfoForTests();
    }
    fake::FakeInternet net;
    fake::FakePlatform fp{&net};
    fake::FreshLog freshLog{fp};
};

}  // namespace

TEST_F(RealThreads, CheckThreadBesideThePollingDialog) {
    struct Case {
        const char* what;
        uint32_t status;
        int32_t state;
        std::size_t requests;  // the check, and a report for a failure
    };
    const Case cases[] = {
        {"update offered", 200, UPDATE_AVAILABLE, 1},
        {"service failing: a report thread too", 500, SERVER_MAINTENANCE, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Exchange answer;
        answer.status = c.status;
        answer.body = Envelope("<R><MaxUpdateableProductVersionExistingOnServer>21.1</MaxUpdateableProductVersionExistingOnServer></R>");
        net.fallback = answer;
        net.requests.clear();
        QuietView view;
        Wired wired(view);
        Dialog& dialog = wired.dialog;

        dialog.OnInitDialog();
        // The UI thread goes on logging and polling while the check runs.
        for (int tick = 0; dialog.WorkThreadRunning(); ++tick) {
            LogInfo(u"UI tick %d", tick);
            dialog.OnTimer(kPollTimerId);
            std::this_thread::yield();
        }
        WaitForReports(kReportGraceMs);
        fp.system.JoinThreads();
        EXPECT_EQ(dialog.mDialogState, c.state);
        EXPECT_EQ(net.requests.size(), c.requests);
    }
}

// The check thread stores its result and the flag, then wakes the poll through the view; a
// poll in between takes the result and ends the dialog, whose runner deletes it when it
// may. Here the wake is slow: the dialog must not be deletable while the thread is in it.
TEST_F(RealThreads, TheDialogOutlivesItsThreadsLastTouch) {
    struct SlowWakeView : QuietView {
        void WakeTimer(uint32_t) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            returned.store(true);
        }
        std::atomic<bool> returned{false};
    };
    fake::Exchange answer;
    answer.body = Envelope("<R></R>");
    net.fallback = answer;
    SlowWakeView view;
    Wired wired(view, true);
    Dialog& dialog = wired.dialog;

    dialog.OnInitDialog();
    while (!dialog.mIsWorkDone.load()) std::this_thread::yield();
    dialog.OnTimer(kPollTimerId);
    EXPECT_TRUE(dialog.Ended());
    EXPECT_TRUE(dialog.MayBeDeleted());
    EXPECT_TRUE(view.returned.load()) << "deletable while the thread was still inside the view";
    fp.system.JoinThreads();
}

TEST_F(RealThreads, ReportsInFlightTogether) {
    ProgramInfo product;
    product.ProgramName = u"PhotoStudio";
    product.ProgramVersionNumber = u"21.0";
    StartUpdateStatusReport(-1, 0);
    StartUpgradeOfferStatusReport(2, product, 22);
    StartUpdateStatusReport(5, 0);
    LogInfo(u"UI goes on");
    WaitForReports(kReportGraceMs);
    fp.system.JoinThreads();
    EXPECT_EQ(net.requests.size(), 3u);
    EXPECT_EQ(fp.system.threadsStarted, 3);
}
