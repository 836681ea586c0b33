#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <vector>

#include "options/CmdLineInfo.h"
#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "net/Download.h"
#include "system/Settings.h"
#include "ui/Dialog.h"
#include "text/Texts.h"
#include "update/UpdaterBase.h"
#include "util/Text.h"

using namespace brut;

namespace {

constexpr int kNone = -100;  // no end code

// The window as the dialog leaves it; controls start as the template has them.
class RecordingView : public DialogView {
public:
    struct Control { std::u16string text; bool shown = false, enabled = true, checked = false; };
    RecordingView() {
        for (ControlId c : {LBL_MESSAGE_TEXT, UPDATE_NOW_BUTTON, CONTINUE_BUTTON, CLOSE_BUTTON}) controls[c].shown = true;
        controls[UPDATE_NOW_BUTTON].enabled = false;
        controls[CONTINUE_BUTTON].enabled = false;
        for (ControlId c : {PROGRESS_BAR, LBL_SERVER_VERSION_TEXT, LBL_SERVER_VERSION, linkMajorUpgradePopup,
                            radInstallNowMajorUpgradePopup, radRemindMeLaterMajorUpgradePopup,
                            radDontShowAgainMajorUpgradePopup})
            controls[c].shown = false;
    }
    void BuildForShowing() override { ++builds; }
    int32_t WindowDpi() override { return windowDpi; }
    int32_t SystemDpi() override { return systemDpi; }
    void LayOut(int32_t dpi) override { layouts.push_back(dpi); }
    void SetTitle(const std::u16string& t) override { title = t; }
    void SetHeader(const std::u16string& t, const std::u16string& v) override { headerTitle = t; headerVersion = v; }
    void MoveTo(int32_t x, int32_t y) override { moves.push_back({x, y}); }
    void ShowOnTop() override { ++shownOnTop; }
    void Hide() override { hidden = true; }
    bool ScreenPosition(int32_t& l, int32_t& t) override { l = screenX; t = screenY; return true; }
    void SetProgress(int32_t p) override { progress = p; }
    void SetText(ControlId c, const std::u16string& t) override { controls[c].text = t; }
    void Show(ControlId c, bool s) override {
        controls[c].shown = s;
        if (!s && focus == c) focus = NextFocusable(c);
    }
    void Enable(ControlId c, bool e) override {
        controls[c].enabled = e;
        if (!e && focus == c) focus = NextFocusable(c);
    }
    // As the window moves the focus off a control that goes: to the next one in the
    // template's tab order that can take it, or nowhere (0).
    int NextFocusable(ControlId from) {
        const ControlId order[] = {linkMajorUpgradePopup, radInstallNowMajorUpgradePopup,
                                   radRemindMeLaterMajorUpgradePopup, radDontShowAgainMajorUpgradePopup,
                                   UPDATE_NOW_BUTTON, CONTINUE_BUTTON, CLOSE_BUTTON};
        const std::size_t n = std::size(order);
        std::size_t at = 0;
        while (at < n && order[at] != from) ++at;
        for (std::size_t i = 1; i < n; ++i) {
            const ControlId c = order[(at + i) % n];
            if (controls[c].shown && controls[c].enabled) return c;
        }
        return 0;
    }
    bool IsShown(ControlId c) override { return controls[c].shown; }
    bool IsEnabled(ControlId c) override { return controls[c].enabled; }
    void SetCheck(ControlId c, bool k) override { controls[c].checked = k; }
    bool IsChecked(ControlId c) override { return controls[c].checked; }
    void SetFocus(ControlId c) override { focus = c; }
    void SetDefaultButton(ControlId c) override { defaultButton = c; }
    void SetLinkTarget(const std::u16string& t) override { linkTargets.push_back(t); }
    int AskYesNo(const std::u16string& text, const std::u16string& caption) override {
        questions.push_back(caption + u" | " + text);
        return answer;
    }
    uint32_t StartTimer(uint32_t id, uint32_t ms) override { timers.push_back(ms); return id; }
    void StopTimer(uint32_t id) override { stopped.push_back(id); }
    void WakeTimer(uint32_t id) override { wakes += id == kPollTimerId; }
    void PostClose() override { ++closeRequests; }
    void End(int32_t code) override { ends.push_back(code); }

    std::map<int32_t, Control> controls;
    std::u16string title, headerTitle, headerVersion;
    std::vector<std::pair<int32_t, int32_t>> moves;
    std::vector<std::u16string> questions, linkTargets;
    std::vector<uint32_t> timers, stopped;
    std::vector<int32_t> ends;
    int answer = plat::kIdYes;
    int closeRequests = 0, shownOnTop = 0, focus = 0, defaultButton = -1;
    int32_t progress = -1;
    int wakes = 0;
    bool hidden = false;
    int builds = 0;
    int32_t windowDpi = 96, systemDpi = 96, screenX = 12, screenY = 34;
    std::vector<int32_t> layouts;
};

// Answers the check with a set pair; the hand-off always comes back (the worker never takes over).
class FakeChecker : public UpdaterBase {
public:
    ResultPair CheckForUpdate() override { ++checks; return check; }
    ResultPair StartWorker(DownloadCallback* progress) override {
        ++handOffs;
        // What the worker download reports reaches the dialog's progress bar.
        if (progress) progress->OnProgress(30, 120, 5, u"");
        return handOff;
    }
    ResultPair check{1, 0}, handOff{14, 0};
    int checks = 0, handOffs = 0;
};

class RecordingReports : public DialogReports {
public:
    void UpdateStatus(int32_t status, int32_t id) override { sent.push_back(Format(u"status %d id %d", status, id)); }
    void UpgradeOfferStatus(int32_t status, const ProgramInfo& info, int32_t major) override {
        sent.push_back(Format(u"offer %d %s %s major %d", status, info.ProgramName, info.ProgramVersionNumber, major));
    }
    std::vector<std::u16string> sent;
};

enum Flags : unsigned {
    QC = 1, UCS = 2, US = 4, HIDE = 8, RASU = 16, V1 = 32, STUB = 64,
};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        info.ProgramName = u"Sample";
        info.DisplayName = u"Sample";
        info.EditionDisplayName = u"Sample Pro";
        info.ProgramVersionNumber = u"5.1.0";
        info.ProgramLanguage = 1033;
        checker.mCmdLineInfo = &cmd;
        checker.mReply.mOfferedVersion = u"5.2.0";
        checker.mReply.mOfferedMajorVersion = 6;
        DialogVisible.store(0);
    }
    void TearDown() override { DialogVisible.store(0); }

    Dialog& Make(unsigned flags) {
        cmd.mIsQuickCheck = (flags & QC) != 0;
        cmd.mIsUpdateCheckSilent = (flags & UCS) != 0;
        cmd.mIsUpdateSilent = (flags & US) != 0;
        cmd.mIsHideUpdateCheckResult = (flags & HIDE) != 0;
        cmd.mIsRestartAfterSelfUpdate = (flags & RASU) != 0;
        cmd.mIsUpdateFromVersionV1 = (flags & V1) != 0;
        info.IsStubExe = (flags & STUB) != 0;
        dialog = std::make_unique<Dialog>(view);
        dialog->mCmdLineInfo = &cmd;
        dialog->mQuickCheck = &checker;
        dialog->SetProgramInfo(std::make_shared<const ProgramInfo>(info));
        dialog->SetReports(&reports);
        return *dialog;
    }
    // Opens the dialog and lets the poll timer see each thread end, as the message loop would.
    Dialog& Run(unsigned flags) {
        Dialog& d = Make(flags);
        d.OnInitDialog();
        for (int i = 0; i < 5 && d.WorkThreadRunning() && !d.Ended(); ++i) d.OnTimer(kPollTimerId);
        return d;
    }
    // Delivers the close requests the dialog posted.
    void Pump() {
        while (view.closeRequests > 0) {
            --view.closeRequests;
            dialog->OnClose();
        }
    }
    int EndCode() const { return view.ends.empty() ? kNone : view.ends.front(); }
    std::u16string Shown(ControlId c) { return view.controls[c].shown ? view.controls[c].text : u"(hidden)"; }
    bool Log(const std::u16string& line) { return fake::LogHasLine(fp, line); }

    fake::FakePlatform fp;
    fake::FreshLog log{fp};
    ProgramInfo info;
    CmdLineInfo cmd;
    FakeChecker checker;
    RecordingView view;
    RecordingReports reports;
    std::unique_ptr<Dialog> dialog;
};

