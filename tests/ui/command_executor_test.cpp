#include "app/ui/command_executor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using app::Action;
using app::Operation;

// Records every hook call by name, in order.
class Recorder {
public:
    Recorder() {
        const auto note = [this](const char* name) { return [this, name] { calls.push_back(name); }; };
        viewHooks.repaint = note("repaint");
        viewHooks.showMessage = [this](const std::string& text, uint32_t ms) {
            calls.push_back("message " + text + " " + std::to_string(ms));
        };
        viewHooks.updateWindowTitle = note("title");
        viewHooks.requestLoad = note("requestLoad");
        viewHooks.wakePrefetch = note("wakePrefetch");
        viewHooks.startBatch = note("startBatch");
        viewHooks.selectWebtoonWidth = [this](uint32_t width) {
            calls.push_back("window " + std::to_string(width));
        };
        viewHooks.publishCurrentIndex = [this](int32_t index) {
            calls.push_back("index " + std::to_string(index));
        };
        hooks.setNavigationDirection = [this](int32_t d) {
            calls.push_back("direction " + std::to_string(d));
        };
        hooks.setStripScroll = [this](float scroll) {
            calls.push_back("scroll " + std::to_string(int(scroll)));
        };
        hooks.updateStripIndex = note("updateStripIndex");
        hooks.setStripStartToCurrent = note("stripStart");
        hooks.prepareBatchDocument = note("prepareBatch");
        hooks.preparePageDocument = note("preparePage");
        hooks.closeBatchDocument = note("closeBatch");
        hooks.cancelBatch = note("cancelBatch");
        hooks.clearStrip = note("clearStrip");
        hooks.saveTitleBarPinned = [this](bool pinned) { calls.push_back(pinned ? "pin" : "unpin"); };
        hooks.sortCommand = [this](uint32_t mode) { calls.push_back("sort " + std::to_string(mode)); };
    }

    std::vector<std::string> Run(const Action& action) {
        calls.clear();
        app::ExecuteAction(action, app::CommandTargets{state, layout, titleBarPinned, viewHooks, hooks});
        return calls;
    }