using Sent = std::vector<std::u16string>;

}  // namespace

// ------------------------------------------------------------------ results x flags

TEST_F(DialogTest, CheckResultsAndFlagsDecideStateEndCodeAndReports) {
    struct Case {
        int32_t result;
        unsigned flags;
        const char16_t* ignoredVersion;  // nullptr: not stored
        int32_t ignoredMajor;            // -1: not stored
        int32_t state;
        int end;
        Sent reports;
        int handOffs;
        const char16_t* line;  // a line the log must hold
    };
    const Sent kInstalled = {u"status -1 id 7", u"status 1 id 0"};
    const Sent kRemind = {u"offer 3 Sample 5.1.0 major 6"};
    const Case cases[] = {
        {0, QC, nullptr, -1, CHECK_SERVER, 0, {}, 0, nullptr},
        {1, QC, nullptr, -1, UP_TO_DATE, kNone, {}, 0, nullptr},
        {1, QC | UCS, nullptr, -1, UP_TO_DATE, 0, {}, 0, nullptr},
        {1, QC | HIDE, nullptr, -1, UP_TO_DATE, 0, {}, 0, nullptr},
        {1, QC | US, nullptr, -1, UP_TO_DATE, 0, {}, 0, nullptr},
        {1, QC | RASU, nullptr, -1, UPDATE_SUCCESSFUL, kNone, {}, 0, u"INF Update successful!"},
        // Hidden with nothing left to wait for: ends as its close button would.
        {1, QC | RASU | UCS, nullptr, -1, UPDATE_SUCCESSFUL, 8, {}, 0, nullptr},
        {3, QC, nullptr, -1, UPDATE_AVAILABLE, kNone, {}, 0, nullptr},
        {3, QC, u"5.2.0", -1, UPDATE_AVAILABLE, kNone, {}, 0, nullptr},
        {3, QC | UCS, nullptr, -1, CHECK_SERVER, 2, {}, 0, nullptr},
        {3, QC | UCS, u"5.2.0", -1, CHECK_SERVER, 0, {}, 0, u"INF ignore Version 5.2.0"},
        {3, QC | UCS, u"5.2", -1, CHECK_SERVER, 2, {}, 0, nullptr},
        {3, QC | HIDE, nullptr, -1, CHECK_SERVER, 2, {}, 0, nullptr},
        {3, QC | US, nullptr, -1, UPDATE_FAILED, 9, kInstalled, 1, u"ERR Update failed!"},
        {3, QC | RASU, nullptr, -1, UPDATE_FAILED, kNone, kInstalled, 1, nullptr},
        {3, QC | V1, nullptr, -1, UPDATE_FAILED, kNone, kInstalled, 1, nullptr},
        {4, QC | UCS, nullptr, -1, CHECK_SERVER, 6, {}, 0, nullptr},
        {4, QC | UCS, nullptr, 6, CHECK_SERVER, 2, {}, 0, nullptr},
        {4, QC | UCS, u"5.2.0", -1, CHECK_SERVER, 4, {}, 0, nullptr},
        {4, QC | UCS, u"5.2.0", 6, CHECK_SERVER, 0, {}, 0, nullptr},
        {4, QC | UCS, nullptr, 7, CHECK_SERVER, 6, {}, 0, nullptr},
        {16, QC | UCS, nullptr, -1, CHECK_SERVER, 4, {}, 0, nullptr},
        {16, QC | UCS, nullptr, 6, CHECK_SERVER, 0, {}, 0, nullptr},
        {4, QC, nullptr, -1, UPGRADE_OFFER, kNone, {}, 0, nullptr},
        {16, QC, nullptr, -1, UPGRADE_OFFER, kNone, {}, 0, nullptr},
        // Answered at once with "remind me later", then the flow of the result.
        {4, QC | HIDE, nullptr, -1, UPGRADE_OFFER, 2, kRemind, 0, nullptr},
        {16, QC | HIDE, nullptr, -1, UP_TO_DATE, 0, kRemind, 0, nullptr},
        {4, QC, nullptr, 6, UPDATE_AVAILABLE, kNone, kRemind, 0, u"INF ignore Upgrade 6"},
        {16, QC, nullptr, 6, UP_TO_DATE, kNone, kRemind, 0, u"INF ignore Upgrade 6"},
        {4, QC | V1, nullptr, -1, UPDATE_FAILED, kNone,
         {u"offer 3 Sample 5.1.0 major 6", u"status -1 id 7", u"status 1 id 0"}, 1,
         u"INF mIsUpdateFromVersionV1 == TRUE"},
        {4, QC | US, nullptr, -1, UPDATE_FAILED, 9,
         {u"offer 3 Sample 5.1.0 major 6", u"status -1 id 7", u"status 1 id 0"}, 1, nullptr},
        // Worker mode: the hand-off starts at once; coming back means the worker did not take over.
        {5, 0, nullptr, -1, PLEASE_CONTACT_SUPPORT, kNone, {}, 1, u"INF Dialog::OnTimer: PLEASE_CONTACT_SUPPORT"},
        {6, US, nullptr, -1, PLEASE_CONTACT_SUPPORT, 1, {}, 1, u"ERR Dialog::SetDialogState: PLEASE_CONTACT_SUPPORT"},
        {6, UCS, nullptr, -1, PLEASE_CONTACT_SUPPORT, 1, {}, 1, nullptr},
        {7, 0, nullptr, -1, SERVER_ERROR_OCCURRED, kNone, {u"status 7 id 7"}, 0,
         u"ERR Dialog::SetDialogState: SERVER_ERROR_OCCURRED"},
        {12, QC | UCS, nullptr, -1, SERVER_ERROR_OCCURRED, 1, {u"status 7 id 7"}, 0, nullptr},
        {9, QC, nullptr, -1, SERVER_MAINTENANCE, kNone, {u"status 5 id 0"}, 0, nullptr},
        {9, QC | US, nullptr, -1, SERVER_MAINTENANCE, 1, {u"status 5 id 0"}, 0, nullptr},
        {10, QC, nullptr, -1, CONNECTION_FAILED, kNone, {u"status 4 id 7"}, 0, nullptr},
        {10, QC | UCS, nullptr, -1, CONNECTION_FAILED, 1, {u"status 4 id 7"}, 0, nullptr},
        {11, QC, nullptr, -1, CLIENT_CANNOT_BUILD_REQUEST, kNone, {u"status 6 id 7"}, 0,
         u"ERR Dialog::SetDialogState: CLIENT_CANNOT_BUILD_REQUEST"},
        {2, QC, nullptr, -1, PLEASE_CONTACT_SUPPORT, kNone, {u"status 3 id 7"}, 0,
         u"ERR Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (2)"},
        {14, QC | US, nullptr, -1, PLEASE_CONTACT_SUPPORT, 1, {u"status 3 id 7"}, 0, nullptr},
        {-1, QC | UCS, nullptr, -1, PLEASE_CONTACT_SUPPORT, 1, {u"status 3 id 7"}, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "result " << c.result << " flags " << c.flags << " row line "
                                        << (c.line ? ToUtf8(c.line) : ""));
        fake::ClearLog(fp);
        fp.registry = fake::FakeRegistry();
        if (c.ignoredVersion) WriteIgnoredVersion(info, c.ignoredVersion);
        if (c.ignoredMajor >= 0) WriteIgnoredMajorVersion(info, c.ignoredMajor);
        view = RecordingView();
        reports.sent.clear();
        checker = FakeChecker();
        checker.mReply.mOfferedVersion = u"5.2.0";
        checker.mReply.mOfferedMajorVersion = 6;
        checker.check = {c.result, 7};

        Dialog& d = Run(c.flags);
        EXPECT_EQ(d.mDialogState, c.state);
        EXPECT_EQ(EndCode(), c.end);
        EXPECT_LE(view.ends.size(), 1u);
        EXPECT_EQ(reports.sent, c.reports);
        EXPECT_EQ(checker.handOffs, c.handOffs);
        const std::vector<uint32_t> polls = c.handOffs ? std::vector<uint32_t>{1000, 100} : std::vector<uint32_t>{1000};
        EXPECT_EQ(view.timers, polls);
        if (c.line) {
            EXPECT_TRUE(Log(c.line)) << ToUtf8(c.line);
        }
        // Nothing but the user's "do not show again" ever writes the ignore values.
        EXPECT_EQ(ReadIgnoredMajorVersion(info), c.ignoredMajor);
        EXPECT_EQ(ReadIgnoredVersion(info), c.ignoredVersion ? c.ignoredVersion : u"-1");
    }
}

TEST_F(DialogTest, SilentRunsStayHiddenAndShowNoBanner) {
    static int banners;
    banners = 0;
    InstallShowBanner([](Dialog&) { ++banners; });
    struct Case { unsigned flags; int32_t visible; };
    for (const Case& c : {Case{QC, 1}, Case{QC | UCS, 0}, Case{US, 0}, Case{QC | HIDE, 1}}) {
        banners = 0;
        checker.check = {16, 0};
        Dialog& d = Make(c.flags);
        d.OnInitDialog();
        EXPECT_EQ(DialogVisible.load(), c.visible) << c.flags;
        EXPECT_EQ(d.MayShowWindow(), c.visible == 1);
        EXPECT_EQ(banners, c.visible);
        dialog.reset();
    }
    InstallShowBanner(nullptr);
}

// A hidden dialog builds no band, fonts or link until it may show; showing builds them
// once, laid out at the window's scale, and a monitor of another scale lays them out again.
TEST_F(DialogTest, WhatOnlyAVisibleWindowNeedsIsBuiltOnceWhenItMayShow) {
    struct Case { unsigned flags; int32_t dpi; int builds; std::vector<int32_t> layouts; };
    const Case cases[] = {
        {QC | UCS, 96, 0, {}}, {US, 96, 0, {}}, {QC, 96, 1, {96}}, {QC, 144, 1, {144}},
        {QC, 0, 1, {96}},  // a scale no display claims: the design's own, logged
    };
    for (const auto& c : cases) {
        view = RecordingView();
        view.windowDpi = c.dpi;
        checker.check = {3, 0};
        Dialog& d = Run(c.flags);
        d.OnDpiChanged(192);
        EXPECT_EQ(view.builds, c.builds) << c.flags;
        std::vector<int32_t> layouts = c.layouts;
        if (c.builds) layouts.push_back(192);
        EXPECT_EQ(view.layouts, layouts) << c.flags;
        EXPECT_EQ(Log(u"WAR Dialog: display scale of 0 DPI refused, 96 DPI taken"), c.dpi == 0);
        dialog.reset();
    }
    // Shown after all (a stub restart that failed): built then, once.
    view = RecordingView();
    checker.check = {4, 0};
    fp.processes.startError = 2;
    Dialog& d = Run(QC | UCS);
    EXPECT_EQ(view.builds, 0);
    d.OnBnClickedUpgradeChoice();
    view.controls[radInstallNowMajorUpgradePopup].checked = true;
    d.OnBnClickedContinueButton();
    EXPECT_EQ(view.shownOnTop, 1);
    EXPECT_EQ(view.builds, 1);
}

// ------------------------------------------------------------------ what each state shows