    view::ViewState state;
    view::LayoutState layout;
    bool titleBarPinned = false;
    view::ViewHooks viewHooks;
    app::CommandHooks hooks;
    std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

TEST(ExecuteAction, StripSequencesRunInOrder) {
    Recorder recorder;
    recorder.state.imageFilter = 2;
    EXPECT_EQ(recorder.Run(app::ActionForCommand(10011)),
              (Calls{"stripStart", "prepareBatch", "window 640", "startBatch", "title", "repaint"}));
    EXPECT_TRUE(recorder.layout.webtoonMode);
    EXPECT_EQ(recorder.layout.webtoonWidth, 640u);
    EXPECT_EQ(recorder.Run(app::ActionForCommand(10010)),
              (Calls{"stripStart", "prepareBatch", "startBatch", "title", "repaint"}))
        << "the full width places no window";

    // W from the strip tears it down; W again starts it and ends dual view.
    app::KeyInput w;
    w.key = app::keys::Letter('W');
    app::KeyContext context;
    context.webtoonMode = true;
    EXPECT_EQ(recorder.Run(app::ActionForKey(w, context)),
              (Calls{"updateStripIndex", "cancelBatch", "closeBatch", "clearStrip", "requestLoad", "repaint",
                     "message 일반 모드 (1장씩 보기) 1000"}));
    EXPECT_FALSE(recorder.layout.webtoonMode);
    recorder.layout.dualView = true;
    context.webtoonMode = false;
    EXPECT_EQ(recorder.Run(app::ActionForKey(w, context)),
              (Calls{"prepareBatch", "stripStart", "startBatch", "title", "repaint",
                     "message 이어 보기 (웹툰 모드) 1000"}));
    EXPECT_TRUE(recorder.layout.webtoonMode);
    EXPECT_FALSE(recorder.layout.dualView);

    // A view-mode command from the strip: full teardown, then the single image at fit mode 2.
    EXPECT_EQ(recorder.Run(app::ActionForCommand(10002)),
              (Calls{"updateStripIndex", "cancelBatch", "preparePage", "closeBatch", "clearStrip",
                     "requestLoad", "repaint"}));
    EXPECT_EQ(recorder.state.fitMode, view::FitMode::FitAlways);
    EXPECT_FALSE(recorder.layout.webtoonMode);

    // Key 3 from the strip leaves the batch alone and keeps the pan.
    recorder.layout.webtoonMode = true;
    recorder.state.panX = 12;
    app::KeyInput three;
    three.key = app::keys::Digit(3);
    EXPECT_EQ(recorder.Run(app::ActionForKey(three, {})),
              (Calls{"updateStripIndex", "requestLoad", "repaint"}));
    EXPECT_EQ(recorder.state.fitMode, view::FitMode::ActualSize);
    EXPECT_FLOAT_EQ(recorder.state.panX, 12);
    EXPECT_EQ(recorder.state.imageFilter, 2);

    Action scroll;
    scroll.operation = Operation::StripScroll;
    scroll.amount = 4400;
    scroll.index = 11;
    EXPECT_EQ(recorder.Run(scroll),
              (Calls{"scroll 4400", "index 11", "updateStripIndex", "title", "repaint"}));
}

TEST(ExecuteAction, WidthPinFitAndPageTurnsChangeStateAndAskTheWindow) {
    Recorder recorder;
    recorder.layout.webtoonMode = true;
    recorder.layout.webtoonWidth = 0;
    app::KeyContext strip;
    strip.webtoonMode = true;
    app::KeyInput minus;
    minus.key = app::keys::kMinus;
    EXPECT_EQ(recorder.Run(app::ActionForKey(minus, strip)),
              (Calls{"window 800", "repaint", "message 가로폭: 800 800"}));
    EXPECT_EQ(recorder.layout.webtoonWidth, 800u);

    app::KeyInput grave;
    grave.key = app::keys::kGrave;
    EXPECT_EQ(recorder.Run(app::ActionForKey(grave, {})), (Calls{"pin", "repaint"}));
    EXPECT_TRUE(recorder.titleBarPinned);
    EXPECT_EQ(recorder.Run(app::ActionForKey(grave, {})), (Calls{"unpin", "repaint"}));

    recorder.state.fitMode = view::FitMode::ActualSize;
    recorder.state.zoom = 3;
    recorder.state.panY = -40;
    recorder.state.rotation = 90;
    Action escape;
    escape.operation = Operation::ResetFit;
    EXPECT_EQ(recorder.Run(escape), (Calls{"repaint"}));
    EXPECT_EQ(recorder.state.fitMode, view::FitMode::FitShrinkOnly);
    EXPECT_FLOAT_EQ(recorder.state.zoom, 1);
    EXPECT_FLOAT_EQ(recorder.state.panY, 0);
    EXPECT_FLOAT_EQ(recorder.state.rotation, 90) << "Esc keeps the rotation";

    app::KeyContext pdf;
    pdf.pdfPageMode = true;
    pdf.pdfPageCount = 10;
    pdf.currentIndex = 4;
    app::KeyInput right;
    right.key = app::keys::kRight;
    EXPECT_EQ(recorder.Run(app::ActionForKey(right, pdf)),
              (Calls{"index 5", "direction 1", "requestLoad", "wakePrefetch", "title",
                     "message 6 / 10 페이지 800"}));

    app::KeyInput r;
    r.key = app::keys::Letter('R');
    app::KeyContext turned;
    turned.rotation = recorder.state.rotation = 355;
    recorder.Run(app::ActionForKey(r, turned));
    EXPECT_FLOAT_EQ(recorder.state.rotation, 0);
    recorder.state.rotation = 355;
    recorder.Run(app::ActionForCommand(40008));
    EXPECT_FLOAT_EQ(recorder.state.rotation, 85);

    EXPECT_EQ(recorder.Run(app::ActionForCommand(10031)), (Calls{"sort 1"}));
    EXPECT_EQ(recorder.Run(app::ActionForCommand(12345)), Calls{});

    // Without any hooks every operation still runs.
    view::ViewState state;
    view::LayoutState layout;
    bool pinned = false;
    const view::ViewHooks noViewHooks;
    const app::CommandHooks noHooks;
    for (int32_t id = 10001; id <= 40099; ++id) {
        if (app::ToCommandId(id)) {
            app::ExecuteAction(app::ActionForCommand(id), {state, layout, pinned, noViewHooks, noHooks});
        }
    }
    EXPECT_FALSE(layout.webtoonMode);
}

} // namespace