TEST_F(DialogTest, EachStateShowsItsTextsAndButtons) {
    struct Case {
        int32_t state;
        const char16_t* message;
        const char16_t* close;     // (hidden) when not shown
        const char16_t* install;   // UPDATE_NOW_BUTTON, (hidden) when not shown
        bool installEnabled;
        const char16_t* version;   // LBL_SERVER_VERSION
        bool progress;
    };
    const std::u16string kSupport = u"Brindle Uptide has encountered an error. Please contact the support.";
    const Case cases[] = {
        {CHECK_SERVER, u"Connecting to server... ", u"Not now", u"Install", false, u"(hidden)", false},
        {PREPARE_UPDATE_CHECK, u"Prepare update check ...", u"Abort", u"Install", false, u"(hidden)", false},
        {UPGRADE_OFFER,
         u"An upgrade for your product is available which may attract a fee. Would you like to install now?",
         u"(hidden)", u"(hidden)", false, u"Sample Pro - version 6", false},
        {UPDATE_AVAILABLE,
         u"A more up-to-date program version is available. Would you like to install it now?\n"
         u"Please close all programs before starting the installation!",
         u"Not now", u"Install", true, u"5.2.0", false},
        {UP_TO_DATE, u"You already have the most recent version.", u"Close", u"(hidden)", false, u"(hidden)", false},
        {UPDATE_IN_PROGRESS, u"Update in progress...", u"Abort", u"(hidden)", false, u"(hidden)", true},
        {UPDATE_SUCCESSFUL, u"Update installed successfully!", u"Close", u"Install", false, u"(hidden)", false},
        {UPDATE_FAILED, u"Update has failed to complete!", u"Close", u"Install", false, u"(hidden)", false},
        {CONNECTION_FAILED, u"Connection to server failed. Please check your internet connection.", u"Close",
         u"Install", false, u"(hidden)", false},
        {SERVER_MAINTENANCE, u"Server is temporarily unavailable during maintenance.", u"Close", u"Install", false,
         u"(hidden)", false},
        {CLIENT_CANNOT_BUILD_REQUEST, kSupport.c_str(), u"Close", u"Install", false, u"(hidden)", false},
        {SERVER_ERROR_OCCURRED, kSupport.c_str(), u"Close", u"Install", false, u"(hidden)", false},
        {PLEASE_CONTACT_SUPPORT, kSupport.c_str(), u"Close", u"Install", false, u"(hidden)", false},
        {20, kSupport.c_str(), u"Close", u"Install", false, u"(hidden)", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        view = RecordingView();
        checker.check = {1, 0};
        Dialog& d = Make(QC);
        d.OnInitDialog();  // CHECK_SERVER, the check still to be polled
        d.SetDialogState(c.state);
        EXPECT_EQ(d.mDialogState, c.state);
        EXPECT_EQ(Shown(LBL_MESSAGE_TEXT), c.message);
        EXPECT_EQ(Shown(CLOSE_BUTTON), c.close);
        EXPECT_EQ(Shown(UPDATE_NOW_BUTTON), c.install);
        EXPECT_EQ(view.controls[UPDATE_NOW_BUTTON].enabled, c.installEnabled);
        EXPECT_EQ(Shown(LBL_SERVER_VERSION), c.version);
        EXPECT_EQ(view.controls[LBL_SERVER_VERSION_TEXT].shown, view.controls[LBL_SERVER_VERSION].shown);
        EXPECT_EQ(view.controls[PROGRESS_BAR].shown, c.progress);
        // The offer's group and the close button share one place: exactly one of them shows.
        const bool offer = c.state == UPGRADE_OFFER;
        EXPECT_EQ(view.controls[CONTINUE_BUTTON].shown, offer);
        EXPECT_EQ(view.controls[CLOSE_BUTTON].shown, !offer);
        for (ControlId r : {radInstallNowMajorUpgradePopup, radRemindMeLaterMajorUpgradePopup,
                            radDontShowAgainMajorUpgradePopup, linkMajorUpgradePopup})
            EXPECT_EQ(view.controls[r].shown, offer);
        EXPECT_FALSE(view.controls[CONTINUE_BUTTON].enabled);
        // Enter never lands on a hidden or disabled button.
        if (view.defaultButton > 0) {
            EXPECT_TRUE(view.controls[view.defaultButton].shown && view.controls[view.defaultButton].enabled);
        } else {
            EXPECT_TRUE(offer);
        }
        dialog.reset();
    }
    EXPECT_TRUE(Log(u"ERR Dialog::SetDialogState: Wrong mDialogState! (20)"));
}

TEST_F(DialogTest, OfferFocusesFirstChoiceWithNothingChecked) {
    checker.check = {4, 0};
    Dialog& d = Run(QC);
    ASSERT_EQ(d.mDialogState, UPGRADE_OFFER);
    EXPECT_EQ(view.focus, radInstallNowMajorUpgradePopup);
    EXPECT_EQ(view.linkTargets, std::vector<std::u16string>{u""});
    for (ControlId r : {radInstallNowMajorUpgradePopup, radRemindMeLaterMajorUpgradePopup,
                        radDontShowAgainMajorUpgradePopup})
        EXPECT_FALSE(view.controls[r].checked);
}

TEST_F(DialogTest, TitleAndHeader) {
    struct Case { unsigned flags; int32_t language; std::u16string caption, version, title, header; };
    const std::u16string c255(255, u'c'), c259(259, u'c'), c260(260, u'c'), c300(300, u'c');
    const Case cases[] = {
        {QC, 1033, u"", u"9.0.8", u"Brindle Uptide 9.0.8", u"Version 9.0 Build 8"},
        {QC, 1041, u"", u"10.2.3.4", u"自動更新プログラム 9.0.8", u"Version 10.2 Build 3.4"},
        {QC, 1031, u"Grüße & Co", u"5.1", u"Grüße & Co 9.0.8", u"Version 5.1 Build "},
        {QC, 1033, u"", u"abc", u"Brindle Uptide 9.0.8", u"Version . Build "},
        {QC | STUB, 1033, u"Ignored", u"9.0.8", u"Sample Pro", u"Version 9"},
        {QC | STUB, 1033, u"", u"23", u"Sample Pro", u"Version "},
        // 260 code units at most: each appended piece is cut to fit.
        {QC, 1033, c255, u"1.0.0", c255 + u" 9.0.", u"Version 1.0 Build 0"},
        {QC, 1033, c259, u"1.0.0", c259 + u" ", u"Version 1.0 Build 0"},
        {QC, 1033, c260, u"1.0.0", c260, u"Version 1.0 Build 0"},
        {QC, 1033, c300, u"1.0.0", c260, u"Version 1.0 Build 0"},
    };
    for (const auto& c : cases) {
        info.ProgramLanguage = c.language;
        info.ProgramVersionNumber = c.version;
        cmd.mWindowCaption = c.caption;
        view = RecordingView();
        Make(c.flags).OnInitDialog();
        EXPECT_EQ(view.title, c.title);
        EXPECT_EQ(view.title.size(), c.title.size());
        EXPECT_EQ(view.headerTitle, u"Sample Pro");
        EXPECT_EQ(view.headerVersion, c.header);
        dialog.reset();
    }
}

TEST_F(DialogTest, OutcomeHeadersNameTheInstalledVersion) {
    info.ProgramVersionNumber = u"5.1.0.7";
    for (unsigned flags : {unsigned{QC}, unsigned{QC | STUB}}) {
        Dialog& d = Make(flags);
        d.OnInitDialog();
        for (int32_t state : {UPDATE_SUCCESSFUL, UPDATE_FAILED}) {
            view.headerVersion.clear();
            d.SetDialogState(state);
            EXPECT_EQ(view.headerTitle, u"Sample Pro");
            EXPECT_EQ(view.headerVersion, u"Version 5.1 Build 0.7");
        }
    }
}

TEST_F(DialogTest, ErrorTextTakesTheCaptionAndShowsAmpersands) {
    struct Case { int32_t language; const char16_t* caption; const char16_t* shown; };
    const Case cases[] = {
        {1033, u"", u"Brindle Uptide has encountered an error. Please contact the support."},
        {1033, u"Foo & Bar", u"Foo && Bar has encountered an error. Please contact the support."},
        {1031, u"Foo", u"Foo hat einen Fehler festgestellt, bitte kontaktieren Sie unseren Kundenservice."},
        {1041, u"Foo", u"Fooにエラーが発生しました。サポートまでお問い合わせください。"},
    };
    for (const auto& c : cases) {
        info.ProgramLanguage = c.language;
        cmd.mWindowCaption = c.caption;
        checker.check = {12, 0};
        Run(QC);
        EXPECT_EQ(view.controls[LBL_MESSAGE_TEXT].text, c.shown);
        dialog.reset();
    }
    // The offer's version line and the offered version come through with their ampersands.
    info.ProgramLanguage = 1033;
    info.EditionDisplayName = u"A&B";
    checker.mReply.mOfferedVersion = u"5&2";
    checker.check = {4, 0};
    Run(QC);
    EXPECT_EQ(view.controls[LBL_SERVER_VERSION].text, u"A&&B - version 6");
    checker.check = {3, 0};
    Run(QC);
    EXPECT_EQ(view.controls[LBL_SERVER_VERSION].text, u"5&&2");
}

// ------------------------------------------------------------------ buttons in every state

TEST_F(DialogTest, NowAndCloseButtonsInEveryState) {
    struct Case {
        int32_t state;
        int32_t result;
        int nowEnd; bool nowCloses; int nowHandOff; int32_t nowState;
        int closeEnd; bool closeCloses;
    };
    const Case cases[] = {
        {CHECK_SERVER, 1, kNone, true, 0, CHECK_SERVER, kNone, true},
        {PREPARE_UPDATE_CHECK, 5, kNone, false, 1, PREPARE_UPDATE_CHECK, kNone, true},
        {UPGRADE_OFFER, 4, kNone, false, 0, PLEASE_CONTACT_SUPPORT, 4, false},
        {UPDATE_AVAILABLE, 3, kNone, false, 1, UPDATE_IN_PROGRESS, kNone, true},
        {UP_TO_DATE, 1, 0, false, 0, UP_TO_DATE, 0, false},
        {UP_TO_DATE, 16, 0, false, 0, UP_TO_DATE, 4, false},
        {UPDATE_IN_PROGRESS, 3, kNone, true, 0, UPDATE_IN_PROGRESS, kNone, true},
        {UPDATE_SUCCESSFUL, 1, 8, false, 0, UPDATE_SUCCESSFUL, 8, false},
        {UPDATE_FAILED, 14, 9, false, 0, UPDATE_FAILED, 9, false},
        {CLIENT_CANNOT_BUILD_REQUEST, 11, kNone, false, 0, PLEASE_CONTACT_SUPPORT, 1, false},
        {CONNECTION_FAILED, 10, 1, false, 0, CONNECTION_FAILED, 1, false},
        {SERVER_MAINTENANCE, 9, 1, false, 0, SERVER_MAINTENANCE, 1, false},
        {SERVER_ERROR_OCCURRED, 7, kNone, false, 0, PLEASE_CONTACT_SUPPORT, 1, false},
        {PLEASE_CONTACT_SUPPORT, 2, 1, false, 0, PLEASE_CONTACT_SUPPORT, 1, false},
        {0, 1, kNone, false, 0, PLEASE_CONTACT_SUPPORT, kNone, false},
        {20, 1, kNone, false, 0, PLEASE_CONTACT_SUPPORT, kNone, false},
    };
    for (const auto& c : cases) {
        for (bool now : {true, false}) {
            SCOPED_TRACE(testing::Message() << "state " << c.state << " result " << c.result << (now ? " now" : " close"));
            fake::ClearLog(fp);
            fp.registry = fake::FakeRegistry();
            view = RecordingView();
            checker = FakeChecker();
            checker.check = {0, 0};
            Dialog& d = Make(QC);
            d.mUpdateResult = c.result;
            d.mDialogState = c.state;
            if (now) {
                d.OnBtnClickedNowButton();
                EXPECT_EQ(EndCode(), c.nowEnd);
                EXPECT_EQ(view.closeRequests, c.nowCloses ? 1 : 0);
                EXPECT_EQ(checker.handOffs, c.nowHandOff);
                EXPECT_EQ(d.mDialogState, c.nowState);
                if (c.nowHandOff) {
                    EXPECT_EQ(view.timers, std::vector<uint32_t>{100});
                }
                if (c.nowState == PLEASE_CONTACT_SUPPORT && c.nowEnd == kNone) {
                    EXPECT_TRUE(Log(Format(u"ERR Dialog::OnBtnClickedNowButton: Wrong mUpdateResult! (%d)", c.result)));
                }
            } else {
                d.OnBnClickedCloseButton();
                EXPECT_EQ(EndCode(), c.closeEnd);
                EXPECT_EQ(view.closeRequests, c.closeCloses ? 1 : 0);
                EXPECT_EQ(d.mDialogState, c.state);
                // Declining an offered update forgets any ignored version.
                EXPECT_EQ(ReadIgnoredVersion(info), c.state == UPDATE_AVAILABLE ? u"" : u"-1");
                if (c.closeEnd == kNone && !c.closeCloses) {
                    EXPECT_TRUE(Log(Format(u"ERR Dialog::OnBnClickedCloseButton: Wrong mDialogState! (%d)", c.state)));
                }
            }
            dialog.reset();
        }
    }
}

TEST_F(DialogTest, CloseRequestAsksInBusyStates) {
    struct Case { int32_t state; unsigned flags; int answer; bool asks; int end; };
    const Case cases[] = {
        {0, QC, plat::kIdYes, true, 1},
        {CHECK_SERVER, QC, plat::kIdYes, true, 1},
        {CHECK_SERVER, QC, plat::kIdNo, true, kNone},
        {PREPARE_UPDATE_CHECK, 0, plat::kIdYes, true, 1},
        {UPDATE_AVAILABLE, QC, plat::kIdYes, true, 2},
        {UPDATE_AVAILABLE, QC, plat::kIdCancel, true, kNone},
        {UPDATE_IN_PROGRESS, QC, plat::kIdYes, true, 9},
        {UPDATE_IN_PROGRESS, QC, plat::kIdNo, true, kNone},
        {UPGRADE_OFFER, QC, plat::kIdNo, false, 1},
        {UP_TO_DATE, QC, plat::kIdNo, false, 1},
        {UPDATE_SUCCESSFUL, QC, plat::kIdNo, false, 1},
        {UPDATE_FAILED, QC, plat::kIdNo, false, 1},
        {CONNECTION_FAILED, QC, plat::kIdNo, false, 1},
        {PLEASE_CONTACT_SUPPORT, QC, plat::kIdNo, false, 1},
        {20, QC, plat::kIdNo, false, 1},
        // Nobody sees a hidden dialog's question: the request is taken as given.
        {UPDATE_IN_PROGRESS, QC | HIDE, plat::kIdNo, false, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << " answer " << c.answer);
        fake::ClearLog(fp);
        view = RecordingView();
        view.answer = c.answer;
        reports.sent.clear();
        fp.system.slept = 0;
        Dialog& d = Make(c.flags);
        DialogVisible.store(c.flags & HIDE ? 0 : 1);
        d.mDialogState = c.state;
        d.mUpdateId = 3;
        d.OnClose();
        EXPECT_EQ(view.questions.size(), c.asks ? 1u : 0u);
        EXPECT_EQ(EndCode(), c.end);
        const bool userEnded = c.state == UPDATE_IN_PROGRESS && c.end == 9;
        EXPECT_EQ(reports.sent, userEnded ? Sent{u"status 2 id 3"} : Sent{});
        EXPECT_EQ(Log(u"INF User end Update!"), userEnded);
        EXPECT_EQ(d.EndedByUser(), userEnded);  // the hand-off thread must not start the worker now
        EXPECT_EQ(fp.system.slept, userEnded ? 1000u : 0u);
        dialog.reset();
    }
}

TEST_F(DialogTest, CloseQuestionWording) {
    struct Case { unsigned flags; int32_t language; const char16_t* caption; const char16_t* question; };
    const Case cases[] = {
        {QC, 1033, u"", u"End Brindle Uptide | Do you really want to end Brindle Uptide?"},
        {QC, 1033, u"Foo & Co", u"End Foo & Co | Do you really want to end Foo & Co?"},
        {QC, 1031, u"Foo", u"Foo beenden | Wollen Sie Foo wirklich beenden?"},
        {QC, 1041, u"Foo", u"自動更新の終了 | Fooを終了してもよろしいですか？"},
        {QC | STUB, 1033, u"Foo", u"cancel installation | Are you sure you want to cancel the installation?"},
    };
    for (const auto& c : cases) {
        info.ProgramLanguage = c.language;
        cmd.mWindowCaption = c.caption;
        view = RecordingView();
        Dialog& d = Make(c.flags);
        DialogVisible.store(1);
        d.mDialogState = CHECK_SERVER;
        d.OnClose();
        EXPECT_EQ(view.questions, std::vector<std::u16string>{c.question});
        dialog.reset();
    }
}

TEST_F(DialogTest, NoOnTheQuestionKeepsTheCheckGoing) {
    checker.check = {3, 0};
    Dialog& d = Make(QC);
    d.OnInitDialog();
    view.answer = plat::kIdNo;
    d.OnClose();
    EXPECT_TRUE(view.ends.empty());
    d.OnTimer(kPollTimerId);
    EXPECT_EQ(d.mDialogState, UPDATE_AVAILABLE);
    // A result that arrives while the question is open is processed; a later Yes then ends by the new state.
    view.answer = plat::kIdYes;
    d.OnClose();
    EXPECT_EQ(EndCode(), 2);
}

TEST_F(DialogTest, ClicksOnHiddenOrDisabledButtonsAreIgnored) {
    checker.check = {3, 0};
    Dialog& d = Run(QC);
    // Continue is hidden, the radio buttons too.
    d.OnCommand(CONTINUE_BUTTON);
    d.OnCommand(radDontShowAgainMajorUpgradePopup);
    d.OnCommand(0);
    EXPECT_EQ(d.mDialogState, UPDATE_AVAILABLE);
    // Install twice: one hand-off.
    d.OnCommand(UPDATE_NOW_BUTTON);
    d.OnCommand(UPDATE_NOW_BUTTON);
    EXPECT_EQ(checker.handOffs, 1);
    EXPECT_EQ(view.closeRequests, 0);
    EXPECT_EQ(d.mDialogState, UPDATE_IN_PROGRESS);
    EXPECT_EQ(reports.sent, Sent{u"status -1 id 0"});
    // Abort during the hand-off asks, then ends with 9; a second close after the end does nothing.
    DialogVisible.store(1);
    d.OnCommand(CLOSE_BUTTON);
    Pump();
    d.OnClose();
    EXPECT_EQ(view.ends, std::vector<int32_t>{9});
    EXPECT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(reports.sent, (Sent{u"status -1 id 0", u"status 2 id 0"}));
}

TEST_F(DialogTest, EscapeIsSwallowed) {
    Dialog& d = Make(QC);
    struct Case { uint32_t message; uint64_t wParam; bool swallowed; };
    for (const Case& c : {Case{0x100, 27, true}, Case{0x101, 27, true}, Case{0x102, 27, true}, Case{0x104, 27, true},
                          Case{0x100, 13, false}, Case{0x100, 9, false}, Case{0x113, 27, false}})
        EXPECT_EQ(d.PreTranslateMessage(c.message, c.wParam), c.swallowed) << c.message << " " << c.wParam;
}

// ------------------------------------------------------------------ the upgrade offer

TEST_F(DialogTest, OfferChoicesAndContinue) {
    struct Case {
        int32_t result;
        ControlId choice;
        int32_t state;
        int32_t stored;   // IgnoreProductMajorVersionUpgrade afterwards
        Sent sent;
    };
    const Case cases[] = {
        {4, radDontShowAgainMajorUpgradePopup, UPDATE_AVAILABLE, 6, {u"offer 1 Sample 5.1.0 major 6"}},
        {16, radDontShowAgainMajorUpgradePopup, UP_TO_DATE, 6, {u"offer 1 Sample 5.1.0 major 6"}},
        {4, radRemindMeLaterMajorUpgradePopup, UPDATE_AVAILABLE, -1, {u"offer 3 Sample 5.1.0 major 6"}},
        {16, radRemindMeLaterMajorUpgradePopup, UP_TO_DATE, -1, {u"offer 3 Sample 5.1.0 major 6"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.choice);
        fp.registry = fake::FakeRegistry();
        view = RecordingView();
        reports.sent.clear();
        checker.check = {c.result, 0};
        Dialog& d = Run(QC);
        ASSERT_EQ(d.mDialogState, UPGRADE_OFFER);
        EXPECT_FALSE(view.controls[CONTINUE_BUTTON].enabled);
        d.OnCommand(CONTINUE_BUTTON);  // disabled: nothing
        EXPECT_TRUE(reports.sent.empty());
        d.OnBnClickedUpgradeChoice();  // nothing checked yet
        EXPECT_FALSE(view.controls[CONTINUE_BUTTON].enabled);
        view.controls[c.choice].checked = true;
        d.OnCommand(c.choice);
        EXPECT_TRUE(view.controls[CONTINUE_BUTTON].enabled);
        EXPECT_EQ(view.defaultButton, CONTINUE_BUTTON);
        view.focus = CONTINUE_BUTTON;  // reached by Tab, pressed by Space
        d.OnCommand(CONTINUE_BUTTON);
        EXPECT_EQ(d.mDialogState, c.state);
        // The focus went on to a control the user sees, not with Continue out of sight.
        ASSERT_NE(view.focus, 0);
        EXPECT_TRUE(view.controls[view.focus].shown && view.controls[view.focus].enabled) << view.focus;
        EXPECT_EQ(ReadIgnoredMajorVersion(info), c.stored);
        EXPECT_EQ(reports.sent, c.sent);
        EXPECT_TRUE(view.ends.empty());
        // The close button is back; after result 16 it ends with 4.
        EXPECT_TRUE(view.controls[CLOSE_BUTTON].shown);
        if (c.result == 16) {
            d.OnCommand(CLOSE_BUTTON);
            EXPECT_EQ(EndCode(), 4);
        }
        dialog.reset();
    }
}

TEST_F(DialogTest, UnexpectedResultsAndStatesAfterAThread) {
    struct Case { int32_t state; int32_t result; unsigned flags; int end; const char16_t* line; };
    const Case cases[] = {
        {UPGRADE_OFFER, 3, QC, kNone, u"ERR Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (3)"},
        {UPGRADE_OFFER, 1, QC | US, 5, u"ERR Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (1)"},
        {UPDATE_IN_PROGRESS, 1, QC, kNone, u"ERR Dialog::OnTimer::case UPDATE_IN_PROGRESS Wrong mUpdateResult! (1)"},
        {UPDATE_IN_PROGRESS, 0, QC | US, 9, u"ERR Dialog::OnTimer::case UPDATE_IN_PROGRESS Wrong mUpdateResult! (0)"},
        {UP_TO_DATE, 1, QC, kNone, u"ERR Dialog::OnTimer: Wrong mDialogState! (5)"},
        {20, 1, QC | US, 1, u"ERR Dialog::OnTimer: Wrong mDialogState! (20)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        fake::ClearLog(fp);
        view = RecordingView();
        reports.sent.clear();
        Dialog& d = Make(c.flags);
        DialogVisible.store(1);
        d.mDialogState = c.state;
        d.mUpdateResult = c.result;
        d.ProcessWorkResult();
        EXPECT_EQ(d.mDialogState, PLEASE_CONTACT_SUPPORT);
        EXPECT_EQ(reports.sent, Sent{u"status 3 id 0"});
        EXPECT_EQ(EndCode(), c.end);
        EXPECT_TRUE(Log(c.line));
        dialog.reset();
    }
}

// ------------------------------------------------------------------ threads, timer, window

TEST_F(DialogTest, ThreadThatCannotStart) {
    fp.system.threadStartFails = true;
    struct Case { unsigned flags; int end; };
    for (const Case& c : {Case{QC, kNone}, Case{QC | UCS, 1}}) {
        fake::ClearLog(fp);
        view = RecordingView();
        Dialog& d = Make(c.flags);
        EXPECT_EQ(d.OnInitDialog(), 1);
        EXPECT_TRUE(Log(u"ERR Can\u00b4t create update thread"));
        EXPECT_TRUE(view.timers.empty());
        EXPECT_FALSE(d.WorkThreadRunning());
        d.OnTimer(kPollTimerId);
        EXPECT_EQ(d.mDialogState, CHECK_SERVER);
        EXPECT_EQ(EndCode(), c.end);
        dialog.reset();
    }
    // The hand-off's thread from an offered update.
    fp.system.threadStartFails = false;
    checker.check = {3, 0};
    Dialog& d = Run(QC);
    fp.system.threadStartFails = true;
    d.OnBtnClickedNowButton();
    EXPECT_TRUE(Log(u"ERR Dialog::OnBtnClickedNowButton: Can\u00b4t create thread"));
    EXPECT_EQ(d.mDialogState, UPDATE_IN_PROGRESS);
    EXPECT_EQ(checker.handOffs, 0);
}

TEST_F(DialogTest, PollTimerWaitsForTheThread) {
    checker.check = {1, 0};
    Dialog& d = Make(QC);
    d.OnInitDialog();
    EXPECT_EQ(view.timers, std::vector<uint32_t>{kPollCheckMs});
    EXPECT_EQ(d.mTimerId, kPollTimerId);
    d.OnTimer(kPollTimerId);
    EXPECT_EQ(view.stopped, std::vector<uint32_t>{kPollTimerId});
    EXPECT_EQ(d.mDialogState, UP_TO_DATE);
    EXPECT_FALSE(d.WorkThreadRunning());
    // A thread that has stored its result wakes the timer; its result is taken
    // although its handle may still read as running.
    EXPECT_EQ(view.wakes, 1);
    view = RecordingView();
    fp.system.waitHandler = [](plat::ThreadHandle, uint32_t) { return plat::kWaitTimeout; };
    Dialog& r = Make(QC);
    r.OnInitDialog();
    EXPECT_EQ(view.wakes, 1);
    r.OnTimer(kPollTimerId);
    EXPECT_EQ(r.mDialogState, UP_TO_DATE);
    fp.system.waitHandler = nullptr;
    // A failed wait counts as ended.
    view = RecordingView();
    Dialog& e = Make(QC);
    e.OnInitDialog();
    e.mWorkThread = 0;  // the fake's wait fails on it
    e.OnTimer(kPollTimerId);
    EXPECT_EQ(e.mDialogState, UP_TO_DATE);
}

TEST_F(DialogTest, WindowRecPosition) {
    struct Case { const char16_t* rec; bool moves; int32_t x, y; };
    const Case cases[] = {
        {u"", false, 0, 0},
        {u"10 20", true, 10, 20},
        {u"-5\t7x", true, -5, 7},
        {u"  +3   4 9", true, 3, 4},
        {u"99999999999 -99999999999", true, 2147483647, -2147483647 - 1},
        {u"10", false, 0, 0},
        {u"10,20", false, 0, 0},
        {u"abc", false, 0, 0},
        {u"- 5 6", false, 0, 0},
    };
    for (const auto& c : cases) {
        cmd.mWindowRec = c.rec;
        view = RecordingView();
        Make(QC).OnInitDialog();
        if (c.moves) {
            EXPECT_EQ(view.moves, (std::vector<std::pair<int32_t, int32_t>>{{c.x, c.y}})) << ToUtf8(c.rec);
        } else {
            EXPECT_TRUE(view.moves.empty()) << ToUtf8(c.rec);
        }
        dialog.reset();
    }
}

// WindowRec is what programs that are not DPI-aware see: scaled by the system's DPI on the
// way in, and back on the way to the worker.
TEST_F(DialogTest, WindowRecKeepsItsMeaningOnScaledDisplays) {
    struct Case { int32_t dpi; const char16_t* rec; int32_t x, y; int32_t screenX, screenY; const char16_t* passed; };
    const Case cases[] = {
        {96, u"100 -200", 100, -200, 7, -9, u"7 -9"},
        {144, u"100 -200", 150, -300, 150, -301, u"100 -201"},  // halves away from zero
        {192, u"-1200 31", -2400, 62, -2401, 63, u"-1201 32"},
        {480, u"1000000000 0", 2147483647, 0, 5, 2, u"1 0"},
        {72, u"100 200", 100, 200, 100, 200, u"100 200"},  // refused: 96
    };
    for (const auto& c : cases) {
        view = RecordingView();
        view.systemDpi = c.dpi;
        view.screenX = c.screenX;
        view.screenY = c.screenY;
        cmd.mWindowRec = c.rec;
        Dialog& d = Make(QC);
        d.OnInitDialog();
        EXPECT_EQ(view.moves, (std::vector<std::pair<int32_t, int32_t>>{{c.x, c.y}})) << c.dpi;
        int32_t left = 0, top = 0;
        ASSERT_TRUE(d.ScreenPosition(left, top));
        EXPECT_EQ(Format(u"%d %d", left, top), c.passed) << c.dpi;
        dialog.reset();
    }
    EXPECT_TRUE(Log(u"WAR Dialog: system scale of 72 DPI refused, 96 DPI taken"));
}

TEST_F(DialogTest, HandOffWindowAndProgress) {
    Dialog& d = Make(QC);
    EXPECT_EQ(TheDialog.load(), &d);
    d.OnInitDialog();
    EXPECT_EQ(DialogVisible.load(), 1);
    d.HideForHandOff();
    EXPECT_EQ(DialogVisible.load(), 0);
    EXPECT_TRUE(view.hidden);
    int32_t left = 0, top = 0;
    EXPECT_TRUE(d.ScreenPosition(left, top));
    EXPECT_EQ(std::make_pair(left, top), std::make_pair(12, 34));
    d.SetProgress(50, 200);
    EXPECT_EQ(view.progress, 25);
    d.SetProgress(5, 0);
    EXPECT_EQ(view.progress, 0);
    dialog.reset();
    EXPECT_EQ(TheDialog.load(), nullptr);
}

TEST_F(DialogTest, HandOffGetsTheWindowAndFeedsTheProgressBar) {
    checker.check = {3, 0};
    Dialog& d = Run(QC);
    EXPECT_EQ(checker.mHandOffWindow, &d);
    d.OnBtnClickedNowButton();
    EXPECT_EQ(view.progress, 25);
}

TEST_F(DialogTest, InstallAndReplaceRestartsAsStub) {
    struct Case { uint32_t startError; bool debug; int end; Sent sent; int32_t state; };
    const Case cases[] = {
        {0, false, 0, {u"offer 2 Sample 5.1.0 major 6", u"status 8 id 0"}, PLEASE_CONTACT_SUPPORT},
        {0, true, 0, {u"offer 2 Sample 5.1.0 major 6", u"status 8 id 0"}, PLEASE_CONTACT_SUPPORT},
        // A restart that failed shows the dialog again and is not reported as handed over.
        {2, false, kNone, {u"offer 2 Sample 5.1.0 major 6"}, PLEASE_CONTACT_SUPPORT},
    };
    info.DisplayName = u"Sample \"Q\"";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.startError);
        fake::ClearLog(fp);
        fp.registry = fake::FakeRegistry();
        if (c.debug) fp.registry.SetDword(plat::Hive::CurrentUser, kSettingsKey, u"Debug", 1);
        fp.processes.starts.clear();
        fp.processes.startError = c.startError;
        fp.system.boxes.clear();
        view = RecordingView();
        reports.sent.clear();
        checker.check = {16, 0};
        Dialog& d = Run(QC);
        ASSERT_EQ(d.mDialogState, UPGRADE_OFFER);
        view.controls[radInstallNowMajorUpgradePopup].checked = true;
        d.OnCommand(radInstallNowMajorUpgradePopup);
        DialogVisible.store(0);
        d.OnCommand(CONTINUE_BUTTON);
        ASSERT_EQ(fp.processes.starts.size(), 1u);
        const auto& start = fp.processes.starts[0];
        EXPECT_FALSE(start.shell);
        EXPECT_EQ(start.program, fp.system.modulePath);
        EXPECT_EQ(start.commandLine, u"\"" + fp.system.modulePath +
                                         u"\" -IsStubExe -ProgramName \"Sample\" -DisplayName \"Sample \"Q\"\" "
                                         u"-Language 1033 -ProgramVersion \"6.0.0\" -ForceUpdate");
        EXPECT_EQ(EndCode(), c.end);
        EXPECT_EQ(reports.sent, c.sent);
        EXPECT_EQ(d.mDialogState, c.state);
        EXPECT_EQ(view.shownOnTop, c.startError ? 1 : 0);
        EXPECT_EQ(DialogVisible.load(), c.startError ? 1 : 0);
        EXPECT_EQ(fp.system.boxes.size(), c.debug ? 1u : 0u);
        if (c.debug) {
            EXPECT_EQ(fp.system.boxes[0].text, u"BRUptideWorkerStub starting ...");
            EXPECT_EQ(fp.system.boxes[0].caption, u"Debug");
        }
        EXPECT_TRUE(Log(u"INF Dialog::OnTimer: PLEASE_CONTACT_SUPPORT"));
        dialog.reset();
    }
}
